// main.cpp - the tdftogif command: the option stage, then one conversion.
#include <exception>

#include "command_line.h"
#include "driver.h"
#include "failure.h"

int main(int argc, char** argv)
{
    tdf::cmd_options options;
    try {
        const tdf::parse_result parsed = tdf::parse_options(argc, argv, options);
        if (!parsed.ok)
            return parsed.status;
        return tdf::convert(options);
    } catch (...) {
        // Nothing is expected to throw; an allocation failure inside gd's
        // C++ neighbours or the tick builder is the one plausible case.
        tdf::report_failure("internal error", options.input ? options.input : "tdftogif");
        return tdf::code(tdf::exit_status::internal_error);
    }
}
