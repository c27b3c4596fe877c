// pool.cpp - datasets opened on demand, for programs that keep more
// datasets open than the table has slots (a mosaic of hundreds of files in
// GDAL, xarray's open_mfdataset).
//
// A pool handle names a dataset file without holding a slot for it.  Its
// dataset is opened when the handle is acquired and stays open while it is
// in use or among the most recently used; beyond the pool's limit the
// least recently used idle one is closed, and opened again when next
// acquired.  A file opened again must be the one first opened, unchanged:
// a file replaced or written in place meanwhile is refused with the status
// its reads would give (45, or 46 for a compressed dataset), never read as
// if it were the old one.  The pool's state is part of the library's
// process-wide state (registry.h), under the pool's lock.
#include <algorithm>
#include <climits>
#include <string>

#include "file_identity.h"
#include "registry.h"
#include "tidewell.h"

namespace td {

namespace {

int open_ids(const LibraryState& s) noexcept
{
    return static_cast<int>(
        std::count_if(s.pool.begin(), s.pool.end(), [](const auto& e) { return e.second.id >= 0; }));
}

// Closes the least recently used dataset that no one is using; false when
// there is none.  Pool lock held.
bool close_idle(LibraryState& s)
{
    PoolEntry* oldest = nullptr;
    for (auto& [handle, entry] : s.pool)
        if (entry.id >= 0 && entry.users == 0 && (oldest == nullptr || entry.last_used < oldest->last_used))
            oldest = &entry;
    if (oldest == nullptr)
        return false;
    // A read-only close cannot fail for an open id.
    static_cast<void>(td_close(oldest->id));
    oldest->id = -1;
    return true;
}

// Opens the entry's path, or its callbacks, read-only, closing idle
// datasets first to stay within the limit, and again should the table be
// full (another user of the library in the process holds slots).  A
// dataset on callbacks is opened without their close: the pool calls it
// when it forgets the handle, not each time it closes the dataset to make
// room.  Pool lock held.
int open_with_room(LibraryState& s, const PoolEntry& entry, int& id)
{
    while (open_ids(s) >= s.pool_limit && close_idle(s)) {
    }
    for (;;) {
        const CallbackIo& io = entry.io;
        const int status = io.read != nullptr ? td_open_callbacks(io.user, io.read, io.size, nullptr, &id)
                                              : td_open(entry.path.c_str(), TD_READONLY, &id);
        if (status != TD_EMAXDS || !close_idle(s))
            return status;
    }
}

// The identity of an open dataset's file and whether it is compressed.
int describe_file(int id, FileIdentity& identity, bool& compressed)
{
    return with_dataset(id, [&](Dataset& ds) {
        identity = ds.identity;
        compressed = changed_file_status(ds) == TD_ECOMPFILE;
        return TD_NOERR;
    });
}

// Opens the new entry's dataset and gives it a handle.
int enter_pool(PoolEntry entry, int* handle)
{
    LibraryState& s = state();
    const std::lock_guard hold(s.pool_lock);
    int id = -1;
    if (const int status = open_with_room(s, entry, id); status != TD_NOERR)
        return status;
    if (const int status = describe_file(id, entry.identity, entry.compressed); status != TD_NOERR) {
        static_cast<void>(td_close(id));
        return status;
    }
    entry.id = id;
    entry.last_used = ++s.pool_clock;
    // Handles are not reused while the numbers last, so that a stale one
    // names nothing rather than another dataset.
    int number = s.next_pool_handle;
    while (s.pool.contains(number))
        number = number == INT_MAX ? 0 : number + 1;
    s.next_pool_handle = number == INT_MAX ? 0 : number + 1;
    s.pool.emplace(number, std::move(entry));
    *handle = number;
    return TD_NOERR;
}

int pool_open(const char* path, int* handle)
{
    if (path == nullptr || handle == nullptr)
        return TD_EACCESS;
    PoolEntry entry;
    entry.path = path;
    return enter_pool(std::move(entry), handle);
}

int pool_open_callbacks(const CallbackIo& io, int* handle)
{
    if (io.read == nullptr || io.size == nullptr || handle == nullptr)
        return TD_EACCESS;
    PoolEntry entry;
    entry.io = io;
    return enter_pool(std::move(entry), handle);
}

int pool_acquire(int handle, int* id)
{
    LibraryState& s = state();
    const std::lock_guard hold(s.pool_lock);
    const auto found = s.pool.find(handle);
    if (found == s.pool.end() || found->second.closing)
        return TD_EBADID;
    PoolEntry& entry = found->second;
    if (entry.id < 0) {
        int reopened = -1;
        if (const int status = open_with_room(s, entry, reopened); status != TD_NOERR)
            return status;
        FileIdentity now;
        bool compressed = false;
        if (describe_file(reopened, now, compressed) != TD_NOERR || now.device != entry.identity.device ||
            now.inode != entry.identity.inode || now.contents_changed_since(entry.identity)) {
            static_cast<void>(td_close(reopened));
            return entry.compressed ? TD_ECOMPFILE : TD_EUNCOMPFILE;
        }
        entry.id = reopened;
    }
    ++entry.users;
    entry.last_used = ++s.pool_clock;
    if (id != nullptr)
        *id = entry.id;
    return TD_NOERR;
}

// Closes the entry's dataset and forgets the handle; gives the caller's
// I/O, whose close the caller calls once the pool lock is released (a close
// function may well use the pool).  Pool lock held.
CallbackIo forget(LibraryState& s, std::map<int, PoolEntry>::iterator entry)
{
    if (entry->second.id >= 0)
        static_cast<void>(td_close(entry->second.id));
    const CallbackIo io = entry->second.io;
    s.pool.erase(entry);
    return io;
}

void close_io(const CallbackIo& io)
{
    if (io.close != nullptr)
        io.close(io.user);
}

int pool_release(int handle)
{
    LibraryState& s = state();
    CallbackIo forgotten;
    {
        const std::lock_guard hold(s.pool_lock);
        const auto found = s.pool.find(handle);
        if (found == s.pool.end() || found->second.users == 0)
            return TD_EBADID;
        if (--found->second.users == 0 && found->second.closing)
            forgotten = forget(s, found);
    }
    close_io(forgotten);
    return TD_NOERR;
}

int pool_close(int handle)
{
    LibraryState& s = state();
    CallbackIo forgotten;
    {
        const std::lock_guard hold(s.pool_lock);
        const auto found = s.pool.find(handle);
        if (found == s.pool.end() || found->second.closing)
            return TD_EBADID;
        if (found->second.users > 0)
            found->second.closing = true; // closed at the last release
        else
            forgotten = forget(s, found);
    }
    close_io(forgotten);
    return TD_NOERR;
}

int pool_set_limit(int limit)
{
    LibraryState& s = state();
    const std::lock_guard hold(s.pool_lock);
    s.pool_limit = std::clamp(limit, 1, TD_MAX_DATASETS);
    while (open_ids(s) > s.pool_limit && close_idle(s)) {
    }
    return TD_NOERR;
}

int pool_inquire(int* limit, int* open, int* handles)
{
    LibraryState& s = state();
    const std::lock_guard hold(s.pool_lock);
    if (limit != nullptr)
        *limit = s.pool_limit;
    if (open != nullptr)
        *open = open_ids(s);
    if (handles != nullptr)
        *handles = static_cast<int>(
            std::count_if(s.pool.begin(), s.pool.end(), [](const auto& e) { return !e.second.closing; }));
    return TD_NOERR;
}

} // namespace

} // namespace td

extern "C" int td_pool_open(const char* path, int* handle)
{
    return td::guarded([&] { return td::pool_open(path, handle); });
}

extern "C" int td_pool_open_callbacks(void* user, td_read_func read, td_size_func size, td_close_func close,
                                      int* handle)
{
    return td::guarded([&] {
        return td::pool_open_callbacks(td::CallbackIo{user, read, size, close}, handle);
    });
}

extern "C" int td_pool_acquire(int handle, int* id)
{
    return td::guarded([&] { return td::pool_acquire(handle, id); });
}

extern "C" int td_pool_release(int handle)
{
    return td::guarded([&] { return td::pool_release(handle); });
}

extern "C" int td_pool_close(int handle)
{
    return td::guarded([&] { return td::pool_close(handle); });
}

extern "C" int td_pool_setlimit(int limit)
{
    return td::guarded([&] { return td::pool_set_limit(limit); });
}

extern "C" int td_pool_inq(int* limit, int* open, int* handles)
{
    return td::guarded([&] { return td::pool_inquire(limit, open, handles); });
}
