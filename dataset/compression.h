// compression.h - moving a visible or infrared dataset between its
// compressed file form and its expanded temporary copy, and preparing the
// data area of a dataset that leaves define mode.
#pragma once

#include "registry.h"

namespace td {

// Expands the compressed dataset into an anonymous temporary copy that
// becomes its current stream.  On failure the dataset stays compressed.
[[nodiscard]] int td_decompress(int id);

// Writes the expanded temporary copy back into the dataset file in the
// compressed form; the new file becomes the current stream.
[[nodiscard]] int td_compress(int id);

// The data-area initialisation of td_enddef.
[[nodiscard]] int init_data_area(int id);

} // namespace td
