// options.h - the command line of tdftogif: option settings, the per-kind
// defaults, the usage text and the one failure-line writer.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tdf {

// Limits of the option values: at most 245 data colours (the palette holds
// them plus 11 fixed entries, 256 in all); at most 28 decimal places, so that
// a tick label of width places + 3 fits the 31 characters of a label.
inline constexpr int max_colours = 245;
inline constexpr int max_decimals = 28;

struct rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
};

// What values below min are painted in.
enum class under_rule {
    bad,     // the bad colour (the default)
    lowest,  // the lowest data colour, as values above max take the highest
    colour,  // a colour of their own
};

struct cmd_options {
    std::array<rgb, 8> plane_colour{};   // graphics planes 1 to 8
    std::uint8_t fixed_planes = 0;       // bit p - 1: plane p in its fixed colour
    std::uint8_t dynamic_planes = 0;     // bit p - 1: plane p black or white
    int colours = 245;                   // number of data colours, 1 to 245
    rgb bad_colour{};                    // colour of missing data
    float min = 0.0f;
    bool min_given = false;
    float max = 0.0f;
    bool max_given = false;
    int decimals = 1;                    // decimal places of tick labels
    const char* cmap = nullptr;          // colour map name (the argument itself)
    bool cmap_given = false;
    float ticint = 0.0f;                 // tick interval
    bool ticint_given = false;
    bool fahrenheit = false;
    bool invert = false;
    bool stamp = false;
    bool utc = false;
    const char* output = nullptr;        // none: standard output
    const char* input = nullptr;         // the dataset path
    int reduce = 1;                      // --reduce: a pixel shows N x N samples
    int fit = 0;                         // --fit: the raster's largest side (0: none)
    under_rule under = under_rule::bad;  // --under
    rgb under_colour{};
};

// Result of the option stage: either settings to run with, or the exit
// status with which the process must end (the failure line, the usage text,
// the help or the version has already been written).
struct parse_result {
    bool ok = false;
    int status = 0;
};

// Reads the command line into `options`.  On failure writes the failure
// line and/or the usage text and returns the exit status (-1 or -2);
// --help and --version write their text and return status 0.  Never
// exits; the caller ends with the status.
[[nodiscard]] parse_result parse_options(int argc, const char* const* argv, cmd_options& options);

// Fills min, max, tick interval and colour map where not given, from the
// defaults of the kind of data (a TD_KIND_* code, as the library names the
// dataset's kind).  Returns 0, or -5 after reporting "unknown data_id" with
// the data_id text for a kind that has no defaults.
[[nodiscard]] int apply_kind_defaults(cmd_options& options, int kind, const char* data_id);

// Writes the usage text (two pieces, "%s%s") to standard output.
void print_usage();

// Writes the usage text and the section of the long options (--help).
void print_help();

// Writes "tdftogif: NAME: MESSAGE\n" on standard error, always one line:
// control characters and backslashes in either are escaped (failure_line.h).
void report_failure(const char* message, const char* name);

// The printf format of one tick value for a number of decimal places:
// "%4.1f" for 1 (places outside 0 to max_decimals are clamped).
std::string tick_format(int decimals);

} // namespace tdf
