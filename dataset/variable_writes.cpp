// variable_writes.cpp - block writes of the data and graphics variables:
// the mirror images of the reads, with the inverse of the calibration.
//
// A write never changes the dataset file: the first one makes a working
// copy (a compressed dataset is expanded, a plain one copied byte for
// byte), and td_close puts a changed copy in the file's place whole.  Every
// value of a block is converted before anything is written, so a write that
// fails changes nothing.
#include <algorithm>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "calibration.h"
#include "compression.h"
#include "file_identity.h"
#include "header_fields.h"
#include "inquire.h"
#include "registry.h"
#include "sample_word.h"
#include "storage.h"
#include "tidewell.h"
#include "variables.h"

namespace td {

namespace {

// The new stored part of each sample of the block: a signed data value
// (visible, infrared), a 16-bit value (ancillary), a byte (cloud) or a
// graphics nibble; 18 for a value the variable cannot hold.
struct NewSamples {
    std::vector<std::uint16_t> stored;
    bool nibbles = false;     // graphics: only the low four bits change
    bool data_values = false; // visible, infrared: only bits 15-4 change
};

template <class Convert>
int convert_each(const void* in, int value_type, std::size_t n, std::vector<std::uint16_t>& out,
                 Convert convert)
{
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const float x = value_type == TD_FLOAT ? static_cast<const float*>(in)[i]
                                               : static_cast<float>(static_cast<const std::uint8_t*>(in)[i]);
        const auto stored = convert(x);
        if (!stored)
            return TD_ERANGE;
        out[i] = *stored;
    }
    return TD_NOERR;
}

int convert_values(Dataset& ds, int varid, const void* in, int value_type, std::size_t n, NewSamples& samples)
{
    if (value_type != TD_FLOAT && value_type != TD_BYTE)
        return TD_ERANGE;
    auto byte_of = [](int largest) {
        return [largest](float x) -> std::optional<std::uint16_t> {
            const auto b = stored_byte(x, largest);
            return b ? std::optional<std::uint16_t>(*b) : std::nullopt;
        };
    };
    if (varid == kGraphicsVariable) {
        samples.nibbles = true;
        return convert_each(in, value_type, n, samples.stored, byte_of(15));
    }
    if (ds.data_id == 3)
        return convert_each(in, value_type, n, samples.stored, byte_of(255));
    // Visible, infrared and ancillary values are floats only, as they read.
    if (value_type != TD_FLOAT)
        return TD_ERANGE;
    if (ds.data_id == 2) {
        std::int16_t channel = 0;
        if (read_field(ds.current, kOffsetChannelNumber, channel) != 0)
            return TD_EREADATT;
        if (channel < kChannelScanAngle || channel > kChannelScanTime)
            return TD_ECHANNEL;
        return convert_each(in, value_type, n, samples.stored,
                            [channel](float x) { return stored_ancillary(x, channel); });
    }
    std::int16_t calibration = 0;
    if (read_field(ds.current, kOffsetCalibrationType, calibration) != 0)
        return TD_EREADATT;
    samples.data_values = true;
    return convert_each(in, value_type, n, samples.stored, [&](float x) -> std::optional<std::uint16_t> {
        const auto v = stored_data_value(x, calibration, ds.data_id);
        if (!v)
            return std::nullopt;
        return value_word(*v);
    });
}

// Whether the block shares bytes with the header fields: in a plain file
// whose rows are narrower than the 136 header bytes, the first rows lie
// over them.
bool over_header(const Dataset& ds, const Index2& start)
{
    const std::int64_t first =
        data_origin(ds) + ds.pixel_size * (std::int64_t{start[0]} * ds.columns + start[1]);
    return first < kDefinedHeaderBytes;
}

// Writes the new samples of a block over the old ones in the working copy.
// Should the write fail part-way, the old ones are written back, so that a
// failed write leaves the copy as it was.
int replace_block(Dataset& ds, std::span<const std::byte> old, std::span<const std::byte> now,
                  const Index2& start, const Index2& count)
{
    const BlockLayout layout = layout_of(ds);
    const int status = write_stored_block(ds.current, now, layout, start, count);
    if (status == TD_NOERR && ds.current.flush()) {
        ds.changed = true;
        return TD_NOERR;
    }
    if (write_stored_block(ds.current, old, layout, start, count) != TD_NOERR || !ds.current.flush())
        ds.changed = true; // part of the block may have changed
    return status != TD_NOERR ? status : TD_EWRITEDATA;
}

int varput(Dataset& ds, int varid, const Index2& start, const Index2& count, const void* in, int value_type)
{
    if (ds.mode != TD_WRITE)
        return TD_EREADONLY;
    if (ds.define_flag != 0)
        return TD_EINDEFINE;
    if (!block_in_bounds(ds, start, count))
        return TD_EINDEX;
    // The working copy is made from the file as it was opened.
    if (const int status = check_unchanged(ds); status != TD_NOERR)
        return status;
    if (const int status = check_storage(ds); status != TD_NOERR)
        return status;
    if (varid != kDataVariable && varid != kGraphicsVariable)
        return TD_EBADVARID;
    if (varid == kGraphicsVariable && ds.graphics != 1)
        return TD_EBADVARID;
    if (varid == kDataVariable) {
        // A shifted image shows stored samples elsewhere, and some of them
        // not at all: what a block read shows cannot be written back.
        std::int16_t vertical = 0, horizontal = 0;
        if (read_field(ds.current, kOffsetVerticalShift, vertical) != 0 ||
            read_field(ds.current, kOffsetHorizontalShift, horizontal) != 0)
            return TD_EREADATT;
        if (vertical != 0 || horizontal != 0)
            return TD_ESHIFTWRITE;
    }
    if (in == nullptr)
        return TD_EINTERNAL;
    const std::size_t n = std::size_t{count[0]} * count[1];
    NewSamples samples;
    if (const int status = convert_values(ds, varid, in, value_type, n, samples); status != TD_NOERR)
        return status;
    // A compressed dataset (read in place through its row index until now)
    // is expanded, its rows well clear of the header block.
    if (!ds.expanded && !ds.row_index.built() && over_header(ds, start))
        return TD_EWRITEDATA;

    if (const int status = make_working_copy(ds); status != TD_NOERR)
        return status;
    // The samples as they are: what the write keeps of them, and the proof
    // that the file holds the block (32 when it is shorter).
    const BlockLayout layout = layout_of(ds);
    if (ds.pixel_size == 1) {
        std::vector<std::uint8_t> bytes(n);
        if (const int status = read_stored_block(ds.current, std::as_writable_bytes(std::span(bytes)), layout,
                                                 start, count, nullptr);
            status != TD_NOERR)
            return status;
        std::vector<std::uint8_t> now(n);
        std::transform(samples.stored.begin(), samples.stored.end(), now.begin(),
                       [](std::uint16_t b) { return static_cast<std::uint8_t>(b); });
        return replace_block(ds, std::as_bytes(std::span(bytes)), std::as_bytes(std::span(now)), start,
                             count);
    }
    std::vector<std::uint16_t> words(n);
    if (const int status = read_stored_block(ds.current, std::as_writable_bytes(std::span(words)), layout,
                                             start, count, nullptr);
        status != TD_NOERR)
        return status;
    std::vector<std::uint16_t> now(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (samples.nibbles)
            now[i] = static_cast<std::uint16_t>((words[i] & 0xFFF0u) | samples.stored[i]);
        else if (samples.data_values)
            now[i] = static_cast<std::uint16_t>((words[i] & 0x000Fu) | samples.stored[i]);
        else
            now[i] = samples.stored[i];
    }
    return replace_block(ds, std::as_bytes(std::span(words)), std::as_bytes(std::span(now)), start, count);
}

Index2 index_of(const uint32_t v[2]) noexcept
{
    return v == nullptr ? Index2{0, 0} : Index2{v[0], v[1]};
}

} // namespace

} // namespace td

extern "C" int td_varput_float(int id, int varid, const uint32_t start[2], const uint32_t count[2],
                               const float* in)
{
    return td::with_dataset(id, [&](td::Dataset& ds) {
        return td::varput(ds, varid, td::index_of(start), td::index_of(count), in, TD_FLOAT);
    });
}

extern "C" int td_varput_byte(int id, int varid, const uint32_t start[2], const uint32_t count[2],
                              const uint8_t* in)
{
    return td::with_dataset(id, [&](td::Dataset& ds) {
        return td::varput(ds, varid, td::index_of(start), td::index_of(count), in, TD_BYTE);
    });
}
