// codec.h - the coder of the compressed data area, shared by the library
// (expansion and recompression) and the test dataset writer.
//
// Data section: one code per sample, row 0 first, column 0 first; each code
// gives the sample's data value v against the value p of the sample before
// it (p carries across rows):
//   delta     1 byte   0 S D5..D0        v = p - D when S = 1, else p + D
//   absolute  2 bytes  1 xxx S M10..M8, M7..M0
//                                        v = -M when S = 1, else M
// The first code of the section is always an absolute code.
//
// Graphics section: per row, pairs (G, K): K + 1 samples carry the nibble in
// the low four bits of G.  Encoded runs never cross a row end; on reading, a
// run that reaches past a row end continues at the start of the next row.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

namespace td::codec {

inline constexpr int kMaxMagnitude = 2047;  // data values are -2047 .. 2047
inline constexpr int kMaxDelta = 63;        // largest step a delta code holds
inline constexpr std::size_t kMaxRun = 256; // samples in one graphics pair

// Anything that yields bytes one at a time: 0..255, or negative at the end.
template <class S>
concept ByteSource = requires(S& s) {
    { s.get_byte() } -> std::convertible_to<int>;
};

// Anything that takes bytes one at a time; false when a byte was not taken.
template <class S>
concept ByteSink = requires(S& s, unsigned char b) {
    { s.put_byte(b) } -> std::convertible_to<bool>;
};

enum class DecodeStatus {
    ok,
    truncated,     // the stream ended inside a code or a pair
    delta_first,   // the first code of the data section is a delta code
    out_of_range,  // a delta leaves -2047 .. 2047
};

// A byte source over bytes held in memory.
class SpanSource {
public:
    explicit SpanSource(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}
    [[nodiscard]] int get_byte() noexcept { return pos_ < bytes_.size() ? bytes_[pos_++] : -1; }
    [[nodiscard]] std::size_t position() const noexcept { return pos_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// One or two bytes of a data code.
struct ValueCode {
    std::array<std::uint8_t, 2> bytes{};
    std::size_t size = 0;
};

// The code of `value` (-2047 .. 2047) after a sample of value `previous`;
// `first` is true for the first sample of the data section, which always
// gets an absolute code.
[[nodiscard]] constexpr ValueCode encode_value(int value, int previous, bool first) noexcept
{
    const int d = value - previous;
    ValueCode code;
    if (first || d > kMaxDelta || d < -kMaxDelta) {
        const int magnitude = value < 0 ? -value : value;
        code.bytes[0] = static_cast<std::uint8_t>(0x80 | (value < 0 ? 0x08 : 0x00) |
                                                  ((magnitude >> 8) & 0x07));
        code.bytes[1] = static_cast<std::uint8_t>(magnitude & 0xFF);
        code.size = 2;
    } else {
        code.bytes[0] = static_cast<std::uint8_t>((d < 0 ? 0x40 : 0x00) | (d < 0 ? -d : d));
        code.size = 1;
    }
    return code;
}

// Encodes the data values of a run of samples, keeping the previous value
// across calls (so across rows).
class ValueEncoder {
public:
    template <ByteSink S>
    [[nodiscard]] bool put(S& sink, int value)
    {
        const ValueCode code = encode_value(value, previous_, !started_);
        started_ = true;
        previous_ = value;
        for (std::size_t i = 0; i < code.size; ++i)
            if (!sink.put_byte(code.bytes[i]))
                return false;
        return true;
    }

private:
    int previous_ = 0;
    bool started_ = false;
};

// Decodes the data section one value at a time, keeping the previous value
// across calls.
class ValueDecoder {
public:
    template <ByteSource S>
    [[nodiscard]] DecodeStatus next(S& source, int& value)
    {
        const int b0 = source.get_byte();
        if (b0 < 0)
            return DecodeStatus::truncated;
        int v = 0;
        if (b0 & 0x80) {
            const int b1 = source.get_byte();
            if (b1 < 0)
                return DecodeStatus::truncated;
            const int magnitude = ((b0 & 0x07) << 8) | b1;
            v = (b0 & 0x08) ? -magnitude : magnitude;
        } else {
            if (!started_)
                return DecodeStatus::delta_first;
            const int d = b0 & 0x3F;
            v = (b0 & 0x40) ? previous_ - d : previous_ + d;
            if (v < -kMaxMagnitude || v > kMaxMagnitude)
                return DecodeStatus::out_of_range;
        }
        started_ = true;
        previous_ = v;
        value = v;
        return DecodeStatus::ok;
    }

private:
    int previous_ = 0;
    bool started_ = false;
};

// Writes the graphics pairs of one row of nibbles: runs of equal nibbles of
// at most 256 samples, never crossing the row end.
template <ByteSink S>
[[nodiscard]] bool encode_graphics_row(std::span<const std::uint8_t> nibbles, S& sink)
{
    std::size_t i = 0;
    while (i < nibbles.size()) {
        const std::uint8_t nibble = nibbles[i] & 0x0F;
        std::size_t run = 1;
        while (i + run < nibbles.size() && run < kMaxRun && (nibbles[i + run] & 0x0F) == nibble)
            ++run;
        if (!sink.put_byte(nibble) || !sink.put_byte(static_cast<unsigned char>(run - 1)))
            return false;
        i += run;
    }
    return true;
}

// Reads the graphics pairs into rows.  Repetitions of a pair left over at a
// row end fill the start of the next row before the next pair is read; when
// they are a whole row or more, they go on filling further rows.  Nothing is
// ever stored outside the row given; what is left over after the last row is
// dropped.
class RunDecoder {
public:
    template <ByteSource S>
    [[nodiscard]] DecodeStatus fill_row(S& source, std::span<std::uint8_t> row)
    {
        std::size_t pos = 0;
        if (carry_ > 0) {
            const std::size_t take = carry_ < row.size() ? carry_ : row.size();
            fill(row, pos, take);
            carry_ -= take;
        }
        while (pos < row.size()) {
            const int g = source.get_byte();
            if (g < 0)
                return DecodeStatus::truncated;
            const int k = source.get_byte();
            if (k < 0)
                return DecodeStatus::truncated;
            nibble_ = static_cast<std::uint8_t>(g & 0x0F);
            const std::size_t run = static_cast<std::size_t>(k) + 1;
            const std::size_t room = row.size() - pos;
            const std::size_t take = run < room ? run : room;
            fill(row, pos, take);
            carry_ = run - take;
        }
        return DecodeStatus::ok;
    }

    // Repetitions still owed to the rows after the last one filled.
    [[nodiscard]] std::size_t carry() const noexcept { return carry_; }

private:
    void fill(std::span<std::uint8_t> row, std::size_t& pos, std::size_t n) noexcept
    {
        for (std::size_t i = 0; i < n; ++i)
            row[pos + i] = nibble_;
        pos += n;
    }

    std::uint8_t nibble_ = 0;
    std::size_t carry_ = 0;
};

} // namespace td::codec
