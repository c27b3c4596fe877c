// failure.h - how tdftogif fails: its exit statuses and its one failure
// line.
#pragma once

namespace tdf {

// The exit statuses of tdftogif besides the library's (1 to 51, passed on
// as they are).  Where the system keeps 8 bits, -1 to -8 are seen as 255 to
// 248.  -1 and -2 carry second meanings that callers see rarely: memory for
// a row running out (and, for -1, an unexpected internal failure) ends with
// the status of a usage failure, as it always has, so that scripts which
// test for the statuses keep working.
enum class exit_status : int {
    success = 0,
    no_arguments = -1,       // no arguments at all: the usage text
    no_data_memory = -1,     // no memory for a data row
    internal_error = -1,     // an unexpected failure (an exception) inside the converter
    bad_usage = -2,          // a bad option, or no input name after the options
    no_graphics_memory = -2, // no memory for a graphics row
    bad_extents = -3,        // min not below max, or not finite
    output_failed = -4,      // the output not created or written, or it is the input
    unknown_data_id = -5,
    unknown_colour_map = -6,
    no_ticks = -7, // no usable ticks for min, max and the interval
    no_image = -8, // gd could not create the image
};

// The status as the process ends with it.
[[nodiscard]] constexpr int code(exit_status status) noexcept
{
    return static_cast<int>(status);
}

// Writes "tdftogif: NAME: MESSAGE\n" on standard error, always one line:
// control characters and backslashes in either are escaped (failure_line.h).
void report_failure(const char* message, const char* name);

} // namespace tdf
