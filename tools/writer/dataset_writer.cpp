// dataset_writer.cpp - Tidewell datasets for tests.
//
// This is a second, independent description of the file format: it keeps
// its own table of field offsets and its own rules for the row layout, so a
// mistake in the library's tables shows up as a test failure instead of
// being repeated here.  Only the compression coder is shared.
#include "dataset_writer.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <utility>

#include "compressed_area.h"

namespace tdw {

namespace {

struct FieldOffset {
    std::string_view name;
    int offset;
};

// Every named 16-bit field of the header block, in offset order.
constexpr std::array<FieldOffset, 59> kFields{{
    {"satellite_id", 0},
    {"satellite_type", 2},
    {"data_set_type", 4},
    {"projection_type", 6},
    {"start_latitude", 8},
    {"end_latitude", 10},
    {"start_longitude", 12},
    {"end_longitude", 14},
    {"resolution", 16},
    {"polar_grid_size", 22},
    {"polar_grid_points", 24},
    {"polar_hemisphere", 26},
    {"polar_prime_longitude", 28},
    {"grid_ioffset", 30},
    {"grid_joffset", 32},
    {"rows", 34},
    {"columns", 36},
    {"composite_type", 42},
    {"calibration_type", 44},
    {"fill_type", 46},
    {"channel_number", 48},
    {"data_id", 50},
    {"sun_normalization", 52},
    {"limb_correction", 54},
    {"nonlinearity_correction", 56},
    {"orbits_processed", 58},
    {"channels_produced", 60},
    {"channel_pixel_size", 62},
    {"channel_start_block", 64},
    {"channel_end_block", 66},
    {"ancillaries_produced", 68},
    {"ancillary_pixel_size", 70},
    {"ancillary_start_block", 72},
    {"ancillary_end_block", 74},
    {"image_block_size", 76},
    {"compression_type", 78},
    {"percent_non_zero", 82},
    {"horizontal_shift", 84},
    {"vertical_shift", 86},
    {"horizontal_skew", 88},
    {"vertical_skew", 90},
    {"orbit_type", 100},
    {"orbit_time", 102},
    {"start_row", 104},
    {"start_column", 106},
    {"end_row", 108},
    {"end_column", 110},
    {"orbit_start_year", 112},
    {"orbit_start_day", 114},
    {"orbit_start_month_day", 116},
    {"orbit_start_hour_minute", 118},
    {"orbit_start_second", 120},
    {"orbit_start_millisecond", 122},
    {"orbit_end_year", 124},
    {"orbit_end_day", 126},
    {"orbit_end_month_day", 128},
    {"orbit_end_hour_minute", 130},
    {"orbit_end_second", 132},
    {"orbit_end_millisecond", 134},
}};

constexpr int kDefinedBytes = 136;
constexpr int kCompressedHeaderBytes = 1024;

// Bytes per stored sample of a data kind.  Unknown kinds are laid out like
// ancillary data so hostile headers still get a file of a sensible size.
int pixel_size_of(std::int16_t data_id)
{
    return data_id == kCloud ? 1 : 2;
}

std::int16_t default_channel(std::int16_t data_id)
{
    switch (data_id) {
    case kVisible:
        return 1; // avhrr_ch1
    case kAncillary:
        return 101; // scan_angle
    case kCloud:
        return 401; // cloud
    default:
        return 4; // avhrr_ch4
    }
}

void put_be16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t word)
{
    bytes[at] = static_cast<std::uint8_t>(word >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(word & 0xFF);
}

// The stored form of one sample of the data variable.
void put_sample(std::vector<std::uint8_t>& bytes, std::size_t at, const DatasetDescription& desc, int row,
                int column)
{
    const int value = desc.value ? desc.value(row, column) : 0;
    if (desc.data_id == kCloud) {
        if (value < 0 || value > 255)
            throw std::invalid_argument("cloud sample outside 0..255");
        bytes[at] = static_cast<std::uint8_t>(value);
        return;
    }
    if (desc.data_id == kVisible || desc.data_id == kInfrared) {
        const int nibble = desc.nibble ? desc.nibble(row, column) : 0;
        put_be16(bytes, at, sample_word(value, nibble));
        return;
    }
    if (value < -32768 || value > 65535)
        throw std::invalid_argument("16-bit sample outside -32768..65535");
    put_be16(bytes, at, static_cast<std::uint16_t>(value & 0xFFFF));
}

// Header fields in the order they are applied: defaults, then the desc's own.
std::vector<std::pair<int, std::int16_t>> header_words(const DatasetDescription& desc)
{
    std::vector<std::pair<int, std::int16_t>> words{
        {field_offset("satellite_id"), static_cast<std::int16_t>(0xD5D1)},
        {field_offset("calibration_type"), 2},
        {field_offset("channel_number"), default_channel(desc.data_id)},
        {field_offset("data_id"), desc.data_id},
        {field_offset("rows"), desc.rows},
        {field_offset("columns"), desc.columns},
        {field_offset("channel_pixel_size"), 2},
        {field_offset("ancillary_pixel_size"), 2},
        {field_offset("compression_type"), static_cast<std::int16_t>(desc.compressed ? 2 : 0)},
    };
    for (const auto& [name, value] : desc.fields)
        words.emplace_back(field_offset(name), value);
    return words;
}

// End of the header: the 136 defined bytes, or further when a field is set
// beyond them ("reserved@N").
std::size_t header_end(const std::vector<std::pair<int, std::int16_t>>& words)
{
    std::size_t end = kDefinedBytes;
    for (const auto& [offset, value] : words)
        end = std::max(end, static_cast<std::size_t>(offset) + 2);
    return end;
}

std::size_t dimension_or_zero(std::int16_t n)
{
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// The uncompressed image of the file: header row slot 0 of W bytes, then one
// slot of W bytes per row.  The 136 defined header bytes are always present;
// when W is smaller they overlap row 0 (and further rows), and the header
// wins: it is written last.
std::vector<std::uint8_t> build_plain(const DatasetDescription& desc)
{
    const auto ps = static_cast<std::size_t>(pixel_size_of(desc.data_id));
    const std::size_t rows = dimension_or_zero(desc.rows);
    const std::size_t columns = dimension_or_zero(desc.columns);
    const std::size_t width = columns * ps;
    const auto words = header_words(desc);

    std::vector<std::uint8_t> bytes(std::max(width * (rows + 1), header_end(words)), 0);
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t c = 0; c < columns; ++c)
            put_sample(bytes, width * (r + 1) + c * ps, desc, static_cast<int>(r), static_cast<int>(c));
    // The defined header bytes win over data rows lying under them.
    std::fill_n(bytes.begin(), kDefinedBytes, std::uint8_t{0});
    for (const auto& [offset, value] : words)
        put_be16(bytes, static_cast<std::size_t>(offset), static_cast<std::uint16_t>(value));
    return bytes;
}

std::vector<std::uint8_t> build_compressed(const DatasetDescription& desc)
{
    if (desc.data_id != kVisible && desc.data_id != kInfrared)
        throw std::invalid_argument("only visible and infrared datasets can be compressed");
    const std::vector<std::uint8_t> plain = build_plain(desc);
    // The header block carries the first min(W, 1024) bytes of slot 0, and
    // never fewer than the header fields that were set.
    const std::size_t end = header_end(header_words(desc));
    if (end > static_cast<std::size_t>(kCompressedHeaderBytes))
        throw std::invalid_argument("header field beyond the 1024-byte header block");
    const std::size_t carried =
        std::min<std::size_t>(std::max(dimension_or_zero(desc.columns) * 2, end), kCompressedHeaderBytes);

    std::vector<std::uint8_t> bytes(kCompressedHeaderBytes, 0);
    std::copy_n(plain.begin(), carried, bytes.begin());
    detail::append_compressed_stream(bytes, desc);
    return bytes;
}

} // namespace

int field_offset(std::string_view name)
{
    for (const auto& field : kFields)
        if (field.name == name)
            return field.offset;
    constexpr std::string_view reserved = "reserved@";
    if (name.starts_with(reserved)) {
        const std::string_view digits = name.substr(reserved.size());
        int offset = -1;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), offset);
        if (ec == std::errc() && end == digits.data() + digits.size() && !digits.empty() && offset >= 0 &&
            offset <= 1 << 24)
            return offset;
    }
    throw std::invalid_argument("unknown header field: " + std::string(name));
}

