// open_close.cpp - opening and closing datasets, and leaving define mode.
#include <cstring>
#include <string>
#include <utility>

#include "compression.h"
#include "file_identity.h"
#include "header_fields.h"
#include "registry.h"
#include "tidewell.h"

namespace td {

namespace {

// Reads the fields cached at open, fixes the pixel size and graphics flag
// by data_id, and derives the storage form.
[[nodiscard]] int read_cached_fields(Dataset& ds)
{
    OpenFields fields;
    const int status = check_open_fields(
        [&](std::int64_t offset, std::int16_t& value) { return read_field(ds.current, offset, value) == 0; },
        fields);
    ds.data_id = fields.data_id;
    ds.rows = fields.rows;
    ds.columns = fields.columns;
    ds.pixel_size = fields.pixel_size;
    ds.graphics = fields.graphics;
    if (status == TD_NOERR && (ds.data_id == kDataIdVisible || ds.data_id == kDataIdInfrared) &&
        ds.pixel_size == 2) {
        std::int16_t compression = 0;
        if (read_field(ds.current, kOffsetCompressionType, compression) != 0)
            ds.storage_status = TD_EREADATT;
        else
            ds.storage = compression == kCompressionNone ? TD_STORAGE_PLAIN
                         : compression == kCompression1b ? TD_STORAGE_COMPRESSED
                                                         : TD_STORAGE_UNSUPPORTED;
    }
    return status;
}

// Checks the magic byte of a dataset just opened on `stream`, reads the
// fields cached at open and fills the reserved `slot` with the record.  A
// dataset opened by path keeps the path (for the write-back on close);
// every dataset keeps the identity of its source, for the check that it has
// not changed under the reads (for callbacks, the size they report), and a
// source on callbacks calls `close` from the time the open has succeeded.
// The record is built aside and enters the table only when the open has
// succeeded, so a failure anywhere leaves the table as it was; the stream is
// closed when the record (or the stream) goes out of scope.
int enter_dataset(Stream stream, int mode, int slot, const char* path, int* id, td_close_func close = nullptr)
{
    const int magic = stream.get_byte();
    if (magic < 0)
        return TD_ENOMAGIC;
    if (magic != kMagic)
        return TD_EMAGIC;
    auto record = std::make_shared<Dataset>();
    record->current = std::move(stream);
    record->mode = static_cast<std::int16_t>(mode);
    if (path != nullptr)
        record->path = path;
    remember_identity(*record);
    if (const int status = read_cached_fields(*record); status != TD_NOERR)
        return status;
    if (CallbackSource* source = record->current.callbacks())
        source->close_with(close);
    fill_slot(slot, std::move(record));
    *id = slot;
    return TD_NOERR;
}

// Opens the file and, when it is a dataset, fills the reserved slot.
int open_into(const char* path, int mode, int* id, int slot)
{
    // Without a path, or a place for the id, the dataset could never be used
    // or closed: refuse it before anything is opened.
    if (path == nullptr || id == nullptr)
        return TD_EACCESS;

    // Only a regular file is a dataset: a FIFO or a device would block the
    // open or the first read, and could never be written back.
    Stream file = Stream::open_regular(path, mode == TD_WRITE);
    if (!file)
        return TD_EACCESS;
    return enter_dataset(std::move(file), mode, slot, path, id);
}

// Opens a dataset on the caller's callbacks into the reserved slot.
int callbacks_into(void* user, td_read_func read, td_size_func size, td_close_func close, int* id, int slot)
{
    if (read == nullptr || size == nullptr || id == nullptr)
        return TD_EACCESS;
    const std::int64_t length = size(user);
    if (length < 0)
        return TD_EACCESS;
    // The source calls no close until the open has succeeded.
    Stream stream = Stream::from_callbacks(std::make_unique<CallbackSource>(user, read, size, length));
    return enter_dataset(std::move(stream), TD_READONLY, slot, nullptr, id, close);
}

// Reserves the lowest free slot (23 when there is none) for an open, which
// fills it or gives it back.
template <class Open>
int open_in_slot(Open open)
{
    const int slot = reserve_slot();
    if (slot < 0)
        return TD_EMAXDS;
    const int status = open(slot);
    if (status != TD_NOERR)
        release_slot(slot);
    return status;
}

int open_dataset(const char* path, int mode, int* id)
{
    if (mode != TD_READONLY && mode != TD_WRITE)
        return TD_EMODE;
    return open_in_slot([&](int slot) { return open_into(path, mode, id, slot); });
}

int open_callbacks(void* user, td_read_func read, td_size_func size, td_close_func close, int* id)
{
    return open_in_slot([&](int slot) { return callbacks_into(user, read, size, close, id, slot); });
}

int end_define(Dataset& ds)
{
    if (ds.define_flag == 0)
        return TD_ENOTINDEFINE;
    // A negative length is as undefined as -1.
    if (ds.rows < 0 || ds.columns < 0)
        return TD_EDIMUNDEF;
    if (ds.data_id == -1)
        return TD_EVARUNDEF;
    if (const int status = init_data_area(ds); status != TD_NOERR)
        return status;
    ds.define_flag = 0;
    return TD_NOERR;
}

int close_dataset(int id, Dataset& ds)
{
    if (ds.define_flag == 1 && end_define(ds) != TD_NOERR)
        return TD_EENDDEF;
    // A changed working copy replaces the dataset file, whole; a copy that
    // no write changed is dropped like a read-only one: the dataset file is
    // left alone, its bytes and modification time as they were.
    if (ds.mode == TD_WRITE && ds.changed && (ds.expanded || ds.copied)) {
        if (const int status = write_back(ds); status != TD_NOERR)
            return status;
    }
    // A failure to close is not reported; closing the temporary copy deletes it.
    ds.current.close();
    ds.open = false;
    free_slot(id, ds);
    return TD_NOERR;
}

} // namespace

} // namespace td

extern "C" int td_open(const char* path, int mode, int* id)
{
    return td::guarded([&] { return td::open_dataset(path, mode, id); });
}

extern "C" int td_open_callbacks(void* user, td_read_func read, td_size_func size, td_close_func close,
                                 int* id)
{
    return td::guarded([&] { return td::open_callbacks(user, read, size, close, id); });
}

extern "C" int td_close(int id)
{
    return td::with_dataset(id, [&](td::Dataset& ds) { return td::close_dataset(id, ds); });
}

extern "C" int td_enddef(int id)
{
    return td::with_dataset(id, td::end_define);
}
