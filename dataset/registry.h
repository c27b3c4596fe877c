// registry.h - the library's process-wide state, kept in one place: the
// table of open datasets (100 slots, the slot index is the dataset id).
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "row_index.h"
#include "stream.h"
#include "tidewell.h"

namespace td {

// One open dataset.  Only data_id, rows, columns, pixel size and the
// graphics flag are cached; every other header value is read from the
// current stream each time it is wanted.
struct Dataset {
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
    std::int16_t define_flag = 0;   // 1 in define mode, 0 in data mode
    std::int16_t mode = 0;          // TD_READONLY or TD_WRITE
    std::int16_t data_id = -1;      // header data_id, 0 to 3
    std::int16_t graphics = -1;     // 1 with a graphics variable, -1 without
    std::int16_t rows = -1;         // -1: undefined
    std::int16_t columns = -1;      // -1: undefined
    std::int16_t pixel_size = 0;    // bytes per stored sample: 2, or 1 for cloud

    // Reading a compressed dataset in place, without expanding it: where
    // each row begins in the compressed stream of `current`.  Built by the
    // first variable read, which checks the whole stream; empty before, and
    // unused while the dataset is expanded.
    RowIndex row_index;
};

struct LibraryState {
    std::array<std::unique_ptr<Dataset>, TD_MAX_DATASETS> slots{};
};

// The one instance of the process-wide state.
LibraryState& state();

// The open dataset with this id, or nullptr when the id is outside 0 to 99
// or its slot is free.
Dataset* find_dataset(int id) noexcept;

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

// Runs the body of a td_ operation on an open dataset: body(Dataset&)
// gives the status; an id that names no open dataset gives 6.  Every td_
// operation that takes a dataset id goes through here.
template <class Body>
int with_dataset(int id, Body&& body) noexcept
{
    return guarded([&] {
        Dataset* ds = find_dataset(id);
        return ds == nullptr ? TD_EBADID : body(*ds);
    });
}

} // namespace td
