// variables.h - block reads of the data and graphics variables.
#pragma once

#include <cstdint>

#include "storage.h"

namespace td {

// Reads the block (start, count) of variable `varid` of dataset `id` into
// `out` (count[0] x count[1] values of `value_type`, TD_BYTE or TD_FLOAT,
// row-major).  The first read of a compressed dataset checks its whole
// stream and indexes its rows; every read then decodes its rows in place.
// Returns 0 or an error status; nothing in `out` is defined after a failure.
[[nodiscard]] int td_varget(int id, int varid, const Index2& start, const Index2& count, void* out,
                            int value_type) noexcept;

} // namespace td
