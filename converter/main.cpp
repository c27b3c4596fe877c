// main.cpp - the tdftogif command: the option stage (the conversion itself
// is wired in with the driver).
#include "options.h"

int main(int argc, char** argv)
{
    tdf::cmd_options options;
    const tdf::parse_result parsed = tdf::parse_options(argc, argv, options);
    return parsed.status;
}
