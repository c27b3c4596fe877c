// failure_line.cpp - failure lines that stay one line.
#include "failure_line.h"

#include <cstdio>

namespace tdf {

std::string escape_line(std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 0x0F];
            } else {
                out += ch;
            }
        }
    }
    return out;
}

void write_failure_line(const char* program, const char* name, const char* message)
{
    const std::string line = std::string(program) + ": " + escape_line(name ? name : "") + ": " +
                             escape_line(message ? message : "") + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

} // namespace tdf
