// header_block.h - the size of a dataset's header block.
#pragma once

#include <cstdint>

namespace td {

// The first 1024 bytes of every dataset file: the defined header fields in
// bytes 0 to 135, the rest reserved.  A compressed stream begins after it,
// the stream keeps a copy of it for the field reads, and the temporary copy
// of an expanded dataset keeps it whole.
inline constexpr std::int64_t kHeaderBlockBytes = 1024;

} // namespace td
