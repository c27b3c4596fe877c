// header_fields.h - the layout of the header block: the attribute table,
// the dimension table, the value lists of enumerated fields and the read
// of one 16-bit big-endian field.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "stream.h"

namespace td {

// Byte offsets of the fields the library itself uses.
inline constexpr std::int64_t kOffsetSatelliteId = 0;
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

// The first byte of every dataset file (the high byte of satellite_id).
inline constexpr unsigned char kMagic = 0xD5;
// The defined fields occupy bytes 0 to 135 of the header block.
inline constexpr std::int64_t kDefinedHeaderBytes = 136;
// Length of the header block in the compressed form.
inline constexpr std::int64_t kCompressedHeaderBytes = 1024;

enum class FieldKind : std::int16_t { enumerated = 1, plain_short = 2, scaled = 3 };

struct CodeName {
    std::string_view name;
    std::int16_t code;
};

struct Attribute {
    std::string_view name;
    std::int16_t offset;
    std::span<const CodeName> values;  // empty for short and scaled fields
    std::int16_t read_only;            // 1 or 0
    std::int16_t scale;                // 128 or 100 for scaled fields, else 0
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

// Reads one 16-bit big-endian field at a byte offset of the stream (through
// the stream's copy of the header block, see stream.h).  Returns 0 and the
// signed value, or a negative value when fewer than two bytes can be read.  Callers map a failure to their own
// status (30 for a dimension length, 31 otherwise).
[[nodiscard]] int read_field(Stream& stream, std::int64_t offset, std::int16_t& value);

} // namespace td
