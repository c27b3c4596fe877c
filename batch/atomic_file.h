// atomic_file.h - files that are either as they were or complete: every
// file tdfbatch writes is made under a temporary name in the folder of its
// final name, flushed to the disk and renamed over it.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace tdb {

// Writes `bytes` as the file `path`: a new file beside it, fsync, rename.
// A file replaced keeps its permission bits; a new one gets 0666 less the
// umask.  Returns 0 or an errno value; on failure the old file (if any) is
// untouched and no temporary file is left.  The temporary file has a name
// of its own, unless `locked` says that every writer of `path` holds one
// lock: then it is always ".NAME.tdfbatch-part", and a writer killed half
// way leaves a file that the next one takes over.
[[nodiscard]] int write_file_atomically(const std::string& path, std::string_view bytes, bool locked = false);

// Flushes a file already written under a temporary name and renames it over
// `path`.  Returns 0 or an errno value (the temporary file is then removed).
[[nodiscard]] int commit_file(const std::string& temporary, const std::string& path);

// Creates a folder and its parents (0777 less the umask).  Returns 0 or an
// errno value.
[[nodiscard]] int make_folders(const std::string& path);

// Folders whose entries changed: flushed together, so that the renames
// into them are on the disk before the manifest says they are done.
class FolderSync {
public:
    void add_parent_of(const std::string& path);
    // Flushes every folder noted since the last call.  Returns 0 or the
    // first errno value.
    int flush();

private:
    std::set<std::string> folders_;
};

// The folder part of a path ("." when it has none).
std::string parent_folder(const std::string& path);

} // namespace tdb
