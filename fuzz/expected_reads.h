// expected_reads.h - what the reads of a dataset must give, worked out from
// the file's bytes alone: the open status, the stored samples of the plain
// layout, and a sequential decode of the compressed stream written here
// independently of the library's row index.  The harnesses check every
// read they make against it, values and statuses both.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace fuzz {

using Index2 = std::array<std::uint32_t, 2>;

class ExpectedReads {
public:
    // The bytes of the file as td_open will find it.
    explicit ExpectedReads(std::span<const std::uint8_t> file);

    // The status td_open must give (read-only or read-write).
    [[nodiscard]] int open_status() const noexcept { return open_status_; }
    [[nodiscard]] std::int16_t rows() const noexcept { return rows_; }
    [[nodiscard]] std::int16_t columns() const noexcept { return columns_; }
    [[nodiscard]] std::int16_t data_id() const noexcept { return data_id_; }

    // The status and, on success, the values of td_varget_float
    // (value_type 3) or td_varget_byte (value_type 0) of a block, into
    // `floats` or `bytes`.
    [[nodiscard]] int read(int varid, const Index2& start, const Index2& count, int value_type,
                           std::vector<float>& floats, std::vector<std::uint8_t>& bytes) const;

    // Checks a read the library made: status and values.  Returns nullptr
    // when they are as expected, else what differs.
    [[nodiscard]] const char* check(int varid, const Index2& start, const Index2& count, int value_type,
                                    int status, const void* values) const;

private:
    // The 16-bit big-endian field at a byte offset, when the file holds it.
    [[nodiscard]] std::optional<std::int16_t> field(std::size_t offset) const noexcept;
    // Decodes the compressed stream once, on the first read that needs it.
    void decode_stream() const;
    // The stored sample (host order) at a stored position, for a plain
    // dataset; nothing when the file does not hold it.
    [[nodiscard]] std::optional<std::uint16_t> plain_sample(std::int64_t r, std::int64_t c) const noexcept;

    std::span<const std::uint8_t> file_;
    int open_status_ = 0;
    std::int16_t data_id_ = -1, rows_ = -1, columns_ = -1, pixel_size_ = 0;

    // The decoded stream of a compressed dataset: its status, and when it
    // is 0 the data value and nibble of every sample, row-major.
    mutable bool decoded_ = false;
    mutable int stream_status_ = 0;
    mutable std::vector<std::int16_t> values_;
    mutable std::vector<std::uint8_t> nibbles_;
};

} // namespace fuzz
