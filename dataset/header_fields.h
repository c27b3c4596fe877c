// header_fields.h - the layout of the header block: the attribute table,
// the dimension table, the value lists of enumerated fields and the read
// of one 16-bit big-endian field.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "stream.h"
#include "tidewell.h"

namespace td {

// Byte offsets of the fields the library itself uses.
inline constexpr std::int64_t kOffsetSatelliteId = 0;
inline constexpr std::int64_t kOffsetProjectionType = 6;
inline constexpr std::int64_t kOffsetStartLatitude = 8;
inline constexpr std::int64_t kOffsetEndLatitude = 10;
inline constexpr std::int64_t kOffsetStartLongitude = 12;
inline constexpr std::int64_t kOffsetEndLongitude = 14;
inline constexpr std::int64_t kOffsetRows = 34;
inline constexpr std::int64_t kOffsetColumns = 36;
inline constexpr std::int64_t kOffsetCalibrationType = 44;
inline constexpr std::int64_t kOffsetChannelNumber = 48;
inline constexpr std::int64_t kOffsetDataId = 50;
inline constexpr std::int64_t kOffsetChannelPixelSize = 62;
inline constexpr std::int64_t kOffsetAncillaryPixelSize = 70;
inline constexpr std::int64_t kOffsetCompressionType = 78;
inline constexpr std::int64_t kOffsetHorizontalShift = 84;
inline constexpr std::int64_t kOffsetVerticalShift = 86;
inline constexpr std::int64_t kOffsetOrbitStartYear = 112;
inline constexpr std::int64_t kOffsetOrbitStartDay = 114;
inline constexpr std::int64_t kOffsetOrbitStartHourMinute = 118;
inline constexpr std::int64_t kOffsetOrbitStartSecond = 120;
inline constexpr std::int64_t kOffsetOrbitStartMillisecond = 122;

// The scale of the four latitude and longitude fields: value = stored / 128.
inline constexpr double kDegreeScale = 128.0;

// Codes of the enumerated fields the library itself interprets.
inline constexpr std::int16_t kDataIdVisible = 0;
inline constexpr std::int16_t kDataIdInfrared = 1;
inline constexpr std::int16_t kDataIdAncillary = 2;
inline constexpr std::int16_t kDataIdCloud = 3;
inline constexpr std::int16_t kProjectionMercator = 1;
inline constexpr std::int16_t kProjectionLinear = 3;
inline constexpr std::int16_t kCompressionNone = 0;
inline constexpr std::int16_t kCompression1b = 2;

// The first byte of every dataset file (the high byte of satellite_id).
inline constexpr unsigned char kMagic = 0xD5;
// The defined fields occupy bytes 0 to 135 of the header block.
inline constexpr std::int64_t kDefinedHeaderBytes = 136;

enum class FieldKind : std::int16_t { enumerated = 1, plain_short = 2, scaled = 3 };

struct CodeName {
    std::string_view name;
    std::int16_t code;
};

struct Attribute {
    std::string_view name;
    std::int16_t offset;
    std::span<const CodeName> values; // empty for short and scaled fields
    std::int16_t read_only;           // 1 or 0
    std::int16_t scale;               // 128 or 100 for scaled fields, else 0
    FieldKind kind;
};

struct Dimension {
    std::string_view name;
    std::int16_t offset;
};

// The 57 attributes in attribute-number order (which is the search order).
std::span<const Attribute> attribute_table() noexcept;
// "rows" (id 0) and "columns" (id 1).
std::span<const Dimension> dimension_table() noexcept;

// Attribute number 0 to 56 of a name, matched exactly.
std::optional<int> find_attribute(std::string_view name) noexcept;
// Dimension id 0 or 1 of a name, matched exactly.
std::optional<int> find_dimension(std::string_view name) noexcept;
// Name of a code in an attribute's value list.
std::optional<std::string_view> name_of_code(int attribute, std::int16_t code) noexcept;
// Code of a name in an attribute's value list.
std::optional<std::int16_t> code_of_name(int attribute, std::string_view name) noexcept;

// The checks td_open makes of the header fields it reads, shared with the
// recognition of a dataset from its first bytes (td_identify).  `read`
// reads the 16-bit field at a byte offset: bool read(std::int64_t offset,
// std::int16_t& value), false when it cannot.
struct OpenFields {
    std::int16_t data_id = -1;
    std::int16_t rows = -1;
    std::int16_t columns = -1;
    std::int16_t pixel_size = 0; // 2, or 1 for cloud data
    std::int16_t graphics = -1;  // 1 with a graphics variable, -1 without
};

// Returns 0, TD_EREADATT when a field cannot be read, TD_EPIXSIZE for a
// pixel size other than 2, or TD_EDATAID for an unknown data_id.
template <class Read>
[[nodiscard]] int check_open_fields(Read&& read, OpenFields& out)
{
    if (!read(kOffsetDataId, out.data_id) || !read(kOffsetRows, out.rows) ||
        !read(kOffsetColumns, out.columns))
        return TD_EREADATT;
    switch (out.data_id) {
    case kDataIdVisible:
    case kDataIdInfrared:
    case kDataIdAncillary: {
        const bool ancillary = out.data_id == kDataIdAncillary;
        if (!read(ancillary ? kOffsetAncillaryPixelSize : kOffsetChannelPixelSize, out.pixel_size))
            return TD_EREADATT;
        if (out.pixel_size != 2)
            return TD_EPIXSIZE;
        out.graphics = ancillary ? -1 : 1;
        return 0;
    }
    case kDataIdCloud:
        out.pixel_size = 1;
        out.graphics = -1;
        return 0;
    default:
        return TD_EDATAID;
    }
}

// Reads one 16-bit big-endian field at a byte offset of the stream (through
// the stream's copy of the header block, see stream.h).  Returns 0 and the
// signed value, or a negative value when fewer than two bytes can be read.  Callers map a failure to their
// own status (30 for a dimension length, 31 otherwise).
[[nodiscard]] int read_field(Stream& stream, std::int64_t offset, std::int16_t& value);

} // namespace td
