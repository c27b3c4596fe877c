// storage.h - the uncompressed data area: block reads (with the
// navigational shift) and writes of stored samples, sample-word packing and
// whole-stream copies.
//
// Rows are stored one after another from a data origin: image row r starts at
// origin + r x W, W = columns x pixel size.  In a plain dataset file the
// header takes the first row slot, so the origin is W.  In the temporary copy
// of an expanded dataset the header slot is max(W, 1024) bytes, so the whole
// 1024-byte header block survives even when rows are narrow.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "registry.h"
#include "stream.h"

namespace td {

// A start or a count: index 0 along rows, index 1 along columns.
using Index2 = std::array<std::uint32_t, 2>;

struct BlockLayout {
    int pixel_size = 2; // 1 or 2 bytes per sample
    std::int32_t rows = 0;
    std::int32_t columns = 0;
    std::int64_t origin = 0; // byte offset of image row 0
};

// Navigational shift in pixels: stored sample (r, c) shows at
// (r + vertical, c + horizontal).
struct NavShift {
    std::int16_t vertical = 0;
    std::int16_t horizontal = 0;
};

// The part of a block that lies over stored samples: output element
// (lead[0] + i, lead[1] + j) shows stored sample (first[0] + i, first[1] + j)
// for i < n[0] and j < n[1]; every other output element is zero.  Without a
// shift that is the whole block.
struct BlockWindow {
    std::array<std::int64_t, 2> first{}, n{}, lead{};
    [[nodiscard]] bool empty() const noexcept { return n[0] <= 0 || n[1] <= 0; }
};

[[nodiscard]] BlockWindow block_window(std::int32_t rows, std::int32_t columns, const Index2& start,
                                       const Index2& count, const NavShift* shift) noexcept;

// Row width W in bytes.
[[nodiscard]] std::int64_t row_bytes(const Dataset& ds) noexcept;
// Byte offset of image row 0 in the dataset's current stream.
[[nodiscard]] std::int64_t data_origin(const Dataset& ds) noexcept;
// The block layout of the dataset's current stream.
[[nodiscard]] BlockLayout layout_of(const Dataset& ds) noexcept;

// Reads the block (start, count) of stored samples into `dst`, which holds
// at least pixel size x count[0] x count[1] bytes, row-major; 16-bit samples
// come out in host order.  With a shift, output element (i, j) shows stored
// sample (start[0] + i - vertical, start[1] + j - horizontal), and elements
// with no stored sample are zero.  Returns 0 or 32.
[[nodiscard]] int read_stored_block(Stream& stream, std::span<std::byte> dst, const BlockLayout& layout,
                                    const Index2& start, const Index2& count, const NavShift* shift);

// Writes the block (start, count) from `src` (host order); the caller's
// buffer is never changed.  Returns 0 or 35.
[[nodiscard]] int write_stored_block(Stream& stream, std::span<const std::byte> src,
                                     const BlockLayout& layout, const Index2& start, const Index2& count);

// Splits sample words into signed data values and graphics nibbles; either
// output may be empty (not wanted), otherwise it holds words.size() entries.
void unpack_words(std::span<std::int16_t> values, std::span<std::uint8_t> nibbles,
                  std::span<const std::uint16_t> words) noexcept;

// Builds sample words from data values (|value| <= 2047) and nibbles; either
// input may be empty (zero data values, or zero nibbles).
void pack_words(std::span<const std::int16_t> values, std::span<const std::uint8_t> nibbles,
                std::span<std::uint16_t> words) noexcept;

// Copies the whole source stream to the destination, both rewound first.
// Returns 0, or -1 when a read fails or a write falls short.
[[nodiscard]] int copy_stream(Stream& dst, Stream& src);

} // namespace td
