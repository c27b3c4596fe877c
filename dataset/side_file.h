// side_file.h - the new file that replaces a dataset file as a whole.
//
// It is made in the dataset's folder, readable and writable by this user
// alone from its first moment, and without a name where the file system
// allows (O_TMPFILE), so that a process killed while writing it leaves
// nothing behind.  Before any byte is written it takes the dataset's owner,
// group, extended attributes and mode.  Only once it is complete and on the
// disk does a rename put it in the dataset's place, in one step: a reader
// sees the old file or the new one, never a part of either.  The previous
// file is never opened for writing.
#pragma once

#include <string>

#include <sys/stat.h>

#include "stream.h"

namespace td {

class SideFile {
public:
    SideFile() = default;
    // A file that was not put in place is closed and its name, if it got
    // one, removed.
    ~SideFile();
    SideFile(const SideFile&) = delete;
    SideFile& operator=(const SideFile&) = delete;

    // Makes the file beside `target`, whose status is `original`, and gives
    // it the target's owner, group, extended attributes and mode.  Returns 0,
    // or 45 when no file can be made there (no permission, no space or no
    // inode left, a read-only file system) or one of these cannot be given.
    [[nodiscard]] int create(const std::string& target, const struct stat& original);

    Stream& stream() noexcept { return stream_; }

    // Puts the complete file in the place of `target`: its data on the disk,
    // a name linked to it if it had none, the target checked to be still the
    // file `original` describes (same file, one link, same owner, group and
    // mode), the rename, then the folder flushed to the disk.  Returns 0, 35
    // when the data cannot be put on the disk, or 45.  The file may be in
    // place even when the status is not 0 (the folder could not be
    // flushed): placed() tells.
    [[nodiscard]] int replace(const std::string& target, const struct stat& original);

    [[nodiscard]] bool placed() const noexcept { return placed_; }

private:
    [[nodiscard]] int link_in();

    std::string folder_;
    std::string name_; // the side name; empty while the file has none
    Stream stream_;
    bool placed_ = false;
};

} // namespace td
