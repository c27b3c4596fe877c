// variables.cpp - block reads of the data and graphics variables, with the
// in-place reading of compressed data, the navigational shift of the data
// variable and the conversion of stored samples.
#include "variables.h"

#include <algorithm>
#include <array>
#include <new>
#include <span>
#include <vector>

#include "calibration.h"
#include "file_identity.h"
#include "header_fields.h"
#include "inquire.h"
#include "registry.h"
#include "tidewell.h"

namespace td {

bool block_in_bounds(const Dataset& ds, const Index2& start, const Index2& count) noexcept
{
    const std::array<std::int64_t, 2> dims{ds.rows, ds.columns};
    for (std::size_t k = 0; k < 2; ++k) {
        const std::int64_t last = std::int64_t{start[k]} + count[k] - 1;
        if (dims[k] <= 0 || start[k] > dims[k] - 1 || last < 0 || last > dims[k] - 1)
            return false;
    }
    return true;
}

int check_storage(Dataset& ds)
{
    // A compressed dataset is read in place.  Its first read walks and
    // checks the whole stream, so a damaged stream fails there, whichever
    // variable is read; a failed walk leaves nothing behind and the next
    // read starts it again.  A dataset with a working copy (a written one)
    // is read from the copy.
    if (ds.expanded || ds.copied) {
        ds.row_index.clear();
        return TD_NOERR;
    }
    if (ds.storage_status != TD_NOERR)
        return ds.storage_status;
    if (ds.storage == TD_STORAGE_COMPRESSED) {
        if (!ds.row_index.built())
            return ds.row_index.build(ds.current, ds.rows, ds.columns);
        return TD_NOERR;
    }
    if (ds.storage == TD_STORAGE_UNSUPPORTED)
        return TD_ECOMPTYPE;
    ds.row_index.clear();
    return TD_NOERR;
}

namespace {

// The first n elements of a buffer kept with the dataset, grown as needed.
template <class T>
std::span<T> scratch(std::vector<T>& buffer, std::size_t n)
{
    if (buffer.size() < n)
        buffer.resize(n);
    return std::span(buffer).first(n);
}

// Cloud samples and graphics nibbles, as bytes or as floats 0 .. 255.
int deliver_bytes(std::span<const std::uint8_t> bytes, void* out, int value_type) noexcept
{
    if (value_type == TD_BYTE) {
        std::copy(bytes.begin(), bytes.end(), static_cast<std::uint8_t*>(out));
        return TD_NOERR;
    }
    if (value_type == TD_FLOAT) {
        float* f = static_cast<float*>(out);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            f[i] = static_cast<float>(bytes[i]);
        return TD_NOERR;
    }
    return TD_ERANGE;
}

// Whether reads of the dataset decode its compressed stream in place.
bool reads_in_place(const Dataset& ds) noexcept
{
    return !ds.expanded && ds.row_index.built();
}

// Reads the stored sample words of a block of a visible, infrared or
// ancillary dataset, from its data area or, for a compressed dataset read
// in place, from its stream (only the part of each word that `part` names).
int read_words(Dataset& ds, std::span<std::uint16_t> words, const Index2& start, const Index2& count,
               const NavShift* shift, RowIndex::Part part)
{
    if (reads_in_place(ds))
        return ds.row_index.read_block(ds.current, words, start, count, shift, part);
    return read_stored_block(ds.current, std::as_writable_bytes(words), layout_of(ds), start, count, shift);
}

int read_graphics(Dataset& ds, const Index2& start, const Index2& count, std::size_t n, void* out,
                  int value_type)
{
    if (ds.graphics != 1)
        return TD_EBADVARID;
    const std::span<std::uint16_t> words = scratch(ds.block_words, n);
    const std::span<std::uint8_t> nibbles = scratch(ds.block_bytes, n);
    if (const int status = read_words(ds, words, start, count, nullptr, RowIndex::Part::nibbles);
        status != TD_NOERR)
        return status;
    unpack_words({}, nibbles, words);
    return deliver_bytes(nibbles, out, value_type);
}

int convert_ancillary(Dataset& ds, std::span<const std::uint16_t> stored, float* out)
{
    std::int16_t channel = 0;
    if (read_field(ds.current, kOffsetChannelNumber, channel) != 0)
        return TD_EREADATT;
    if (channel < kChannelScanAngle || channel > kChannelScanTime)
        return TD_ECHANNEL;
    for (std::size_t i = 0; i < stored.size(); ++i)
        out[i] = channel == kChannelScanTime ? scan_time_hours(static_cast<std::int16_t>(stored[i]))
                                             : angle_degrees(stored[i]);
    return TD_NOERR;
}

int read_data(Dataset& ds, const Index2& start, const Index2& count, std::size_t n, void* out, int value_type)
{
    NavShift shift;
    if (read_field(ds.current, kOffsetVerticalShift, shift.vertical) != 0 ||
        read_field(ds.current, kOffsetHorizontalShift, shift.horizontal) != 0)
        return TD_EREADATT;

    if (ds.pixel_size == 1) {
        const std::span<std::uint8_t> bytes = scratch(ds.block_bytes, n);
        if (const int status = read_stored_block(ds.current, std::as_writable_bytes(bytes), layout_of(ds),
                                                 start, count, &shift);
            status != TD_NOERR)
            return status;
        if (ds.data_id != 3)
            return TD_EINTERNAL;
        return deliver_bytes(bytes, out, value_type);
    }

    const std::span<std::uint16_t> words = scratch(ds.block_words, n);
    if (const int status = read_words(ds, words, start, count, &shift, RowIndex::Part::values);
        status != TD_NOERR)
        return status;
    if (value_type != TD_FLOAT)
        return TD_ERANGE;
    float* f = static_cast<float*>(out);
    if (ds.data_id == 0 || ds.data_id == 1) {
        std::int16_t calibration = 0;
        if (read_field(ds.current, kOffsetCalibrationType, calibration) != 0)
            return TD_EREADATT;
        return calibrate(std::span(f, n), words, calibration, ds.data_id);
    }
    if (ds.data_id == 2)
        return convert_ancillary(ds, words, f);
    return TD_EINTERNAL;
}

int read_block(Dataset& ds, int varid, const Index2& start, const Index2& count, void* out, int value_type);

int varget(Dataset& ds, int varid, const Index2& start, const Index2& count, void* out, int value_type)
{
    if (ds.define_flag != 0)
        return TD_EINDEFINE;
    if (!block_in_bounds(ds, start, count))
        return TD_EINDEX;
    const int status = read_block(ds, varid, start, count, out, value_type);
    // A file written in place since it was opened, before or while the
    // rows were read, would give rows of another dataset under this one's
    // header, or mixed with it: the read fails, whatever it found.  One
    // look after the read sees both.
    if (const int changed = check_unchanged(ds); changed != TD_NOERR)
        return changed;
    return status;
}

// The read proper, once the block is known to lie in the image.
int read_block(Dataset& ds, int varid, const Index2& start, const Index2& count, void* out, int value_type)
{
    if (const int status = check_storage(ds); status != TD_NOERR)
        return status;

    if (varid != kDataVariable && varid != kGraphicsVariable)
        return TD_EBADVARID;
    if (out == nullptr)
        return TD_EINTERNAL;
    // Both counts are at most 32767 here, so the product fits.
    const std::size_t n = std::size_t{count[0]} * count[1];
    return varid == kGraphicsVariable ? read_graphics(ds, start, count, n, out, value_type)
                                      : read_data(ds, start, count, n, out, value_type);
}

} // namespace

int varget_id(int id, int varid, const Index2& start, const Index2& count, void* out, int value_type) noexcept
{
    return with_dataset(id, [&](Dataset& ds) { return varget(ds, varid, start, count, out, value_type); });
}

} // namespace td

namespace {

td::Index2 index_of(const uint32_t v[2]) noexcept
{
    return v == nullptr ? td::Index2{0, 0} : td::Index2{v[0], v[1]};
}

} // namespace

extern "C" int td_varget_float(int id, int varid, const uint32_t start[2], const uint32_t count[2],
                               float* out)
{
    return td::varget_id(id, varid, index_of(start), index_of(count), out, TD_FLOAT);
}

extern "C" int td_varget_byte(int id, int varid, const uint32_t start[2], const uint32_t count[2],
                              uint8_t* out)
{
    return td::varget_id(id, varid, index_of(start), index_of(count), out, TD_BYTE);
}
