// compressed_area.h - the writer's compressed layout: the 1024-byte header
// block and the compressed stream, made with the library's own coder.
#pragma once

#include <cstdint>
#include <vector>

#include "dataset_writer.h"

namespace tdw::detail {

// Appends the compressed stream (data section, then graphics section) of
// the desc's samples to `bytes`, which holds the 1024-byte header block.
void append_compressed_stream(std::vector<std::uint8_t>& bytes, const DatasetDescription& desc);

} // namespace tdw::detail
