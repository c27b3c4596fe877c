// block_reduce.h - a reduced quicklook: the data raster made N times
// smaller in each direction, block by block of N x N samples.
//
// An output pixel shows the mean of the valid samples of its block (the bad
// value when none is valid) and every graphics plane that any sample of the
// block carries (the OR of the graphics bytes), so that a line one sample
// wide survives any reduction.  Blocks at the right and bottom edges hold
// the samples that are there.  The rows of a block are added one at a time:
// memory is one row of sums, counts and plane bits per output column.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tdf {

// Largest factor --reduce accepts.
inline constexpr int max_reduce = 64;

// Output pixels along a dataset length of `length` samples: length / factor
// rounded up.
[[nodiscard]] constexpr int reduced_length(int length, int factor) noexcept
{
    return factor <= 1 ? length : length / factor + (length % factor != 0 ? 1 : 0);
}

// The smallest factor that makes a raster of rows x columns at most
// `pixels` wide and high (1 when it already is).
[[nodiscard]] int fit_factor(int rows, int columns, int pixels) noexcept;

class block_reducer {
public:
    // Room for a block row of a dataset `columns` wide; false when memory
    // runs out.
    [[nodiscard]] bool allocate(unsigned columns, unsigned factor, bool graphics) noexcept;

    // Adds one dataset row of calibrated values and, when planes are in
    // use, its graphics bytes.
    void add(std::span<const float> data, std::span<const std::uint8_t> graphics) noexcept;

    // The block row of the rows added since the last call: means and plane
    // bits, one per output column (valid until the next add).  Starts the
    // next block row.
    void finish() noexcept;
    [[nodiscard]] const float* data() const noexcept { return means_.data(); }
    [[nodiscard]] const std::uint8_t* graphics() const noexcept { return shown_bits_.data(); }

private:
    unsigned columns_ = 0;
    unsigned factor_ = 1;
    std::vector<double> sums_;
    std::vector<std::uint32_t> counts_;
    std::vector<float> means_;
    std::vector<std::uint8_t> bits_;       // plane bits of the block row being added
    std::vector<std::uint8_t> shown_bits_; // those of the block row last finished
};

} // namespace tdf
