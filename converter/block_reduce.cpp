// block_reduce.cpp - means and plane bits of N x N blocks of samples.
#include "block_reduce.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "tidewell.h"

namespace tdf {

namespace {

bool is_bad_value(float v) noexcept
{
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits == TD_BAD_VALUE_BITS;
}

float bad_value() noexcept
{
    const std::uint32_t bits = TD_BAD_VALUE_BITS;
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace

int fit_factor(int rows, int columns, int pixels) noexcept
{
    if (pixels < 1)
        return 1;
    const int longest = std::max(rows, columns);
    return std::max(1, reduced_length(longest, pixels));
}

bool block_reducer::allocate(unsigned columns, unsigned factor, bool graphics) noexcept
{
    columns_ = columns;
    factor_ = std::max(1u, factor);
    const auto shown =
        static_cast<std::size_t>(reduced_length(static_cast<int>(columns), static_cast<int>(factor_)));
    try {
        sums_.assign(shown, 0.0);
        counts_.assign(shown, 0);
        means_.assign(shown, 0.0f);
        bits_.assign(graphics ? shown : 0, 0);
        shown_bits_.assign(graphics ? shown : 0, 0);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

void block_reducer::add(std::span<const float> data, std::span<const std::uint8_t> graphics) noexcept
{
    const std::size_t shown = sums_.size();
    for (std::size_t o = 0, c = 0; o < shown; ++o) {
        const std::size_t end = std::min<std::size_t>(c + factor_, columns_);
        double sum = 0.0;
        std::uint32_t count = 0;
        for (; c < end; ++c) {
            const float v = data[c];
            if (!is_bad_value(v)) {
                sum += v;
                ++count;
            }
        }
        sums_[o] += sum;
        counts_[o] += count;
    }
    if (!bits_.empty() && !graphics.empty()) {
        for (std::size_t o = 0, c = 0; o < shown; ++o) {
            const std::size_t end = std::min<std::size_t>(c + factor_, columns_);
            std::uint8_t bits = 0;
            for (; c < end; ++c)
                bits |= graphics[c];
            bits_[o] |= bits;
        }
    }
}

void block_reducer::finish() noexcept
{
    static const float bad = bad_value();
    for (std::size_t o = 0; o < sums_.size(); ++o) {
        means_[o] = counts_[o] != 0 ? static_cast<float>(sums_[o] / counts_[o]) : bad;
        sums_[o] = 0.0;
        counts_[o] = 0;
    }
    shown_bits_.swap(bits_);
    std::fill(bits_.begin(), bits_.end(), std::uint8_t{0});
}

} // namespace tdf
