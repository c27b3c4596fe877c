// storage.cpp - block reads and writes of the uncompressed data area.
#include "storage.h"

#include <algorithm>
#include <cstring>

#include "sample_word.h"

namespace td {

namespace {

// Exchanges the two bytes of every 16-bit sample; a loop the compiler turns
// into vector instructions.
void swap_pairs(std::span<std::byte> bytes) noexcept
{
    const std::size_t n = bytes.size() / 2;
    std::byte* p = bytes.data();
    for (std::size_t i = 0; i < n; ++i) {
        std::uint16_t w;
        std::memcpy(&w, p + 2 * i, 2);
        w = static_cast<std::uint16_t>((w >> 8) | (w << 8));
        std::memcpy(p + 2 * i, &w, 2);
    }
}

// Bytes of a block, or -1 when the product does not fit.
std::int64_t block_bytes(std::int64_t pixel_size, const Index2& count) noexcept
{
    std::int64_t samples = 0, bytes = 0;
    if (pixel_size < 1 || __builtin_mul_overflow(std::int64_t{count[0]}, std::int64_t{count[1]}, &samples) ||
        __builtin_mul_overflow(samples, pixel_size, &bytes))
        return -1;
    return bytes;
}

} // namespace

std::int64_t row_bytes(const Dataset& ds) noexcept
{
    return std::int64_t{ds.columns} * ds.pixel_size;
}

std::int64_t data_origin(const Dataset& ds) noexcept
{
    const std::int64_t w = row_bytes(ds);
    return ds.expanded ? std::max(w, kHeaderBlockBytes) : w;
}

BlockLayout layout_of(const Dataset& ds) noexcept
{
    return BlockLayout{ds.pixel_size, ds.rows, ds.columns, data_origin(ds)};
}

BlockWindow block_window(std::int32_t rows, std::int32_t columns, const Index2& start, const Index2& count,
                         const NavShift* shift) noexcept
{
    const std::array<std::int64_t, 2> dims{rows, columns};
    BlockWindow w;
    for (std::size_t k = 0; k < 2; ++k) {
        if (shift == nullptr) {
            w.first[k] = start[k];
            w.n[k] = count[k];
            continue;
        }
        // Exact arithmetic: the stored index seen at output index 0 and at
        // the last output index of this dimension.
        const std::int64_t s = std::int64_t{start[k]} - (k == 0 ? shift->vertical : shift->horizontal);
        const std::int64_t e = s + std::int64_t{count[k]} - 1;
        if (s > dims[k] - 1 || e < 0)
            return BlockWindow{};
        w.lead[k] = std::max<std::int64_t>(0, -s);
        w.first[k] = std::max<std::int64_t>(0, s);
        w.n[k] = std::min(e, dims[k] - 1) - w.first[k] + 1;
    }
    return w;
}

int read_stored_block(Stream& stream, std::span<std::byte> dst, const BlockLayout& layout,
                      const Index2& start, const Index2& count, const NavShift* shift)
{
    const std::int64_t ps = layout.pixel_size;
    const std::int64_t total = block_bytes(ps, count);
    if (total < 0 || static_cast<std::uint64_t>(total) > dst.size())
        return TD_EINTERNAL;
    std::fill_n(dst.begin(), total, std::byte{0});

    const BlockWindow w = block_window(layout.rows, layout.columns, start, count, shift);
    if (w.empty())
        return TD_NOERR;
    const auto& [first, n, lead] = w;

    // Each run of stored samples goes straight from the file into the
    // destination, leaving the stream's buffer to the header fields.
    const std::int64_t first_byte = layout.origin + ps * (first[0] * layout.columns + first[1]);
    if (first_byte < 0)
        return TD_EREADDATA;
    const std::int64_t run = n[1] * ps;
    const std::int64_t stride = std::int64_t{layout.columns} * ps;
    for (std::int64_t i = 0; i < n[0]; ++i) {
        const std::int64_t at = ((lead[0] + i) * std::int64_t{count[1]} + lead[1]) * ps;
        if (stream.read_at(first_byte + i * stride, dst.data() + at, static_cast<std::size_t>(run)) !=
            static_cast<std::size_t>(run))
            return TD_EREADDATA;
    }
    if (ps == 2 && host_swaps())
        swap_pairs(dst.first(static_cast<std::size_t>(total)));
    return TD_NOERR;
}

int write_stored_block(Stream& stream, std::span<const std::byte> src, const BlockLayout& layout,
                       const Index2& start, const Index2& count)
{
    const std::int64_t ps = layout.pixel_size;
    const std::int64_t total = block_bytes(ps, count);
    if (total < 0 || static_cast<std::uint64_t>(total) > src.size())
        return TD_EINTERNAL;
    if (count[0] == 0 || count[1] == 0)
        return TD_NOERR;
    const bool swap = ps == 2 && host_swaps();

    if (!stream.seek(layout.origin + ps * (std::int64_t{start[0]} * layout.columns + start[1])))
        return TD_EWRITEDATA;
    const std::size_t run = static_cast<std::size_t>(std::int64_t{count[1]} * ps);
    const std::int64_t gap = (std::int64_t{layout.columns} - count[1]) * ps;
    // Swapped samples go out through a small fixed buffer, so the source is
    // never changed and nothing is allocated.
    std::array<std::byte, 4096> swapped;
    for (std::uint32_t i = 0; i < count[0]; ++i) {
        const std::byte* row = src.data() + i * run;
        if (!swap) {
            if (stream.write(row, run) != run)
                return TD_EWRITEDATA;
        } else {
            for (std::size_t done = 0; done < run;) {
                const std::size_t part = std::min(run - done, swapped.size());
                std::memcpy(swapped.data(), row + done, part);
                swap_pairs(std::span(swapped).first(part));
                if (stream.write(swapped.data(), part) != part)
                    return TD_EWRITEDATA;
                done += part;
            }
        }
        if (i + 1 < count[0] && !stream.skip(gap))
            return TD_EWRITEDATA;
    }
    return TD_NOERR;
}

// One loop per wanted output, each free of tests on the outputs, so that
// the compiler vectorises them.
void unpack_words(std::span<std::int16_t> values, std::span<std::uint8_t> nibbles,
                  std::span<const std::uint16_t> words) noexcept
{
    const std::size_t n = words.size();
    if (!values.empty())
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint16_t w = words[i];
            const auto magnitude = static_cast<std::int16_t>((w >> 4) & 0x07FF);
            values[i] = (w & 0x8000) ? static_cast<std::int16_t>(-magnitude) : magnitude;
        }
    if (!nibbles.empty())
        for (std::size_t i = 0; i < n; ++i)
            nibbles[i] = static_cast<std::uint8_t>(words[i] & 0x0F);
}

void pack_words(std::span<const std::int16_t> values, std::span<const std::uint8_t> nibbles,
                std::span<std::uint16_t> words) noexcept
{
    const std::size_t n = words.size();
    if (values.empty()) {
        for (std::size_t i = 0; i < n; ++i)
            words[i] = 0;
    } else {
        for (std::size_t i = 0; i < n; ++i)
            words[i] = value_word(values[i]);
    }
    if (!nibbles.empty())
        for (std::size_t i = 0; i < n; ++i)
            words[i] = static_cast<std::uint16_t>(words[i] | (nibbles[i] & 0x0Fu));
}

int copy_stream(Stream& dst, Stream& src)
{
    dst.rewind();
    src.rewind();
    std::array<unsigned char, 16384> buffer;
    for (;;) {
        const std::size_t got = src.read(buffer.data(), buffer.size());
        if (got == 0)
            return src.error() ? -1 : 0;
        if (dst.write(buffer.data(), got) != got)
            return -1;
    }
}

} // namespace td
