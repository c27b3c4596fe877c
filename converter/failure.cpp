// failure.cpp - tdftogif's failure line.
#include "failure.h"

#include "failure_line.h"

namespace tdf {

void report_failure(const char* message, const char* name)
{
    write_failure_line("tdftogif", name, message);
}

} // namespace tdf
