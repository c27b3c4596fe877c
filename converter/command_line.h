// command_line.h - the command line of tdftogif: the options read into the
// settings, the usage text and the help.
#pragma once

#include "cmd_options.h"

namespace tdf {

// Result of the option stage: either settings to run with, or the exit
// status with which the process must end (the failure line, the usage text,
// the help or the version has already been written).
struct parse_result {
    bool ok = false;
    int status = 0;
};

// Reads the command line into `options`.  On failure writes the failure
// line and/or the usage text and returns the exit status (-1, no arguments,
// or -2, a bad usage); --help and --version write their text and return
// status 0 (-4 when standard output cannot take it).  Never exits; the
// caller ends with the status.
[[nodiscard]] parse_result parse_options(int argc, const char* const* argv, cmd_options& options);

// Writes the usage text (two pieces, "%s%s") to standard output.
void print_usage();

// Writes the usage text and the section of the long options (--help).
void print_help();

} // namespace tdf
