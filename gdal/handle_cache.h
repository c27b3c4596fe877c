// handle_cache.h - the driver's only way into the td_ library: one lock
// around every call, and a small cache of open dataset ids.
//
// The library keeps one process-wide table of 100 open datasets and is not
// thread-safe.  GDAL may keep far more datasets open (a mosaic of hundreds
// of files) and read them from several threads, so a GDAL dataset does not
// hold a library id for its life: it names its file as a Source, and each
// read borrows an id from a least-recently-used cache of a few open ids.
// Keeping ids open between reads matters: the first read of a compressed
// dataset walks its whole stream to index the rows, which must not be
// repeated per block.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace tdgdal {

// What a file was when a GDAL dataset opened it; a cached id is only
// reopened on a file that still matches, so a dataset replaced on disk is
// never read as if it were the one described at open.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified_ns = 0;
    bool operator==(const FileIdentity& other) const = default;
};

// The identity of the file the library opened as `id`.
FileIdentity file_identity(int id);

// A status of this layer beyond the library's 0 to 51.
inline constexpr int kFileChanged = 1000;

// The message of a library status, or of kFileChanged.
std::string status_message(int status);

// The lock that every td_ call of the driver holds.
std::unique_lock<std::mutex> lock_library();

// One file as a GDAL dataset reads it: an absolute path and the identity it
// had at open.  Sources with equal path and identity share one cached id.
// Construct and destroy without the lock held.
class Source {
public:
    Source(std::string path, const FileIdentity& identity);
    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    const std::string& path() const { return path_; }

    // Runs `read` with an open dataset id of this file, under the library
    // lock, opening the file if no id is cached; returns the status of the
    // open or of `read`.  `read` must call nothing but td_ operations.
    [[nodiscard]] int with_id(const std::function<int(int id)>& read) const;

private:
    std::string path_;
    std::string key_;
    FileIdentity identity_;
};

// The most ids kept open at once: the configuration option
// TIDEWELL_MAX_OPEN_DATASETS (1 to 90), 64 by default.
int cache_capacity();

} // namespace tdgdal
