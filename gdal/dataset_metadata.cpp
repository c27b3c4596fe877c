// dataset_metadata.cpp - the metadata domains of a dataset, from the
// library's answers.
#include "dataset_metadata.h"

#include <array>
#include <vector>

#include "georeference.h"
#include "tidewell.h"

namespace tdgdal {

namespace {

const tdi::AttributeInfo* find_attribute(const tdi::DatasetInfo& info, std::string_view name)
{
    for (const tdi::AttributeInfo& attribute : info.attributes)
        if (attribute.name == name)
            return &attribute;
    return nullptr;
}

// Where the grid lies, if the dataset has one that GDAL can place.
[[nodiscard]] int read_georeference(int id, const tdi::DatasetInfo& info, std::optional<Georeference>& out)
{
    out.reset();
    if (info.rows < 2 || info.columns < 2)
        return TD_NOERR;
    std::vector<double> latitudes(static_cast<std::size_t>(info.rows));
    std::vector<double> longitudes(static_cast<std::size_t>(info.columns));
    int grid = TD_GRID_NONE;
    if (const int s = td_gridinq(id, &grid, latitudes.data(), longitudes.data()); s != TD_NOERR)
        return s;
    if (grid == TD_GRID_NONE)
        return TD_NOERR;
    const GridCorners corners{grid, latitudes.front(), latitudes.back(), longitudes.front(),
                              longitudes.back()};
    if (const std::optional<GridPlacement> placed = place_grid(corners, info.rows, info.columns))
        out = Georeference{placed->epsg, placed->transform};
    return TD_NOERR;
}

} // namespace

std::string attribute_text(const tdi::AttributeInfo& attribute)
{
    if (attribute.kind == TD_ATT_ENUMERATED)
        return attribute.code_name ? *attribute.code_name : std::to_string(attribute.stored);
    return tdi::scaled_decimal(attribute.stored, attribute.scale);
}

int read_metadata(int id, const std::string& path, DatasetMetadata& out, tdi::Failure& failure)
{
    out = DatasetMetadata{};
    if (const int s = tdi::read_open_info(id, path, out.info, failure); s != TD_NOERR)
        return s;
    const tdi::DatasetInfo& info = out.info;
    std::array<char, TD_UNITS_SIZE> units{};
    if (const int s = td_unitsinq(id, units.data(), nullptr, nullptr); s != TD_NOERR) {
        failure = {s, path + ": units"};
        return s;
    }
    out.unit = units.data();
    if (const int s = read_georeference(id, info, out.georeference); s != TD_NOERR) {
        failure = {s, path + ": grid"};
        return s;
    }

    for (const tdi::AttributeInfo& attribute : info.attributes)
        out.attributes.emplace_back(attribute.name, attribute_text(attribute));
    auto text_of = [&](std::string_view name) {
        const tdi::AttributeInfo* attribute = find_attribute(info, name);
        return attribute != nullptr ? attribute_text(*attribute) : std::string();
    };
    out.essentials = {
        {"satellite", text_of("satellite_id")},
        {"variable", info.variables.empty() ? std::string() : info.variables.front().name},
        {"data_kind", info.data_kind},
        {"storage", info.storage},
        {"projection", text_of("projection_type")},
    };
    for (const char* corner : {"start_latitude", "end_latitude", "start_longitude", "end_longitude"})
        out.essentials.emplace_back(corner, text_of(corner));
    if (out.georeference)
        out.essentials.emplace_back("georeferencing",
                                    "start/end latitude and longitude are corner pixel centres");

    if (info.orbit_start)
        out.imagery.emplace_back("ACQUISITIONDATETIME", *info.orbit_start);
    const tdi::AttributeInfo* satellite = find_attribute(info, "satellite_id");
    if (satellite != nullptr && satellite->code_name)
        out.imagery.emplace_back("SATELLITEID", *satellite->code_name);
    return TD_NOERR;
}

} // namespace tdgdal
