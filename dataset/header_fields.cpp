// header_fields.cpp - the constant tables that describe the header block
// and the read of one 16-bit big-endian field.
#include "header_fields.h"

#include <array>
#include <cstring>
#include <utility>

#include "registry.h"

namespace td {

namespace {

using K = FieldKind;

constexpr std::int16_t code16(std::uint16_t stored)
{
    return static_cast<std::int16_t>(stored);
}

// Value lists of the enumerated fields.  The satellite codes are not in the
// order of the names: hesk-12 is 0xD5C4, and there is no satellite 13.
constexpr std::array<CodeName, 11> kSatellites{{
    {"hesk-6", code16(0xD5C1)},
    {"hesk-7", code16(0xD5C3)},
    {"hesk-8", code16(0xD5C5)},
    {"hesk-9", code16(0xD5C6)},
    {"hesk-10", code16(0xD5C7)},
    {"hesk-11", code16(0xD5C8)},
    {"hesk-12", code16(0xD5C4)},
    {"hesk-14", code16(0xD5D1)},
    {"hesk-15", code16(0xD5D2)},
    {"hesk-16", code16(0xD5D3)},
    {"hesk-17", code16(0xD5D4)},
}};

constexpr std::array<CodeName, 2> kSatelliteTypes{{{"morning", 0}, {"afternoon", 1}}};

constexpr std::array<CodeName, 3> kDataSetTypes{{{"lac", 1}, {"gac", 2}, {"hrpt", 3}}};

constexpr std::array<CodeName, 4> kProjections{{
    {"unmapped", 0},
    {"mercator", 1},
    {"polar", 2},
    {"linear", 3},
}};

constexpr std::array<CodeName, 6> kComposites{{
    {"none", 0},
    {"nadir", 1},
    {"average", 2},
    {"latest", 3},
    {"warmest", 4},
    {"coldest", 5},
}};

constexpr std::array<CodeName, 2> kCalibrations{{{"raw", 0}, {"albedo_temperature", 2}}};

constexpr std::array<CodeName, 3> kFills{{{"none", 0}, {"average", 1}, {"adjacent", 2}}};

constexpr std::array<CodeName, 23> kChannels{{
    {"avhrr_ch1", 1},       {"avhrr_ch2", 2},      {"avhrr_ch3", 3},     {"avhrr_ch4", 4},
    {"avhrr_ch5", 5},       {"mcsst", 6},          {"scan_angle", 101},  {"sat_zenith", 102},
    {"solar_zenith", 103},  {"rel_azimuth", 104},  {"scan_time", 105},   {"mcsst_split", 201},
    {"mcsst_dual", 202},    {"mcsst_triple", 203}, {"cpsst_split", 204}, {"cpsst_dual", 205},
    {"cpsst_triple", 206},  {"nlsst_split", 207},  {"nlsst_dual", 208},  {"nlsst_triple", 209},
    {"ocean_reflect", 301}, {"turbidity", 302},    {"cloud", 401},
}};

constexpr std::array<CodeName, 4> kDataIds{{
    {"visible", 0},
    {"infrared", 1},
    {"ancillary", 2},
    {"cloud", 3},
}};

constexpr std::array<CodeName, 2> kNoYes{{{"no", 0}, {"yes", 1}}};

constexpr std::array<CodeName, 2> kCompressions{{{"none", 0}, {"1b", 2}}};

constexpr std::array<CodeName, 2> kOrbitTypes{{{"ascending", -1}, {"descending", 1}}};

constexpr std::array<CodeName, 2> kOrbitTimes{{{"day", 0}, {"night", 1}}};

constexpr std::span<const CodeName> kNone{};

constexpr Attribute enumerated(std::string_view name, std::int16_t offset, std::span<const CodeName> values,
                               std::int16_t read_only = 0)
{
    return {name, offset, values, read_only, 0, K::enumerated};
}

constexpr Attribute plain(std::string_view name, std::int16_t offset, std::int16_t read_only = 0)
{
    return {name, offset, kNone, read_only, 0, K::plain_short};
}

constexpr Attribute scaled(std::string_view name, std::int16_t offset, std::int16_t scale)
{
    return {name, offset, kNone, 0, scale, K::scaled};
}

// The attributes in attribute-number order, which is also the search order.
constexpr std::array<Attribute, 57> kAttributes{{
    enumerated("satellite_id", 0, kSatellites),           // 0
    enumerated("satellite_type", 2, kSatelliteTypes),     // 1
    enumerated("data_set_type", 4, kDataSetTypes),        // 2
    enumerated("projection_type", 6, kProjections),       // 3
    scaled("start_latitude", 8, 128),                     // 4
    scaled("end_latitude", 10, 128),                      // 5
    scaled("start_longitude", 12, 128),                   // 6
    scaled("end_longitude", 14, 128),                     // 7
    scaled("resolution", 16, 100),                        // 8
    plain("polar_grid_size", 22),                         // 9
    plain("polar_grid_points", 24),                       // 10
    plain("polar_hemisphere", 26),                        // 11
    plain("polar_prime_longitude", 28),                   // 12
    plain("grid_ioffset", 30),                            // 13
    plain("grid_joffset", 32),                            // 14
    enumerated("composite_type", 42, kComposites),        // 15
    enumerated("calibration_type", 44, kCalibrations, 1), // 16
    enumerated("fill_type", 46, kFills),                  // 17
    enumerated("channel_number", 48, kChannels, 1),       // 18
    enumerated("data_id", 50, kDataIds, 1),               // 19
    enumerated("sun_normalization", 52, kNoYes),          // 20
    enumerated("limb_correction", 54, kNoYes),            // 21
    enumerated("nonlinearity_correction", 56, kNoYes),    // 22
    plain("orbits_processed", 58),                        // 23
    plain("channels_produced", 60, 1),                    // 24
    plain("channel_pixel_size", 62, 1),                   // 25
    plain("channel_start_block", 64),                     // 26
    plain("channel_end_block", 66),                       // 27
    plain("ancillaries_produced", 68, 1),                 // 28
    plain("ancillary_pixel_size", 70, 1),                 // 29
    plain("ancillary_start_block", 72),                   // 30
    plain("ancillary_end_block", 74),                     // 31
    plain("image_block_size", 76),                        // 32
    enumerated("compression_type", 78, kCompressions, 1), // 33
    plain("percent_non_zero", 82),                        // 34
    plain("horizontal_shift", 84),                        // 35
    plain("vertical_shift", 86),                          // 36
    plain("horizontal_skew", 88),                         // 37
    plain("vertical_skew", 90),                           // 38
    enumerated("orbit_type", 100, kOrbitTypes),           // 39
    enumerated("orbit_time", 102, kOrbitTimes),           // 40
    plain("start_row", 104),                              // 41
    plain("start_column", 106),                           // 42
    plain("end_row", 108),                                // 43
    plain("end_column", 110),                             // 44
    plain("orbit_start_year", 112),                       // 45
    plain("orbit_start_day", 114),                        // 46
    plain("orbit_start_month_day", 116),                  // 47
    plain("orbit_start_hour_minute", 118),                // 48
    plain("orbit_start_second", 120),                     // 49
    plain("orbit_start_millisecond", 122),                // 50
    plain("orbit_end_year", 124),                         // 51
    plain("orbit_end_day", 126),                          // 52
    plain("orbit_end_month_day", 128),                    // 53
    plain("orbit_end_hour_minute", 130),                  // 54
    plain("orbit_end_second", 132),                       // 55
    plain("orbit_end_millisecond", 134),                  // 56
}};

constexpr std::array<Dimension, 2> kDimensions{{{"rows", 34}, {"columns", 36}}};

// The table's own consistency: even offsets inside the defined bytes, in
// increasing order, and a value list exactly for the enumerated fields.
constexpr bool attributes_consistent()
{
    std::int16_t previous = -2;
    for (const Attribute& a : kAttributes) {
        if (a.offset % 2 != 0 || a.offset <= previous || a.offset + 2 > kDefinedHeaderBytes)
            return false;
        if ((a.kind == K::enumerated) != !a.values.empty())
            return false;
        if ((a.kind == K::scaled) != (a.scale != 0))
            return false;
        previous = a.offset;
    }
    return true;
}
static_assert(attributes_consistent());
static_assert(kAttributes[18].name == "channel_number" && kAttributes[18].offset == kOffsetChannelNumber);
static_assert(kAttributes[19].name == "data_id" && kAttributes[19].offset == kOffsetDataId);
static_assert(kAttributes[33].offset == kOffsetCompressionType);
static_assert(kAttributes[3].name == "projection_type" && kAttributes[3].offset == kOffsetProjectionType);
static_assert(kAttributes[4].offset == kOffsetStartLatitude && kAttributes[5].offset == kOffsetEndLatitude &&
              kAttributes[6].offset == kOffsetStartLongitude &&
              kAttributes[7].offset == kOffsetEndLongitude && kAttributes[4].scale == kDegreeScale);
static_assert(kAttributes[45].name == "orbit_start_year" && kAttributes[45].offset == kOffsetOrbitStartYear &&
              kAttributes[46].offset == kOffsetOrbitStartDay &&
              kAttributes[48].offset == kOffsetOrbitStartHourMinute &&
              kAttributes[49].offset == kOffsetOrbitStartSecond &&
              kAttributes[50].offset == kOffsetOrbitStartMillisecond);
static_assert(kDimensions[0].offset == kOffsetRows && kDimensions[1].offset == kOffsetColumns);

} // namespace

std::span<const Attribute> attribute_table() noexcept
{
    return kAttributes;
}

std::span<const Dimension> dimension_table() noexcept
{
    return kDimensions;
}

std::optional<int> find_attribute(std::string_view name) noexcept
{
    for (std::size_t i = 0; i < kAttributes.size(); ++i)
        if (kAttributes[i].name == name)
            return static_cast<int>(i);
    return std::nullopt;
}

std::optional<int> find_dimension(std::string_view name) noexcept
{
    for (std::size_t i = 0; i < kDimensions.size(); ++i)
        if (kDimensions[i].name == name)
            return static_cast<int>(i);
    return std::nullopt;
}

std::optional<std::string_view> name_of_code(int attribute, std::int16_t code) noexcept
{
    if (attribute < 0 || attribute >= static_cast<int>(kAttributes.size()))
        return std::nullopt;
    for (const CodeName& v : kAttributes[static_cast<std::size_t>(attribute)].values)
        if (v.code == code)
            return v.name;
    return std::nullopt;
}

std::optional<std::int16_t> code_of_name(int attribute, std::string_view name) noexcept
{
    if (attribute < 0 || attribute >= static_cast<int>(kAttributes.size()))
        return std::nullopt;
    for (const CodeName& v : kAttributes[static_cast<std::size_t>(attribute)].values)
        if (v.name == name)
            return v.code;
    return std::nullopt;
}

int read_field(Stream& stream, std::int64_t offset, std::int16_t& value)
{
    unsigned char bytes[2] = {0, 0};
    if (stream.read_head(offset, bytes, sizeof bytes) != sizeof bytes)
        return -2;
    if (host_swaps())
        std::swap(bytes[0], bytes[1]);
    std::memcpy(&value, bytes, sizeof value);
    return 0;
}

} // namespace td
