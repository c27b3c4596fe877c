// dataset_metadata.h - what the driver tells about a dataset beyond its
// pixels, as the library says it: the header attributes as tdfinfo shows
// them, the kind, storage, unit and orbit start time, and the
// georeferencing of a linear or Mercator grid, arranged into GDAL's
// metadata domains.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dataset_info.h"

namespace tdgdal {

using MetadataList = std::vector<std::pair<std::string, std::string>>;

// Where the grid lies: an EPSG code (4326 for a linear grid, 3857 for a
// Mercator one) and GDAL's geotransform in its units.
struct Georeference {
    int epsg = 0;
    std::array<double, 6> transform{};
};

// The metadata of a dataset, domain by domain.
struct DatasetMetadata {
    tdi::DatasetInfo info;   // dimensions, variables, attributes, kind, storage, time
    MetadataList essentials; // default domain
    MetadataList attributes; // "TIDEWELL": all header attributes
    MetadataList imagery;    // "IMAGERY": ACQUISITIONDATETIME, SATELLITEID
    std::string unit;        // of the data variable
    std::optional<Georeference> georeference;
};

// Reads it all from a dataset the caller has opened as `id` (and keeps
// open).  Returns 0, or the status of the first failing call with
// `failure` naming the item.
[[nodiscard]] int read_metadata(int id, const std::string& path, DatasetMetadata& out, tdi::Failure& failure);

// An attribute's value as the metadata shows it: the name of an enumerated
// attribute's code (the code as a number when it has none), a scaled one
// as a decimal, a short one as an integer.
std::string attribute_text(const tdi::AttributeInfo& attribute);

} // namespace tdgdal
