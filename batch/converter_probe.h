// converter_probe.h - the tdftogif that tdfbatch runs: where it is, which
// version it is, and whether it can make reduced quicklooks (--fit).
#pragma once

#include <string>

namespace tdb {

struct Converter {
    std::string path;    // the executable
    std::string version; // "tdftogif 1.1.0", or "build " and a hash of the executable's bytes
    bool fits = false;   // tdftogif --help names --fit
};

// The converter named by `given` (a path, or a name looked up on PATH), or
// when empty the tdftogif installed beside tdfbatch, else the one on PATH.
// Returns 0 or an errno value (ENOENT: none found).
[[nodiscard]] int find_converter(const std::string& given, Converter& converter);

} // namespace tdb
