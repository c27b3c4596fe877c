// registry.h - the library's process-wide state, kept in one place: the
// table of open datasets (100 slots, the slot index is the dataset id) and
// the pool of datasets opened on demand (pool.cpp), with the locks that
// make every td_ call safe from any thread.
//
// Locking.  The table has one lock, held only while a slot is looked up,
// reserved, filled or freed; never during file work.  Each dataset has a
// lock of its own, held for the whole of every call on it: calls on one
// dataset run one after the other, calls on different datasets at once.
// A call looks its dataset up under the table's lock, lets go of it, and
// then takes the dataset's lock; td_close, which holds the dataset's lock,
// takes the table's lock last to free the slot.  The pool has its own lock,
// taken before either of the others and never while holding them.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "row_index.h"
#include "stream.h"
#include "tidewell.h"

namespace td {

// One open dataset.  Only data_id, rows, columns, pixel size and the
// graphics flag are cached; every other header value is read from the
// current stream each time it is wanted.
struct Dataset {
    // Held for the whole of every call on the dataset.
    std::mutex lock;
    // False once td_close has succeeded: a call that was waiting for the
    // lock meanwhile finds the id closed.
    bool open = true;
    // The dataset file (or the caller's callbacks), or once a write has
    // been made, its working copy: the uncompressed temporary copy of a
    // compressed dataset, a byte-for-byte one of a plain dataset.
    Stream current;
    // True while `current` is the temporary copy of a compressed dataset
    // (expanded state).
    bool expanded = false;
    // True while `current` is a byte-for-byte temporary copy of a plain
    // dataset file, made by the first write (td_varput_*, the data-area
    // set-up of td_enddef): the file itself is never written in place.
    bool copied = false;
    // True once a write has changed the data of the copy.  Only a changed
    // dataset is written back on close.
    bool changed = false;
    // Private copy of the path given to td_open (empty for a dataset on
    // caller callbacks, which is read-only); recompression on close
    // replaces the file under this name.
    std::string path;
    // The file td_open opened, as it was then (or as the library's own
    // last write left it).  Recompression replaces that file only while the
    // path still names it, and data reads fail once it has changed
    // (file_identity.h).
    FileIdentity identity;
    std::int16_t define_flag = 0; // 1 in define mode, 0 in data mode
    std::int16_t mode = 0;        // TD_READONLY or TD_WRITE
    std::int16_t data_id = -1;    // header data_id, 0 to 3
    std::int16_t graphics = -1;   // 1 with a graphics variable, -1 without
    std::int16_t rows = -1;       // -1: undefined
    std::int16_t columns = -1;    // -1: undefined
    std::int16_t pixel_size = 0;  // bytes per stored sample: 2, or 1 for cloud
    // The storage form (TD_STORAGE_*), from the header as opened: only
    // visible and infrared data may be compressed.  The copies that writes
    // make keep the header block, so the form never changes.  TD_EREADATT
    // in storage_status when compression_type could not be read.
    int storage = TD_STORAGE_PLAIN;
    int storage_status = TD_NOERR;

    // Reading a compressed dataset in place, without expanding it: where
    // each row begins in the compressed stream of `current`.  Built by the
    // first variable read, which checks the whole stream; empty before, and
    // unused while the dataset is expanded.
    RowIndex row_index;

    // The stored samples of a block read, kept for the next read (as large
    // as the largest block read so far): a large buffer allocated afresh for
    // every read is mapped and faulted in every time, and in a process
    // whose threads read at once the faults wait on each other.
    std::vector<std::uint16_t> block_words;
    std::vector<std::uint8_t> block_bytes;
};

// The caller's I/O of a dataset opened on callbacks (td_open_callbacks).
struct CallbackIo {
    void* user = nullptr;
    td_read_func read = nullptr;
    td_size_func size = nullptr;
    td_close_func close = nullptr;
};

// A dataset of the pool: a file, or a caller's callbacks, that holds a slot
// of the table only while it is in use or among the most recently used
// (pool.cpp).
struct PoolEntry {
    std::string path;
    CallbackIo io;           // a dataset on callbacks (io.read set) rather than a path
    FileIdentity identity;   // of the file first opened
    bool compressed = false; // as first opened: the status of a changed file
    int id = -1;             // its dataset id while it holds a slot
    int users = 0;           // acquisitions not yet released
    bool closing = false;    // td_pool_close waits for the last release
    std::uint64_t last_used = 0;
};

struct LibraryState {
    // The table of open datasets.  A slot is free, reserved by a td_open
    // in progress, or holds an open dataset.
    std::mutex table_lock;
    std::array<std::shared_ptr<Dataset>, TD_MAX_DATASETS> slots{};
    std::array<bool, TD_MAX_DATASETS> reserved{};

    // The pool.
    std::mutex pool_lock;
    std::map<int, PoolEntry> pool;
    int next_pool_handle = 0;
    int pool_limit = TD_POOL_LIMIT;
    std::uint64_t pool_clock = 0;
};

// The one instance of the process-wide state.  It is never destroyed, so
// that datasets may still be closed while a process exits (a program's
// own static objects are destroyed in an order it does not control); and
// in the child of a fork its locks start out free again.
LibraryState& state();

// Whether 16-bit values read from a file must have their bytes exchanged:
// the file format is big-endian, so on a host that stores the low byte
// first.
constexpr bool host_swaps() noexcept
{
    return std::endian::native == std::endian::little;
}

// Runs the body of a td_ operation so that no exception crosses the C
// interface: running out of memory becomes status 22, anything else 38.
template <class Body>
int guarded(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return TD_ENOMEM;
    } catch (...) {
        return TD_EINTERNAL;
    }
}

// The open dataset in slot `id`, or nothing when the id is outside 0 to 99
// or names no open dataset.  Takes the table's lock for the look-up only.
[[nodiscard]] std::shared_ptr<Dataset> find_dataset(int id);

// Runs the body of a td_ operation on an open dataset, with the dataset's
// lock held: body(Dataset&) gives the status; an id that names no open
// dataset gives 6.  Every td_ operation that takes a dataset id goes
// through here, so that it is safe from any thread and serialised with the
// other calls on the same dataset.
template <class Body>
int with_dataset(int id, Body&& body) noexcept
{
    return guarded([&] {
        const std::shared_ptr<Dataset> ds = find_dataset(id);
        if (!ds)
            return TD_EBADID;
        const std::lock_guard hold(ds->lock);
        return ds->open ? body(*ds) : TD_EBADID;
    });
}

// The table's slots for td_open and td_close.  reserve_slot takes the
// lowest free slot (-1 when all are taken); fill_slot puts the opened
// dataset in it, release_slot gives it back after a failed open, and
// free_slot empties the slot of a closed dataset.
[[nodiscard]] int reserve_slot();
void fill_slot(int slot, std::shared_ptr<Dataset> ds);
void release_slot(int slot) noexcept;
void free_slot(int slot, const Dataset& ds) noexcept;

} // namespace td
