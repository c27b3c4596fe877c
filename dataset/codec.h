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

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "sample_word.h"

namespace td::codec {

inline constexpr int kMaxMagnitude = 2047;  // data values are -2047 .. 2047
inline constexpr int kMaxDelta = 63;        // largest step a delta code holds
inline constexpr std::size_t kMaxRun = 256; // samples in one graphics pair

// Anything that yields bytes one at a time: 0..255, or negative at the end.
template <class S>
concept ByteSource = requires(S& s)
{
    {
        s.get_byte()
        } -> std::convertible_to<int>;
};

// Anything that takes bytes one at a time; false when a byte was not taken.
template <class S>
concept ByteSink = requires(S& s, unsigned char b)
{
    {
        s.put_byte(b)
        } -> std::convertible_to<bool>;
};

enum class DecodeStatus {
    ok,
    truncated,    // the stream ended inside a code or a pair
    delta_first,  // the first code of the data section is a delta code
    out_of_range, // a delta leaves -2047 .. 2047
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
        code.bytes[0] =
            static_cast<std::uint8_t>(0x80 | (value < 0 ? 0x08 : 0x00) | ((magnitude >> 8) & 0x07));
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

// Decoding a whole row from bytes held in memory (reading a compressed
// dataset in place, a row at a time).  `consumed` is how many bytes the row
// took; when the status is not ok, where the decoding stopped.
struct RowScan {
    DecodeStatus status = DecodeStatus::ok;
    std::size_t consumed = 0;
};

using td::value_word;

namespace detail {

#if defined(__SSE2__)
// Sixteen delta codes at once: their values after `v` are prefix sums of
// the deltas.  Stores their sample words when `words` is not null, returns
// the last value and sets `outside` when any value leaves -2047 .. 2047.
// Sixteen deltas move a value by at most 1008, so 16-bit lanes never wrap.
[[nodiscard]] inline int decode_16_deltas(__m128i codes, int v, bool& outside, std::uint16_t* words) noexcept
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i magnitude = _mm_and_si128(codes, _mm_set1_epi8(0x3F));
    const __m128i negative = _mm_cmpeq_epi8(_mm_and_si128(codes, _mm_set1_epi8(0x40)), _mm_set1_epi8(0x40));
    const __m128i delta = _mm_sub_epi8(_mm_xor_si128(magnitude, negative), negative);
    const __m128i sign = _mm_cmpgt_epi8(zero, delta);
    __m128i lo = _mm_unpacklo_epi8(delta, sign);
    __m128i hi = _mm_unpackhi_epi8(delta, sign);
    lo = _mm_add_epi16(lo, _mm_slli_si128(lo, 2));
    hi = _mm_add_epi16(hi, _mm_slli_si128(hi, 2));
    lo = _mm_add_epi16(lo, _mm_slli_si128(lo, 4));
    hi = _mm_add_epi16(hi, _mm_slli_si128(hi, 4));
    lo = _mm_add_epi16(lo, _mm_slli_si128(lo, 8));
    hi = _mm_add_epi16(hi, _mm_slli_si128(hi, 8));
    lo = _mm_add_epi16(lo, _mm_set1_epi16(static_cast<short>(v)));
    const __m128i last = _mm_shufflehi_epi16(lo, 0xFF);
    hi = _mm_add_epi16(hi, _mm_unpackhi_epi64(last, last));
    const __m128i high = _mm_set1_epi16(kMaxMagnitude), low = _mm_set1_epi16(-kMaxMagnitude);
    const __m128i out = _mm_or_si128(_mm_or_si128(_mm_cmpgt_epi16(lo, high), _mm_cmplt_epi16(lo, low)),
                                     _mm_or_si128(_mm_cmpgt_epi16(hi, high), _mm_cmplt_epi16(hi, low)));
    outside |= _mm_movemask_epi8(out) != 0;
    if (words != nullptr) {
        const __m128i bit15 = _mm_set1_epi16(static_cast<short>(0x8000));
        const auto word = [&](__m128i x) {
            const __m128i s = _mm_srai_epi16(x, 15);
            const __m128i a = _mm_sub_epi16(_mm_xor_si128(x, s), s);
            return _mm_or_si128(_mm_slli_epi16(a, 4), _mm_and_si128(s, bit15));
        };
        _mm_storeu_si128(reinterpret_cast<__m128i*>(words), word(lo));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(words + 8), word(hi));
    }
    return static_cast<std::int16_t>(_mm_extract_epi16(hi, 7));
}

// The value after sixteen delta codes when only the last one is wanted: v
// plus the sum of their positive magnitudes less the sum of their negative
// ones.  False when that bound does not keep every value between within
// -2047 .. 2047 (the codes must then be decoded one value at a time).
[[nodiscard]] inline bool sum_16_deltas(__m128i codes, int& v) noexcept
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i magnitude = _mm_and_si128(codes, _mm_set1_epi8(0x3F));
    const __m128i negative = _mm_cmpeq_epi8(_mm_and_si128(codes, _mm_set1_epi8(0x40)), _mm_set1_epi8(0x40));
    const __m128i up2 = _mm_sad_epu8(_mm_andnot_si128(negative, magnitude), zero);
    const __m128i down2 = _mm_sad_epu8(_mm_and_si128(negative, magnitude), zero);
    const int up = _mm_cvtsi128_si32(up2) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(up2, up2));
    const int down = _mm_cvtsi128_si32(down2) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(down2, down2));
    if (v + up > kMaxMagnitude || v - down < -kMaxMagnitude)
        return false;
    v += up - down;
    return true;
}
#endif

} // namespace detail

