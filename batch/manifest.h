// manifest.h - what tdfbatch remembers between runs, in OUTPUT/.tdfbatch/
// manifest: for every file of the source folder that it has looked at, the
// size, modification time and inode number it had, whether it is a
// dataset, and for a dataset the outcome of its last conversion, the
// tdftogif options and version it was made with, the quicklook it left and
// the header summary that the report and the page show.
//
// The file is text, one record a line, fields separated by tabs, text
// fields escaped as failure lines are (\\, \t, \n, \r, \xHH), below a first
// line "tdfbatch-manifest 1".  Runs of different shards share it: each
// rewrites it under a lock, replacing the records of its own shard only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "archive_walk.h"
#include "dataset_summary.h"

namespace tdb {

struct Record {
    std::string path;       // relative to the source folder
    bool dataset = true;    // false: a file that is not a dataset
    std::uint64_t size = 0; // of the source when it was looked at
    std::int64_t mtime_ns = 0;
    std::uint64_t inode = 0;
    std::uint64_t config = 0;    // hash of the tdftogif version and options of the last try
    bool ok = false;             // the last conversion succeeded
    int exit_status = -1;        // of the last conversion, 0 to 255; -1: did not exit
    int signal = 0;              // that ended it, 0: none
    std::string message;         // why it failed
    double seconds = 0.0;        // that the last conversion took
    std::int64_t gif_bytes = -1; // the quicklook in place (maybe an earlier one); -1: none
    std::int64_t gif_mtime_ns = 0;
    bool thumbnail = false; // a reduced quicklook for the page is in place
    DatasetSummary summary;
};

using Records = std::map<std::string, Record>;

// The records of a manifest file.  A missing file gives none; lines that
// cannot be read are passed over, so that their datasets are simply
// converted again.  Returns 0 or an errno value.
[[nodiscard]] int read_manifest(const std::string& path, Records& records);

std::string format_manifest(const Records& records);

// Under an exclusive lock of `lock_path`: reads the manifest, replaces the
// records of `shard` by `mine`, writes it back atomically, gives the merged
// records in `merged` and, still under the lock, calls `then` with them (the
// page is written there, so that the last run to finish writes the page of
// all shards).  Returns 0 or an errno value.
[[nodiscard]] int update_manifest(const std::string& path, const std::string& lock_path, const Records& mine,
                                  const Shard& shard, Records& merged,
                                  const std::function<void(const Records&)>& then = {});

// Reads the manifest under the same lock and calls `then` with it.
[[nodiscard]] int with_manifest(const std::string& path, const std::string& lock_path,
                                const std::function<void(const Records&)>& then);

} // namespace tdb
