// failure_line.h - the one-line failure message of both commands
// ("tdftogif: NAME: MESSAGE", "tdfinfo: NAME: MESSAGE").
//
// A name comes from the command line or a file (a path, a data_id text) and
// may hold any byte.  So that a failure is always exactly one line, control
// characters are written escaped: newline as \n, tab as \t, carriage return
// as \r, every other byte below 0x20 and 0x7F as \x and two lower-case hex
// digits.  A backslash is written doubled (\\), so every escaped line reads
// back to exactly one name.  Other bytes (UTF-8 text among them) are
// written as they are.
#pragma once

#include <string>
#include <string_view>

namespace tdf {

// The text with its control characters and backslashes escaped.
[[nodiscard]] std::string escape_line(std::string_view text);

// Writes "PROGRAM: NAME: MESSAGE\n" on standard error, NAME and MESSAGE
// escaped; an absent name or message is written empty.
void write_failure_line(const char* program, const char* name, const char* message);

} // namespace tdf
