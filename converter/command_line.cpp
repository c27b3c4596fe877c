// command_line.cpp - the option stage of tdftogif: the options, their
// values and checks, the usage text and the help.
#include "command_line.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "arithmetic.h"
#include "block_reduce.h"
#include "failure.h"
#include "version.h"

namespace tdf {

namespace {

// The usage text, written as two pieces that together form one text.
constexpr const char* usage_first =
    "usage: tdftogif [-# r,g,b | -# dyn] [-c colors] [-b r,g,b] [-l min] [-h max]\n"
    "       [-p fdig] [-m cmap] [-t ticint] [-f] [-i] [-s [-u]] [-o output] input\n"
    "where: -# r,g,b         Specifies the RGB values for graphics plane #\n"
    "                        (# = 1,2,3,4).\n"
    "       -# dyn           Specifies that graphics plane # should be dynamic,\n"
    "                        ie: light on dark, dark on light.\n"
    "       -c colors        Changes the default number of colors in the\n"
    "                        palette (245).\n"
    "       -b r,g,b         Changes the RGB for bad data values (0,0,0).\n"
    "       -l min           Changes the default minimum data value:\n"
    "                           infrared = 4\n"
    "                            visible = 0\n"
    "                              angle = 0\n"
    "                          scan time = 0\n"
    "                              cloud = 0\n"
    "       -h max           Changes the default maximum data value:\n"
    "                           infrared = 30\n"
    "                            visible = 20\n"
    "                              angle = 90\n"
    "                          scan time = 24\n"
    "                              cloud = 255\n";

constexpr const char* usage_second =
    "       -d dec           Changes the default number of decimal places for tick\n"
    "                        values (1).\n"
    "       -m cmap          Changes the default color map:\n"
    "                           infrared = hsl256\n"
    "                            visible = black-white\n"
    "                              angle = black-white\n"
    "                          scan time = black-white\n"
    "                              cloud = hsl256\n"
    "                        Selections include:\n"
    "                          black-white\n"
    "                          hsl256\n"
    "                          prism\n"
    "       -t ticint        Changes the default scale tick interval:\n"
    "                           infrared = 2\n"
    "                            visible = 2\n"
    "                              angle = 5\n"
    "                          scan time = 2\n"
    "                              cloud = 16\n"
    "       -f               Changes the plot to work in Fahrenheit, default is\n"
    "                        Celsius.\n"
    "       -i               Inverts the default background and foreground colors\n"
    "                        (black, white).\n"
    "       -s               Places a satellite time stamp on the image, default\n"
    "                        is no stamp.\n"
    "       -u               Formats the satellite time stamp in UTC, default is\n"
    "                        the local system time zone.\n"
    "       -o output        Specifies an output file name, default is write\n"
    "                        to standard output.\n"
    "       input            The Tidewell dataset to read.\n";

// The options that the usage text above does not show, shown by --help
// after it.
constexpr const char* help_section =
    "Further options:\n"
    "       --reduce N       Shrinks the data raster N times in each direction\n"
    "                        (N = 1 to 64): a pixel shows the mean of the valid\n"
    "                        samples of its N x N block, and every graphics plane\n"
    "                        that a sample of the block carries.\n"
    "       --fit pixels     Shrinks the data raster by the smallest N that makes\n"
    "                        it at most pixels wide and high.\n"
    "       --under r,g,b    Changes the RGB for data values below min, which\n"
    "                        otherwise take the bad data color; --under lowest\n"
    "                        gives them the lowest data color.\n"
    "       --help           Writes this text to standard output.\n"
    "       --version        Writes the version of tdftogif.\n"
    "       -m cmap          Also accepts hsl256_tek, meridia, and the perceptual\n"
    "                        color maps viridis and cividis, which people with\n"
    "                        red-green color blindness read as well as others.\n";

// Reads a decimal integer the way atoi does (leading white space, optional
// sign, longest run of digits, 0 when there are none), but saturating at the
// limits of int so that an overlong value cannot wrap into an accepted one.
int read_int(const char* text, const char** end = nullptr) noexcept
{
    char* stop = nullptr;
    const int saved = errno;
    const long value = std::strtol(text, &stop, 10);
    errno = saved;
    if (end)
        *end = stop;
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// Reads a floating-point number as atof does, held as a 32-bit float.
float read_float(const char* text) noexcept
{
    char* stop = nullptr;
    const int saved = errno;
    const double value = std::strtod(text, &stop);
    errno = saved;
    return static_cast<float>(value);
}

// Reads "r,g,b" as "%d,%d,%d" would: stops at the first mismatch, and a
// component that was not read keeps its earlier value.
void read_rgb(const char* text, rgb& colour) noexcept
{
    std::array<int*, 3> component{&colour.red, &colour.green, &colour.blue};
    const char* cursor = text;
    for (std::size_t i = 0; i < component.size(); ++i) {
        const char* end = nullptr;
        const int value = read_int(cursor, &end);
        if (end == cursor)
            return; // no digits: matching failure
        *component[i] = value;
        cursor = end;
        if (i + 1 < component.size()) {
            if (*cursor != ',')
                return;
            ++cursor;
        }
    }
}

// Reads a whole argument as a decimal integer from `low` to `high`; the
// options that --help shows are read strictly.
bool read_strict(std::string_view text, int low, int high, int& value) noexcept
{
    int v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (error != std::errc{} || end != text.data() + text.size() || v < low || v > high)
        return false;
    value = v;
    return true;
}

// --under: "bad", "lowest", or three components 0 to 255 as r,g,b.
bool read_under(std::string_view text, cmd_options& options) noexcept
{
    if (text == "bad" || text == "lowest") {
        options.under = text == "bad" ? under_rule::bad : under_rule::lowest;
        return true;
    }
    std::array<int, 3> c{};
    for (std::size_t i = 0; i < c.size(); ++i) {
        const std::size_t comma = i + 1 < c.size() ? text.find(',') : text.size();
        if (comma == std::string_view::npos || !read_strict(text.substr(0, comma), 0, 255, c[i]))
            return false;
        text.remove_prefix(std::min(text.size(), comma + 1));
    }
    options.under = under_rule::colour;
    options.under_colour = {c[0], c[1], c[2]};
    return true;
}

enum class option_kind { invalid, flag, valued };

// What the letter after "-" is; a lone "-" (letter '\0') is invalid.
constexpr option_kind kind_of(char letter) noexcept
{
    constexpr std::string_view valued = "1234bcdhlmot";
    constexpr std::string_view flags = "fisu";
    if (letter == '\0')
        return option_kind::invalid;
    if (valued.find(letter) != std::string_view::npos)
        return option_kind::valued;
    if (flags.find(letter) != std::string_view::npos)
        return option_kind::flag;
    return option_kind::invalid;
}

parse_result usage_failure(exit_status status)
{
    print_usage();
    return {false, code(status)};
}

parse_result check_failure(const char* value, const char* message)
{
    report_failure(message, value);
    return {false, code(exit_status::bad_usage)};
}

// One option beginning with "--", its value either after "=" or the next
// argument.  `consumed` becomes the number of arguments it took; a result
// with ok set means the option stage goes on.
parse_result long_option(int argc, const char* const* argv, int cursor, cmd_options& options, int& consumed)
{
    const char* argument = argv[cursor];
    const std::string_view whole = argument + 2;
    const std::size_t eq = whole.find('=');
    const std::string_view name = whole.substr(0, eq);
    const bool inline_value = eq != std::string_view::npos;
    const bool takes_value = name == "reduce" || name == "fit" || name == "under";
    if (!takes_value && !inline_value && (name == "help" || name == "version")) {
        if (name == "help")
            print_help();
        else
            std::printf("tdftogif %s\n", TDF_VERSION);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            report_failure("can't write output file", "standard output");
            return {false, code(exit_status::output_failed)};
        }
        return {false, code(exit_status::success)};
    }
    if (!takes_value) {
        report_failure("invalid option", argument);
        return usage_failure(exit_status::bad_usage);
    }
    if (!inline_value && cursor + 1 >= argc)
        return usage_failure(exit_status::bad_usage); // the value is missing at the end
    const char* value = inline_value ? argument + 3 + eq : argv[cursor + 1];
    consumed = inline_value ? 1 : 2;
    // --reduce and --fit are two ways to the one factor: the last one counts.
    if (name == "reduce") {
        if (!read_strict(value, 1, max_reduce, options.reduce))
            return check_failure(value, "invalid reduction factor");
        options.fit = 0;
    } else if (name == "fit") {
        if (!read_strict(value, 1, INT_MAX, options.fit))
            return check_failure(value, "invalid fit size");
        options.reduce = 1;
    } else if (!read_under(value, options)) {
        return check_failure(value, "invalid under color");
    }
    return {true, 0};
}

} // namespace

parse_result parse_options(int argc, const char* const* argv, cmd_options& options)
{
    int remaining = argc - 1;
    if (remaining < 1)
        return usage_failure(exit_status::no_arguments);

    int cursor = 1;
    while (argv[cursor][0] == '-') {
        const char* argument = argv[cursor];
        const char letter = argument[1];
        if (letter == '-' && argument[2] != '\0') {
            int consumed = 1;
            if (const parse_result r = long_option(argc, argv, cursor, options, consumed); !r.ok)
                return r;
            cursor += consumed;
            remaining -= consumed;
            if (remaining < 1)
                return usage_failure(exit_status::bad_usage); // no input name after the options
            continue;
        }
        const option_kind kind = kind_of(letter);
        if (kind == option_kind::invalid) {
            report_failure("invalid option", argument);
            return usage_failure(exit_status::bad_usage);
        }
        const bool takes_value = kind == option_kind::valued;
        if (takes_value && remaining < 2)
            return usage_failure(exit_status::bad_usage); // the value is missing at the end
        const char* value = takes_value ? argv[cursor + 1] : nullptr;

        switch (letter) {
        case '1':
        case '2':
        case '3':
        case '4': {
            const int plane = letter - '1';
            const auto bit = static_cast<std::uint8_t>(1u << plane);
            if (std::strcmp(value, "dyn") == 0) {
                options.dynamic_planes |= bit;
            } else {
                read_rgb(value, options.plane_colour[static_cast<std::size_t>(plane)]);
                options.fixed_planes |= bit;
            }
            break;
        }
        case 'b':
            read_rgb(value, options.bad_colour);
            break;
        case 'c':
            options.colours = read_int(value);
            if (options.colours < 1 || options.colours > max_colours)
                return check_failure(value, "invalid number of colors");
            break;
        case 'd':
            options.decimals = read_int(value);
            if (options.decimals < 0 || options.decimals > max_decimals)
                return check_failure(value, "invalid number of decimal places");
            break;
        case 'f':
            options.fahrenheit = true;
            break;
        case 'h':
            options.max = read_float(value);
            options.max_given = true;
            break;
        case 'i':
            options.invert = true;
            break;
        case 'l':
            options.min = read_float(value);
            options.min_given = true;
            break;
        case 'm':
            options.cmap = value;
            options.cmap_given = true;
            break;
        case 'o':
            options.output = value;
            break;
        case 's':
            options.stamp = true;
            break;
        case 't':
            options.ticint = read_float(value);
            options.ticint_given = true;
            if (!(options.ticint > 0.0f))
                return check_failure(value, "invalid tick interval");
            break;
        case 'u':
            options.utc = true;
            break;
        default:
            break;
        }

        const int consumed = takes_value ? 2 : 1;
        cursor += consumed;
        remaining -= consumed;
        if (remaining < 1)
            return usage_failure(exit_status::bad_usage); // no input name after the options
    }

    options.input = argv[cursor];
    return {true, 0};
}

void print_usage()
{
    std::printf("%s%s", usage_first, usage_second);
}

void print_help()
{
    print_usage();
    std::printf("%s", help_section);
}

} // namespace tdf
