// no_file_check.cpp - the converter without the library's check that a
// dataset's file has not changed under it: linked only into the
// benchmark's tdftogif_nocheck, which is the converter built from the same
// objects with the linker's --wrap on td::check_unchanged, so that make
// bench can put a figure on what the check costs.  The product build has
// the check on every read.
#include "registry.h"

// td::check_unchanged(td::Dataset&) by its mangled name, as --wrap wants it.
extern "C" int __wrap__ZN2td15check_unchangedERNS_7DatasetE(td::Dataset&) noexcept
{
    return 0;
}
