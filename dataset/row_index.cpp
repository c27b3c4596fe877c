// row_index.cpp - the row index of a compressed dataset: one checking pass
// over the stream, then block reads that decode only the rows they cover.
#include "row_index.h"

#include <algorithm>
#include <cstring>

#include "storage.h"
#include "tidewell.h"

namespace td {

namespace {

// Reads a file front to back from an offset through a buffer of its own,
// with pread, so the stream's position and buffered bytes (the header
// fields) stay as they were.  view(n) offers at least n bytes when the file
// still holds them; the buffer is a chunk plus one row of the widest codes.
class SequentialReader {
public:
    SequentialReader(Stream& file, std::int64_t offset, std::size_t widest)
        : file_(file), buffer_(kChunkBytes + widest), first_(offset), offset_(offset)
    {
    }

    [[nodiscard]] std::span<const std::uint8_t> view(std::size_t n)
    {
        if (end_ - pos_ < n && !at_end_) {
            std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
            offset_ += static_cast<std::int64_t>(pos_);
            end_ -= pos_;
            pos_ = 0;
            const std::size_t room = buffer_.size() - end_;
            const std::size_t got =
                file_.read_at(offset_ + static_cast<std::int64_t>(end_), buffer_.data() + end_, room);
            end_ += got;
            at_end_ = got < room;
        }
        return std::span(buffer_).subspan(pos_, end_ - pos_);
    }

    void advance(std::size_t n) noexcept { pos_ += n; }

    // Bytes taken so far, from the offset the reader started at.
    [[nodiscard]] std::int64_t taken() const noexcept
    {
        return offset_ + static_cast<std::int64_t>(pos_) - first_;
    }

private:
    static constexpr std::size_t kChunkBytes = 64 * 1024;
    Stream& file_;
    std::vector<std::uint8_t> buffer_;
    std::int64_t first_;  // file offset the reader started at
    std::int64_t offset_; // file offset of buffer_[0]
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool at_end_ = false;
};

} // namespace

int decode_status(codec::DecodeStatus s) noexcept
{
    switch (s) {
    case codec::DecodeStatus::ok:
        return TD_NOERR;
    case codec::DecodeStatus::truncated:
        return TD_EREADDATA;
    case codec::DecodeStatus::delta_first:
        return TD_ECOMPBYTE0;
    case codec::DecodeStatus::out_of_range:
        return TD_ECOMPFILE;
    }
    return TD_EINTERNAL;
}

int RowIndex::build(Stream& file, std::int32_t rows, std::int32_t columns)
{
    if (rows <= 0 || columns <= 0)
        return TD_ECOMPFILE;
    const auto n = static_cast<std::size_t>(columns);
    const std::size_t widest = 2 * n;
    std::vector<RowStart> starts(static_cast<std::size_t>(rows) + 1);
    SequentialReader in(file, kHeaderBlockBytes, widest);
    // Offsets in the stream; see row_index.h for why 32 bits hold them.
    const auto offset = [&in] { return static_cast<std::uint32_t>(in.taken()); };

    // Data section: every row's codes, each value checked.
    int previous = 0;
    for (std::int32_t r = 0; r < rows; ++r) {
        RowStart& s = starts[static_cast<std::size_t>(r)];
        s.data = offset();
        s.previous = static_cast<std::int16_t>(previous);
        const codec::RowScan scan = codec::decode_value_row(in.view(widest), n, previous, r == 0, nullptr);
        if (scan.status != codec::DecodeStatus::ok)
            return decode_status(scan.status);
        in.advance(scan.consumed);
    }
    starts.back().data = offset();

    // Graphics section: every row's pairs, with what spills over a row end.
    codec::RunCarry carry;
    for (std::int32_t r = 0; r < rows; ++r) {
        RowStart& s = starts[static_cast<std::size_t>(r)];
        s.graphics = offset();
        // A run holds at most 256 samples and fills at least one of the row
        // it is read in, so at most 255 repetitions are ever carried.
        s.carry = static_cast<std::uint8_t>(carry.repeats);
        s.nibble = carry.nibble;
        const codec::RowScan scan =
            codec::decode_graphics_row(in.view(widest), n, carry, static_cast<std::uint8_t*>(nullptr));
        if (scan.status != codec::DecodeStatus::ok)
            return decode_status(scan.status);
        in.advance(scan.consumed);
    }
    starts.back().graphics = offset();

    rows_ = rows;
    columns_ = columns;
    starts_ = std::move(starts);
    row_bytes_.clear();
    row_words_.clear();
    return TD_NOERR;
}

int RowIndex::decode_row(Stream& file, std::int32_t r, Part part, std::span<std::uint8_t> bytes,
                         std::span<std::uint16_t> words) const
{
    const RowStart& s = starts_[static_cast<std::size_t>(r)];
    const RowStart& next = starts_[static_cast<std::size_t>(r) + 1];
    const std::uint32_t from = part == Part::values ? s.data : s.graphics;
    const std::uint32_t to = part == Part::values ? next.data : next.graphics;
    const std::size_t length = to - from;
    if (to < from || length > bytes.size())
        return TD_EINTERNAL;
    if (file.read_at(kHeaderBlockBytes + from, bytes.data(), length) != length)
        return TD_EREADDATA;

    const auto n = static_cast<std::size_t>(columns_);
    codec::RowScan scan;
    if (part == Part::values) {
        // The whole buffer is offered, so the decoder need not check each
        // code; a row that ends anywhere but at its length was not the one
        // indexed.
        int previous = s.previous;
        scan = codec::decode_value_row(bytes, n, previous, r == 0, words.data());
    } else {
        codec::RunCarry carry{s.nibble, s.carry};
        scan = codec::decode_graphics_row(bytes.first(length), n, carry, words.data());
    }
    // The file was changed under the open dataset.
    if (scan.status != codec::DecodeStatus::ok || scan.consumed != length)
        return TD_ECOMPFILE;
    return TD_NOERR;
}

int RowIndex::read_block(Stream& file, std::span<std::uint16_t> words, const Index2& start,
                         const Index2& count, const NavShift* shift, Part part)
{
    const std::size_t total = std::size_t{count[0]} * count[1];
    if (!built() || words.size() < total)
        return TD_EINTERNAL;
    std::fill_n(words.begin(), total, std::uint16_t{0});
    const BlockWindow w = block_window(rows_, columns_, start, count, shift);
    if (w.empty())
        return TD_NOERR;
    const auto& [first, n, lead] = w;

    const auto width = static_cast<std::size_t>(columns_);
    row_bytes_.resize(2 * width);
    row_words_.resize(width);
    const auto from = static_cast<std::ptrdiff_t>(first[1]);
    for (std::int64_t i = 0; i < n[0]; ++i) {
        const auto r = static_cast<std::int32_t>(first[0] + i);
        if (const int status = decode_row(file, r, part, row_bytes_, row_words_); status != TD_NOERR)
            return status;
        const auto at = static_cast<std::size_t>((lead[0] + i) * std::int64_t{count[1]} + lead[1]);
        std::copy_n(row_words_.begin() + from, n[1], words.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return TD_NOERR;
}

} // namespace td
