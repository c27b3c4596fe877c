// expected_reads.cpp - the reads of a dataset worked out from its bytes.
//
// The stored samples are found here without the library: the plain layout
// by its byte offsets, the compressed stream by a plain code-by-code
// decode.  Only the conversion of a stored sample into its value comes
// from the library (calibration.h), whose tables are checked over every
// stored word by the calibration tests.
#include "expected_reads.h"

#include <cstring>

#include "calibration.h"
#include "tidewell.h"

namespace fuzz {

namespace {

constexpr std::size_t kHeaderBlock = 1024;

// Each output element of a block with a shift shows the stored sample at
// (start + i - vertical, start + j - horizontal), or nothing (zero) when
// that lies outside the image.
struct Position {
    bool stored = false;
    std::int64_t r = 0, c = 0;
};

Position position(const Index2& start, std::uint32_t i, std::uint32_t j, std::int16_t vertical,
                  std::int16_t horizontal, std::int64_t rows, std::int64_t columns)
{
    const std::int64_t r = std::int64_t{start[0]} + i - vertical;
    const std::int64_t c = std::int64_t{start[1]} + j - horizontal;
    return {r >= 0 && r < rows && c >= 0 && c < columns, r, c};
}

int value_of(std::uint16_t word)
{
    const int magnitude = (word >> 4) & 0x07FF;
    return (word & 0x8000) ? -magnitude : magnitude;
}

std::uint16_t word_of(int value, int nibble)
{
    const unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
    return static_cast<std::uint16_t>((magnitude << 4) | (value < 0 ? 0x8000u : 0u) | (nibble & 0x0F));
}

bool same_bits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

ExpectedReads::ExpectedReads(std::span<const std::uint8_t> file) : file_(file)
{
    if (file_.empty()) {
        open_status_ = TD_ENOMAGIC;
        return;
    }
    if (file_[0] != 0xD5) {
        open_status_ = TD_EMAGIC;
        return;
    }
    const auto data_id = field(50), rows = field(34), columns = field(36);
    if (!data_id || !rows || !columns) {
        open_status_ = TD_EREADATT;
        return;
    }
    data_id_ = *data_id;
    rows_ = *rows;
    columns_ = *columns;
    if (data_id_ == 0 || data_id_ == 1 || data_id_ == 2) {
        const auto pixel_size = field(data_id_ == 2 ? 70 : 62);
        if (!pixel_size)
            open_status_ = TD_EREADATT;
        else if (*pixel_size != 2)
            open_status_ = TD_EPIXSIZE;
        pixel_size_ = 2;
    } else if (data_id_ == 3) {
        pixel_size_ = 1;
    } else {
        open_status_ = TD_EDATAID;
    }
}

std::optional<std::int16_t> ExpectedReads::field(std::size_t offset) const noexcept
{
    if (file_.size() < offset + 2)
        return std::nullopt;
    return static_cast<std::int16_t>((file_[offset] << 8) | file_[offset + 1]);
}

std::optional<std::uint16_t> ExpectedReads::plain_sample(std::int64_t r, std::int64_t c) const noexcept
{
    const std::int64_t width = std::int64_t{columns_} * pixel_size_;
    const std::int64_t at = width * (r + 1) + pixel_size_ * c;
    if (at < 0 || static_cast<std::uint64_t>(at + pixel_size_) > file_.size())
        return std::nullopt;
    if (pixel_size_ == 1)
        return file_[static_cast<std::size_t>(at)];
    return static_cast<std::uint16_t>((file_[static_cast<std::size_t>(at)] << 8) |
                                      file_[static_cast<std::size_t>(at) + 1]);
}

void ExpectedReads::decode_stream() const
{
    if (decoded_)
        return;
    decoded_ = true;
    if (rows_ <= 0 || columns_ <= 0) {
        stream_status_ = TD_ECOMPFILE;
        return;
    }
    const std::span<const std::uint8_t> stream =
        file_.size() > kHeaderBlock ? file_.subspan(kHeaderBlock) : std::span<const std::uint8_t>();
    std::size_t at = 0;
    const auto next = [&]() -> int { return at < stream.size() ? stream[at++] : -1; };

    // Data section: one code per sample, row by row.  A row that takes a
    // value out of -2047 .. 2047 is a damaged stream (46) even when its
    // codes then run out; a row cut short is 32; a first code that is a
    // delta is 48.
    int previous = 0;
    for (std::int64_t r = 0; r < rows_; ++r) {
        bool outside = false, cut = false;
        for (std::int64_t c = 0; c < columns_ && !cut; ++c) {
            const int b0 = next();
            if (b0 < 0) {
                cut = true;
                break;
            }
            if (b0 & 0x80) {
                const int b1 = next();
                if (b1 < 0) {
                    cut = true;
                    break;
                }
                const int magnitude = ((b0 & 0x07) << 8) | b1;
                previous = (b0 & 0x08) ? -magnitude : magnitude;
            } else {
                if (r == 0 && c == 0) {
                    stream_status_ = TD_ECOMPBYTE0;
                    return;
                }
                previous += (b0 & 0x40) ? -(b0 & 0x3F) : (b0 & 0x3F);
                outside = outside || previous < -2047 || previous > 2047;
            }
            values_.push_back(static_cast<std::int16_t>(previous));
        }
        if (outside || cut) {
            stream_status_ = outside ? TD_ECOMPFILE : TD_EREADDATA;
            values_.clear();
            return;
        }
    }

    // Graphics section: pairs (G, K), K + 1 samples of nibble G; what a
    // pair holds beyond its row goes on into the next rows.
    nibbles_.assign(values_.size(), 0);
    std::uint8_t nibble = 0;
    std::size_t owed = 0;
    std::size_t i = 0;
    const auto columns = static_cast<std::size_t>(columns_);
    for (std::int64_t r = 0; r < rows_; ++r) {
        for (std::size_t c = 0; c < columns; ++c, ++i) {
            if (owed == 0) {
                const int g = next();
                const int k = next();
                if (k < 0) {
                    stream_status_ = TD_EREADDATA;
                    values_.clear();
                    nibbles_.clear();
                    return;
                }
                nibble = static_cast<std::uint8_t>(g & 0x0F);
                owed = static_cast<std::size_t>(k) + 1;
            }
            nibbles_[i] = nibble;
            --owed;
        }
    }
}

int ExpectedReads::read(int varid, const Index2& start, const Index2& count, int value_type,
                        std::vector<float>& floats, std::vector<std::uint8_t>& bytes) const
{
    if (open_status_ != 0)
        return TD_EBADID;
    const std::int64_t dims[2] = {rows_, columns_};
    for (int k = 0; k < 2; ++k) {
        const std::int64_t last = std::int64_t{start[k]} + count[k] - 1;
        if (dims[k] <= 0 || start[k] > dims[k] - 1 || last < 0 || last > dims[k] - 1)
            return TD_EINDEX;
    }
    bool compressed = false;
    if (data_id_ == 0 || data_id_ == 1) {
        const auto compression = field(78);
        if (!compression)
            return TD_EREADATT;
        if (*compression == 2) {
            decode_stream();
            if (stream_status_ != 0)
                return stream_status_;
            compressed = true;
        } else if (*compression != 0) {
            return TD_ECOMPTYPE;
        }
    }
    if (varid != 0 && varid != 1)
        return TD_EBADVARID;
    if (varid == 1 && data_id_ != 0 && data_id_ != 1)
        return TD_EBADVARID;

    std::int16_t vertical = 0, horizontal = 0;
    if (varid == 0) {
        const auto v = field(86), h = field(84);
        if (!v || !h)
            return TD_EREADATT;
        vertical = *v;
        horizontal = *h;
    }

    // The stored sample words (or cloud bytes) of the block, zero where no
    // stored sample shows.
    const std::size_t n = std::size_t{count[0]} * count[1];
    std::vector<std::uint16_t> words(n, 0);
    for (std::uint32_t i = 0; i < count[0]; ++i) {
        for (std::uint32_t j = 0; j < count[1]; ++j) {
            const Position p = position(start, i, j, vertical, horizontal, rows_, columns_);
            if (!p.stored)
                continue;
            std::uint16_t& w = words[std::size_t{i} * count[1] + j];
            if (compressed) {
                const std::size_t at = static_cast<std::size_t>(p.r * columns_ + p.c);
                w = varid == 0 ? word_of(values_[at], 0) : word_of(0, nibbles_[at]);
            } else {
                const auto sample = plain_sample(p.r, p.c);
                if (!sample)
                    return TD_EREADDATA;
                w = *sample;
            }
        }
    }

    const auto deliver = [&](auto byte_of) {
        if (value_type == TD_BYTE) {
            bytes.resize(n);
            for (std::size_t k = 0; k < n; ++k)
                bytes[k] = byte_of(words[k]);
            return TD_NOERR;
        }
        if (value_type == TD_FLOAT) {
            floats.resize(n);
            for (std::size_t k = 0; k < n; ++k)
                floats[k] = static_cast<float>(byte_of(words[k]));
            return TD_NOERR;
        }
        return TD_ERANGE;
    };
    if (varid == 1)
        return deliver([](std::uint16_t w) { return static_cast<std::uint8_t>(w & 0x0F); });
    if (pixel_size_ == 1)
        return deliver([](std::uint16_t w) { return static_cast<std::uint8_t>(w); });
    if (value_type != TD_FLOAT)
        return TD_ERANGE;
    floats.resize(n);
    if (data_id_ == 0 || data_id_ == 1) {
        const auto calibration = field(44);
        if (!calibration)
            return TD_EREADATT;
        for (std::size_t k = 0; k < n; ++k) {
            const int v = value_of(words[k]);
            floats[k] = *calibration == 0 ? td::raw_count(v)
                        : data_id_ == 0   ? td::albedo_percent(v)
                                          : td::temperature_celsius(v);
        }
        return TD_NOERR;
    }
    const auto channel = field(48);
    if (!channel)
        return TD_EREADATT;
    if (*channel < 101 || *channel > 105)
        return TD_ECHANNEL;
    for (std::size_t k = 0; k < n; ++k)
        floats[k] = *channel == 105 ? td::scan_time_hours(static_cast<std::int16_t>(words[k]))
                                    : td::angle_degrees(words[k]);
    return TD_NOERR;
}

const char* ExpectedReads::check(int varid, const Index2& start, const Index2& count, int value_type,
                                 int status, const void* values) const
{
    std::vector<float> floats;
    std::vector<std::uint8_t> bytes;
    const int expected = read(varid, start, count, value_type, floats, bytes);
    if (status != expected)
        return "a read gave another status than its bytes call for";
    if (status != TD_NOERR)
        return nullptr;
    const std::size_t n = std::size_t{count[0]} * count[1];
    if (value_type == TD_BYTE)
        return std::memcmp(bytes.data(), values, n) == 0 ? nullptr : "a read gave other bytes than stored";
    const auto* got = static_cast<const float*>(values);
    for (std::size_t k = 0; k < n; ++k)
        if (!same_bits(got[k], floats[k]))
            return "a read gave other values than stored";
    return nullptr;
}

} // namespace fuzz
