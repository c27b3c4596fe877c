// compression.h - moving a visible or infrared dataset between its
// compressed file form and its expanded temporary copy, the working copy
// that writes change and its write-back on close, and preparing the data
// area of a dataset that leaves define mode.
#pragma once

#include <span>

#include "registry.h"
#include "storage.h"

namespace td {

// Expands the compressed dataset into an anonymous temporary copy that
// becomes its current stream: the library's own write paths only (reads
// decode the compressed stream in place, through the row index).  On
// failure the dataset stays compressed.  decompress_id finds the dataset by
// its id and holds its lock, as every td_ call does.
[[nodiscard]] int decompress(Dataset& ds);
[[nodiscard]] int decompress_id(int id);

// The data-area initialisation of td_enddef.
[[nodiscard]] int init_data_area(Dataset& ds);

// Makes the data of a dataset opened read-write changeable without touching
// its file: a compressed dataset is expanded into its temporary copy, a
// plain one copied into one byte for byte (`copied`); nothing happens when
// it already has a copy.  td_close writes a changed copy back.  Returns 0,
// a status of the expansion, or 46 when no copy can be made.
[[nodiscard]] int make_working_copy(Dataset& ds);

// Writes a changed copy back into the dataset file (td_close): a new file
// in the compressed form for an expanded dataset, byte for byte for a plain
// one, put in the file's place whole or not at all.  The new file becomes
// the current stream.  Returns 0, 22, 32, 35, 45 or 46.
[[nodiscard]] int write_back(Dataset& ds);

} // namespace td
