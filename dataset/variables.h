// variables.h - block reads of the data and graphics variables, and what
// they share with the writes (variable_writes.cpp).
#pragma once

#include <cstdint>

#include "storage.h"

namespace td {

// Whether the block (start, count) lies inside the image.  The last index
// of a dimension is start + count - 1, counted in 64 bits so that no start
// or count wraps around into the image, and a zero or negative dimension
// refuses every block.  An empty count is refused where its last index
// falls before the image (start 0), as the 32-bit unsigned form of the test
// always did; an empty block further in is accepted and holds nothing.
[[nodiscard]] bool block_in_bounds(const Dataset& ds, const Index2& start, const Index2& count) noexcept;

// The storage checks every access to a variable makes first: a visible or
// infrared dataset's compression_type (31 unreadable, 47 unknown) and, for
// a compressed one not yet read, the walk of its whole stream that builds
// the row index (32, 46, 48).
[[nodiscard]] int check_storage(Dataset& ds);

// Reads the block (start, count) of variable `varid` of dataset `id` into
// `out` (count[0] x count[1] values of `value_type`, TD_BYTE or TD_FLOAT,
// row-major).  The first read of a compressed dataset checks its whole
// stream and indexes its rows; every read then decodes its rows in place.
// Returns 0 or an error status; nothing in `out` is defined after a failure.
[[nodiscard]] int varget_id(int id, int varid, const Index2& start, const Index2& count, void* out,
                            int value_type) noexcept;

} // namespace td
