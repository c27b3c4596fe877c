// file_identity.cpp - the identity of an open dataset's file and the check
// that it has not changed.
#include "file_identity.h"

#include "tidewell.h"

namespace td {

int changed_file_status(Dataset& ds) noexcept
{
    // Compressed as the header said when the dataset was opened.
    return ds.storage == TD_STORAGE_COMPRESSED ? TD_ECOMPFILE : TD_EUNCOMPFILE;
}

void remember_identity(Dataset& ds) noexcept
{
    if (!ds.expanded && !ds.copied && !ds.current.identity(ds.identity))
        ds.identity = FileIdentity{};
}

bool file_changed(Dataset& ds) noexcept
{
    if (ds.expanded || ds.copied)
        return false;
    FileIdentity now;
    // A file whose identity cannot be had is not known to be changed; its
    // reads fail on their own.
    return ds.current.identity(now) && now.contents_changed_since(ds.identity);
}

int check_unchanged(Dataset& ds) noexcept
{
    return file_changed(ds) ? changed_file_status(ds) : TD_NOERR;
}

namespace {

int file_inquire(Dataset& ds, std::uint64_t* device, std::uint64_t* inode, std::int64_t* size,
                 std::int64_t* modified_ns, int* changed)
{
    if (device != nullptr)
        *device = ds.identity.device;
    if (inode != nullptr)
        *inode = ds.identity.inode;
    if (size != nullptr)
        *size = ds.identity.size;
    if (modified_ns != nullptr)
        *modified_ns = ds.identity.modified_ns;
    if (changed != nullptr)
        *changed = file_changed(ds) ? 1 : 0;
    return TD_NOERR;
}

} // namespace

} // namespace td

extern "C" int td_fileinq(int id, uint64_t* device, uint64_t* inode, int64_t* size, int64_t* modified_ns,
                          int* changed)
{
    return td::with_dataset(
        id, [&](td::Dataset& ds) { return td::file_inquire(ds, device, inode, size, modified_ns, changed); });
}
