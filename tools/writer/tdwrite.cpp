// tdwrite.cpp - writes one Tidewell dataset from a description given on the
// command line, with the project's dataset writer.  Tests in other languages
// (the Python package's) describe their datasets through it.
//
//   tdwrite OUTPUT [--kind visible|infrared|ancillary|cloud|CODE]
//           [--rows N] [--columns N] [--compressed]
//           [--values FILE] [--nibbles FILE] [--truncate BYTES]
//           [FIELD=VALUE ...]
//
// --rows and --columns give the layout of the data area (default 4 x 4);
// FIELD=VALUE sets a header field after the defaults (an attribute name,
// "rows", "columns" or "reserved@N"), so a header may claim other
// dimensions than the data area holds.  VALUE is a decimal or 0x
// hexadecimal 16-bit number, -32768 to 65535.  --values names a file of
// rows x columns native 32-bit integers, row-major: the data values as the
// writer takes them (signed data values of visible and infrared samples,
// stored 16-bit ancillary values, cloud bytes); --nibbles a file of
// rows x columns bytes, the graphics nibbles.  Both default to 0.
// --truncate keeps only the first BYTES bytes of the file.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dataset_writer.h"

namespace {

long parse_number(std::string_view text, long low, long high)
{
    int base = 10;
    std::string_view digits = text;
    bool negative = false;
    if (digits.starts_with('-')) {
        negative = true;
        digits.remove_prefix(1);
    }
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        base = 16;
        digits.remove_prefix(2);
    }
    long value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
        throw std::invalid_argument("not a number: " + std::string(text));
    if (negative)
        value = -value;
    if (value < low || value > high)
        throw std::invalid_argument("out of range: " + std::string(text));
    return value;
}

std::int16_t word(std::string_view text)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(parse_number(text, -32768, 65535)));
}

std::int16_t kind_code(std::string_view text)
{
    if (text == "visible")
        return tdw::kVisible;
    if (text == "infrared")
        return tdw::kInfrared;
    if (text == "ancillary")
        return tdw::kAncillary;
    if (text == "cloud")
        return tdw::kCloud;
    return word(text);
}

std::vector<char> read_file(const std::string& path, std::size_t expected)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != expected)
        throw std::runtime_error(path + ": " + std::to_string(bytes.size()) + " bytes, expected " +
                                 std::to_string(expected));
    return bytes;
}

// A rows x columns table of values read from a file of `Cell`s.
template <typename Cell>
std::function<int(int, int)> table(const std::string& path, int rows, int columns)
{
    const std::size_t cells =
        static_cast<std::size_t>(rows > 0 ? rows : 0) * static_cast<std::size_t>(columns > 0 ? columns : 0);
    const std::vector<char> bytes = read_file(path, cells * sizeof(Cell));
    std::vector<int> values(cells);
    for (std::size_t i = 0; i < cells; ++i) {
        Cell cell;
        std::memcpy(&cell, bytes.data() + i * sizeof(Cell), sizeof(Cell));
        values[i] = static_cast<int>(cell);
    }
    return [values = std::move(values), columns](int r, int c) {
        return values[static_cast<std::size_t>(r) * static_cast<std::size_t>(columns) +
                      static_cast<std::size_t>(c)];
    };
}

int run(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-') {
        std::fputs(
            "usage: tdwrite OUTPUT [--kind K] [--rows N] [--columns N] [--compressed]\n"
            "               [--values FILE] [--nibbles FILE] [--truncate BYTES] [FIELD=VALUE ...]\n",
            stderr);
        return 2;
    }
    const std::string output = argv[1];
    tdw::DatasetDescription desc;
    std::string values;
    std::string nibbles;
    long truncate = -1;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto next = [&]() -> std::string_view {
            if (i + 1 >= argc)
                throw std::invalid_argument("missing value after " + std::string(arg));
            return argv[++i];
        };
        if (arg == "--kind") {
            desc.data_id = kind_code(next());
        } else if (arg == "--rows") {
            desc.rows = static_cast<std::int16_t>(parse_number(next(), 0, 32767));
        } else if (arg == "--columns") {
            desc.columns = static_cast<std::int16_t>(parse_number(next(), 0, 32767));
        } else if (arg == "--compressed") {
            desc.compressed = true;
        } else if (arg == "--values") {
            values = next();
        } else if (arg == "--nibbles") {
            nibbles = next();
        } else if (arg == "--truncate") {
            truncate = parse_number(next(), 0, std::numeric_limits<long>::max());
        } else if (const auto eq = arg.find('='); eq != std::string_view::npos && !arg.starts_with('-')) {
            const std::string name(arg.substr(0, eq));
            tdw::field_offset(name); // throws for an unknown name
            desc.fields[name] = word(arg.substr(eq + 1));
        } else {
            throw std::invalid_argument("unknown argument: " + std::string(arg));
        }
    }
    if (!values.empty())
        desc.value = table<std::int32_t>(values, desc.rows, desc.columns);
    if (!nibbles.empty())
        desc.nibble = table<std::uint8_t>(nibbles, desc.rows, desc.columns);
    if (truncate >= 0)
        tdw::write_bytes(output, tdw::build_truncated(desc, static_cast<std::size_t>(truncate)));
    else
        tdw::write_dataset(output, desc);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tdwrite: %s\n", e.what());
        return 1;
    }
}
