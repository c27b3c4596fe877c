// dataset_summary.h - what the report and the browse page show of a
// dataset's header (satellite, data kind, orbit start, dimensions, storage),
// and whether a file is a dataset at all, both as the dataset library says.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tdb {

struct DatasetSummary {
    std::string satellite;            // satellite_id, such as "hesk-14"; empty when unknown
    std::string kind;                 // infrared, visible, scan time, angle, cloud; empty when unknown
    std::string storage;              // plain, compressed or unsupported; empty when unknown
    std::optional<std::int64_t> time; // orbit start, seconds since 1970 UTC; none when invalid
    int rows = -1;                    // -1 when unknown
    int columns = -1;
};

enum class Recognition {
    dataset,       // opened by the library
    damaged,       // the library knows the format but could not open it
    not_a_dataset, // no dataset at all (another format, or an empty file)
};

// Opens the file read-only through the library, reads what it can of the
// summary and closes it again.  For a damaged dataset the summary stays
// empty; for a dataset every field the header gives is filled.
Recognition read_summary(const std::string& path, DatasetSummary& summary);

// "2024-03-01T12:34:56Z" for a time in seconds since 1970 UTC.
std::string utc_text(std::int64_t seconds);

} // namespace tdb
