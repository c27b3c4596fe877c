// header_cases.h - one table of dataset headers and what the library says
// they mean: the kind of data, the storage form, the units, the orbit start
// time and the latitude/longitude grid.  The library's tests check its
// answers against the table; the GDAL plugin's and the Python package's
// tests check that what they show equals the library's answers for the
// same files (written with the library's answers by header_case_files).
#pragma once

#include <string>
#include <vector>

#include "dataset_writer.h"

namespace tdcases {

struct HeaderCase {
    std::string name;
    tdw::DatasetDescription desc;
    const char* kind;    // td_kindinq's name
    const char* storage; // td_storageinq's name
    const char* units;   // td_unitsinq's three texts
    const char* long_name;
    const char* label;
    const char* time; // td_timeinq's text; nullptr: no time (TD_EBADATTVAL)
    int grid;         // TD_GRID_*
};

// Every case; the names are unique and make file names.
const std::vector<HeaderCase>& header_cases();

} // namespace tdcases