// Decodes the n data codes of one row from `bytes`.  `previous` is the value
// of the sample before the row (p, carried across rows) and becomes the
// value of the row's last sample; `first` is true for the row that begins
// the data section, whose first code must be absolute.  The sample word of
// each value goes to `words` when it is not null.  A value that leaves
// -2047 .. 2047 is reported as out_of_range even when the bytes run out
// after it, as the code-by-code decoder would.  Never reads outside `bytes`.
//
// Runs of delta codes, the common case, are decoded sixteen at a time where
// the processor has the vector instructions for it.  When `bytes` hold 2 x n
// bytes or more no code can run past them, and no code is checked for it.
[[nodiscard]] inline RowScan decode_value_row(std::span<const std::uint8_t> bytes, std::size_t n,
                                              int& previous, bool first, std::uint16_t* words) noexcept
{
    const std::uint8_t* const begin = bytes.data();
    const std::uint8_t* const end = begin + bytes.size();
    if (n == 0)
        return {};
    if (bytes.empty())
        return {DecodeStatus::truncated, 0};
    if (first && (begin[0] & 0x80) == 0)
        return {DecodeStatus::delta_first, 0};

    const bool roomy = bytes.size() / 2 >= n;
    const std::uint8_t* p = begin;
    int v = previous;
    bool outside = false;
    std::size_t c = 0;
    bool cut = false;
    while (c < n && !cut) {
        std::size_t limit = n;
#if defined(__SSE2__)
        if (n - c >= 16 && end - p >= 16) {
            const __m128i codes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const int absolute = _mm_movemask_epi8(codes);
            if (absolute == 0) {
                if (words != nullptr || !detail::sum_16_deltas(codes, v))
                    v = detail::decode_16_deltas(codes, v, outside, words == nullptr ? nullptr : words + c);
                p += 16;
                c += 16;
                continue;
            }
            // One code at a time up to and with the first absolute code.
            limit = c + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(absolute))) + 1;
        }
#endif
        for (; c < limit; ++c) {
            // The last byte may start a code but not hold a two-byte one.
            if (!roomy && (p == end || ((*p & 0x80) && p + 1 == end))) {
                cut = true;
                break;
            }
            const unsigned b = *p++;
            if (b & 0x80) {
                const int magnitude = static_cast<int>(((b & 0x07u) << 8) | *p++);
                v = (b & 0x08) ? -magnitude : magnitude;
            } else {
                const int d = static_cast<int>(b & 0x3Fu);
                v = (b & 0x40) ? v - d : v + d;
                outside |= static_cast<unsigned>(v + kMaxMagnitude) > 2u * kMaxMagnitude;
            }
            if (words != nullptr)
                words[c] = value_word(v);
        }
    }
    previous = v;
    const auto consumed = static_cast<std::size_t>(p - begin);
    if (outside)
        return {DecodeStatus::out_of_range, consumed};
    if (c < n)
        return {DecodeStatus::truncated, consumed};
    return {DecodeStatus::ok, consumed};
}

// The graphics state carried from one row into the next: the nibble of the
// last pair read and how many of its repetitions are still owed.
struct RunCarry {
    std::uint8_t nibble = 0;
    std::size_t repeats = 0;
};

// Reads the graphics pairs of one row of n samples from `bytes`, after the
// repetitions carried in (which may fill the whole row and more); `carry`
// becomes what the row hands on.  The nibbles go to `out` (bytes, or sample
// words with zero data bits) when it is not null.  Never reads outside
// `bytes`.
template <class T>
[[nodiscard]] RowScan decode_graphics_row(std::span<const std::uint8_t> bytes, std::size_t n, RunCarry& carry,
                                          T* out) noexcept
{
    std::size_t pos = carry.repeats < n ? carry.repeats : n;
    if (out != nullptr)
        std::fill_n(out, pos, carry.nibble);
    carry.repeats -= pos;
    std::size_t at = 0;
    while (pos < n) {
        if (bytes.size() - at < 2)
            return {DecodeStatus::truncated, at};
        carry.nibble = static_cast<std::uint8_t>(bytes[at] & 0x0F);
        const std::size_t run = std::size_t{bytes[at + 1]} + 1;
        at += 2;
        const std::size_t take = run < n - pos ? run : n - pos;
        if (out != nullptr)
            std::fill_n(out + pos, take, carry.nibble);
        pos += take;
        carry.repeats = run - take;
    }
    return {DecodeStatus::ok, at};
}

} // namespace td::codec
