// archive_walk.h - the files below the source folder that may be datasets,
// the shard each belongs to, and the name of its quicklook.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tdb {

// Which datasets one run converts: those whose relative path hashes to
// `index` of `count`.
struct Shard {
    std::uint64_t index = 0;
    std::uint64_t count = 1;
    bool holds(std::string_view relative_path) const;
};

// FNV-1a, 64 bits.  The shard of a dataset is fnv1a64 of its relative path
// ("2024/061/pass 01.tdf": the bytes of the names, "/" between them, no
// leading "./") modulo the number of shards.
std::uint64_t fnv1a64(std::string_view bytes);

struct SourceFile {
    std::string path;            // relative to the source folder
    std::string output;          // the quicklook's path relative to the output folder
    std::string output_taken_by; // another file whose quicklook has the same name, if any
    std::uint64_t size = 0;
    std::int64_t mtime_ns = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// The quicklook name of a relative path: a final ".tdf" (any case) becomes
// ".gif"; any other name gets ".gif" appended.
std::string quicklook_name(std::string_view relative_path);

struct WalkProblem {
    std::string path; // as given below the source folder
    int error = 0;    // errno value
};

// Walks `source` recursively in byte order of the names.  Names that begin
// with "." (hidden files and folders, the temporary files of transfers) are
// passed over, as are folders reached through symbolic links and the folder
// `skip` (the output folder when it lies inside the source).  Regular files,
// and symbolic links to them, of the shard are listed with their status.
// Folders that cannot be read are reported in `problems`.
std::vector<SourceFile> walk_source(const std::string& source, const Shard& shard, const std::string& skip,
                                    std::vector<WalkProblem>& problems);

} // namespace tdb
