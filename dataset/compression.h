// compression.h - moving a visible or infrared dataset between its
// compressed file form and its expanded temporary copy, and preparing the
// data area of a dataset that leaves define mode.
#pragma once

#include <span>

#include "registry.h"
#include "storage.h"

namespace td {

// Expands the compressed dataset into an anonymous temporary copy that
// becomes its current stream: the library's own write paths only (reads
// decode the compressed stream in place, through the row index).  On
// failure the dataset stays compressed.  td_decompress finds the dataset by
// its id and holds its lock, as every td_ call does.
[[nodiscard]] int decompress(Dataset& ds);
[[nodiscard]] int td_decompress(int id);

// Writes the expanded temporary copy back into the dataset file in the
// compressed form; the new file becomes the current stream.
[[nodiscard]] int compress(Dataset& ds);

// The data-area initialisation of td_enddef.
[[nodiscard]] int init_data_area(Dataset& ds);

// The library's own write of stored samples (host order, as td_write_block
// takes them) into an open dataset, which marks it changed: a plain
// dataset's file is written directly, a compressed one's temporary copy
// (expanded first), which td_close then writes back.  Returns 0, 6 for an
// id that names no open dataset, 41 for a dataset opened read-only, 19 in
// define mode, 17 for a block outside the image, or a status of the
// expansion or the write.
[[nodiscard]] int write_samples(int id, std::span<const std::byte> src, const Index2& start,
                                const Index2& count);

} // namespace td
