// row_index.h - reading a compressed visible or infrared dataset in place.
//
// The compressed stream gives no random access: a row's codes start where
// the row before ends, its first delta code counts from the last value of
// that row, and a graphics run may spill over into it.  The first read of
// the dataset walks the whole stream once, checking it as it goes, and
// keeps for every row where its data codes and its graphics pairs begin and
// what is carried into it; from then on a block read decodes just the rows
// it covers, straight from the dataset file.
//
// The index takes 12 bytes a row, plus one entry for the ends of the two
// sections: 393,216 bytes at 32767 rows.  Offsets are counted from the start
// of the stream (byte 1024 of the file) in 32 bits, which always suffices:
// each section of a 32767 x 32767 image is at most 2 x 32767 x 32767 bytes,
// the two together less than 2^32.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "codec.h"
#include "stream.h"

namespace td {

struct NavShift; // storage.h

// The status of a failed decoding: 32 for a cut stream, 48 for a stream
// that begins with a delta code, 46 for a delta that leaves the value range.
[[nodiscard]] int decode_status(codec::DecodeStatus s) noexcept;

// Where row r's data starts in the compressed stream, and the state the
// decoding carries into it.
struct RowStart {
    std::uint32_t data = 0;     // offset of the row's first data code
    std::uint32_t graphics = 0; // offset of the row's first graphics pair
    std::int16_t previous = 0;  // data value of the sample before the row
    std::uint8_t carry = 0;     // repetitions of a graphics run carried in (0 .. 255)
    std::uint8_t nibble = 0;    // their nibble
};
static_assert(sizeof(RowStart) == 12);

class RowIndex {
public:
    // Whether the stream has been walked and indexed.
    [[nodiscard]] bool built() const noexcept { return !starts_.empty(); }
    void clear() noexcept { *this = RowIndex{}; }

    // Walks the whole compressed stream of a dataset of rows x columns
    // samples, checking every code and pair.  Returns 0, 32 (the stream is
    // cut short), 46 (a delta leaves the value range) or 48 (the stream
    // begins with a delta code).  On failure the index is left as it was.
    [[nodiscard]] int build(Stream& file, std::int32_t rows, std::int32_t columns);

    // Which part of the sample words a block read fills in.
    enum class Part { values, nibbles };

    // Reads the block (start, count) as read_stored_block does from an
    // uncompressed data area, with the same shift, but fills in only one
    // part of each sample word (the data value, or the graphics nibble) and
    // leaves the other bits zero.  Returns 0, 32 (a short read), or 46 when
    // the file no longer holds the stream that was indexed.  The row
    // buffers stay with the index for the next read, so that a row-by-row
    // reader does not allocate (and fault in) them afresh for every row.
    // Start and count are (row, column), as Index2 of storage.h.
    [[nodiscard]] int read_block(Stream& file, std::span<std::uint16_t> words,
                                 const std::array<std::uint32_t, 2>& start,
                                 const std::array<std::uint32_t, 2>& count, const NavShift* shift, Part part);

private:
    // Decodes one whole row into the part of its sample words that `part`
    // names; `bytes` holds room for the largest row (2 x columns bytes).
    [[nodiscard]] int decode_row(Stream& file, std::int32_t r, Part part, std::span<std::uint8_t> bytes,
                                 std::span<std::uint16_t> words) const;

    std::int32_t rows_ = 0;
    std::int32_t columns_ = 0;
    // rows + 1 entries once built; the last one holds the ends of the data
    // and graphics sections.
    std::vector<RowStart> starts_;
    // One row: its compressed bytes (room for the largest, 2 x columns) and
    // its decoded sample words.
    std::vector<std::uint8_t> row_bytes_;
    std::vector<std::uint16_t> row_words_;
};

} // namespace td