void set_field(std::vector<std::uint8_t>& bytes, std::string_view name, std::int16_t value)
{
    const auto offset = static_cast<std::size_t>(field_offset(name));
    if (offset + 2 > bytes.size())
        throw std::out_of_range("header field beyond the end of the file: " + std::string(name));
    put_be16(bytes, offset, static_cast<std::uint16_t>(value));
}

std::uint16_t sample_word(int value, int nibble)
{
    if (value < -2047 || value > 2047)
        throw std::invalid_argument("sample value outside -2047..2047");
    if (nibble < 0 || nibble > 15)
        throw std::invalid_argument("graphics nibble outside 0..15");
    const unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
    const unsigned sign = value < 0 ? 0x8000u : 0u;
    return static_cast<std::uint16_t>(sign | (magnitude << 4) | static_cast<unsigned>(nibble));
}

std::vector<std::uint8_t> build_dataset(const DatasetDescription& desc)
{
    return desc.compressed ? build_compressed(desc) : build_plain(desc);
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot create " + path);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void write_dataset(const std::string& path, const DatasetDescription& desc)
{
    write_bytes(path, build_dataset(desc));
}

std::vector<std::uint8_t> build_truncated(const DatasetDescription& desc, std::size_t length)
{
    std::vector<std::uint8_t> bytes = build_dataset(desc);
    if (length < bytes.size())
        bytes.resize(length);
    return bytes;
}

void write_empty(const std::string& path)
{
    write_bytes(path, {});
}

} // namespace tdw
