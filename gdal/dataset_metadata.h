// dataset_metadata.h - what the driver tells about a dataset beyond its
// pixels: the unit of the data, the header attributes as text, the orbit
// start time and the metadata domains made of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dataset_info.h"

namespace tdgdal {

using MetadataList = std::vector<std::pair<std::string, std::string>>;

// The unit of the data variable's values: "%" for calibrated visible data
// (albedo), "°C" for calibrated infrared data, "degrees" for the angle
// channels 101 to 104, "hours" for scan time (105), and none ("") for raw
// counts, cloud bytes and anything else.
std::string data_unit(std::int16_t data_id, std::int16_t calibration_type,
                      std::int16_t channel_number);

// An attribute's value as the metadata shows it: the name of an enumerated
// attribute's code (the code as a number when it has none), a scaled one
// as a decimal, a short one as an integer.
std::string attribute_text(const tdi::AttributeInfo& attribute);

// The orbit start time in ISO 8601 UTC with milliseconds
// ("2024-06-23T13:42:27.500Z"), from the year (below 100 a two-digit year:
// 0-69 are 2000-2069, 70-99 are 1970-1999), day of the year, hours x 100
// + minutes, seconds and milliseconds; nothing when a field is out of its
// range (a millisecond out of 0-999 only drops the fraction).
std::optional<std::string> orbit_start_time(int year, int day_of_year, int hour_minute, int second,
                                            int millisecond);

// The metadata of a dataset, domain by domain.
struct DatasetMetadata {
    MetadataList essentials;   // default domain
    MetadataList attributes;   // "TIDEWELL": all header attributes
    MetadataList imagery;      // "IMAGERY": ACQUISITIONDATETIME, SATELLITEID
    std::string unit;          // of the data variable
};

DatasetMetadata describe(const tdi::DatasetInfo& info);

// The value of an attribute by name, if the dataset has it.
const tdi::AttributeInfo* find_attribute(const tdi::DatasetInfo& info, std::string_view name);

} // namespace tdgdal
