// data_description.cpp - what the data variable holds and how it is
// stored: the kind of data, the storage form and the units, said once for
// every program built on the library.
#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "calibration.h"
#include "header_fields.h"
#include "registry.h"
#include "storage.h"
#include "tidewell.h"

namespace td {

namespace {

constexpr std::array<std::string_view, 5> kKindNames{"visible", "infrared", "angle", "scan time", "cloud"};
constexpr std::array<std::string_view, 3> kStorageNames{"plain", "compressed", "unsupported"};

// What the ancillary channels 101 to 105 hold.
struct AncillaryChannel {
    std::int16_t code;
    std::string_view long_name;
    std::string_view units;
};
constexpr std::array<AncillaryChannel, 5> kAncillaryChannels{{
    {101, "scan angle", "degrees"},
    {102, "satellite zenith angle", "degrees"},
    {103, "solar zenith angle", "degrees"},
    {104, "relative azimuth angle", "degrees"},
    {kChannelScanTime, "scan time", "hours"},
}};

constexpr std::string_view kDegreesCelsius = "\u00b0C";

static_assert(kKindNames[TD_KIND_SCAN_TIME] == "scan time" && kKindNames[TD_KIND_CLOUD] == "cloud");
static_assert(kStorageNames[TD_STORAGE_UNSUPPORTED] == "unsupported");

// Copies text with its terminator into an optional caller buffer.
void copy_text(std::string_view text, char* out) noexcept
{
    if (out == nullptr)
        return;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
}

[[nodiscard]] int read_channel(Dataset& ds, std::int16_t& channel)
{
    return read_field(ds.current, kOffsetChannelNumber, channel) == 0 ? TD_NOERR : TD_EREADATT;
}

// The name of the dataset's channel code ("" when it has none).
std::string_view channel_name(std::int16_t channel) noexcept
{
    static const int attribute = *find_attribute("channel_number");
    return name_of_code(attribute, channel).value_or("");
}

[[nodiscard]] int data_kind(Dataset& ds, int& kind)
{
    switch (ds.data_id) {
    case kDataIdVisible:
        kind = TD_KIND_VISIBLE;
        return TD_NOERR;
    case kDataIdInfrared:
        kind = TD_KIND_INFRARED;
        return TD_NOERR;
    case kDataIdAncillary: {
        std::int16_t channel = 0;
        if (const int status = read_channel(ds, channel); status != TD_NOERR)
            return status;
        kind = channel == kChannelScanTime ? TD_KIND_SCAN_TIME : TD_KIND_ANGLE;
        return TD_NOERR;
    }
    case kDataIdCloud:
        kind = TD_KIND_CLOUD;
        return TD_NOERR;
    default:
        return TD_EDATAID;
    }
}

int kind_inquire(Dataset& ds, int* kind, char* name)
{
    int k = 0;
    if (const int status = data_kind(ds, k); status != TD_NOERR)
        return status;
    if (kind != nullptr)
        *kind = k;
    copy_text(kKindNames[static_cast<std::size_t>(k)], name);
    return TD_NOERR;
}

int storage_inquire(Dataset& ds, int* storage, char* name)
{
    if (ds.storage_status != TD_NOERR)
        return ds.storage_status;
    if (storage != nullptr)
        *storage = ds.storage;
    copy_text(kStorageNames[static_cast<std::size_t>(ds.storage)], name);
    return TD_NOERR;
}

int length_inquire(Dataset& ds, std::int64_t* needed)
{
    int form = TD_STORAGE_PLAIN;
    if (const int status = storage_inquire(ds, &form, nullptr); status != TD_NOERR)
        return status;
    std::int64_t bytes = -1;
    if (form == TD_STORAGE_PLAIN && ds.rows >= 0 && ds.columns >= 0)
        bytes = (std::int64_t{ds.rows} + 1) * row_bytes(ds);
    if (needed != nullptr)
        *needed = bytes;
    return TD_NOERR;
}

struct Units {
    std::string units;
    std::string long_name;
    std::string label;
};

[[nodiscard]] int units_of(Dataset& ds, Units& out)
{
    std::int16_t channel = 0;
    if (const int status = read_channel(ds, channel); status != TD_NOERR)
        return status;
    switch (ds.data_id) {
    case kDataIdVisible:
    case kDataIdInfrared: {
        std::int16_t calibration = 0;
        if (read_field(ds.current, kOffsetCalibrationType, calibration) != 0)
            return TD_EREADATT;
        const bool raw = calibration == kCalibrationRaw;
        if (ds.data_id == kDataIdVisible) {
            out.units = raw ? "" : "%";
            out.long_name = raw ? "raw counts" : "albedo";
            out.label = "albedo (%)";
        } else {
            // Sea-surface temperature products (mcsst, nlsst_split, ...)
            // hold temperatures; the sensor channels brightness temperatures.
            const bool product = channel_name(channel).find("sst") != std::string_view::npos;
            const std::string quantity = product ? "temperature" : "brightness temperature";
            out.units = raw ? "" : std::string(kDegreesCelsius);
            out.long_name = raw ? "raw counts" : quantity;
            out.label = quantity + " (" + std::string(kDegreesCelsius) + ")";
        }
        return TD_NOERR;
    }
    case kDataIdAncillary:
        out.label = channel == kChannelScanTime ? "hours" : "degrees";
        out.long_name = channel_name(channel);
        for (const AncillaryChannel& c : kAncillaryChannels)
            if (c.code == channel) {
                out.units = c.units;
                out.long_name = c.long_name;
            }
        return TD_NOERR;
    case kDataIdCloud:
        out.long_name = "cloud";
        out.label = "byte value";
        return TD_NOERR;
    default:
        return TD_EDATAID;
    }
}

int units_inquire(Dataset& ds, char* units, char* long_name, char* label)
{
    Units found;
    if (const int status = units_of(ds, found); status != TD_NOERR)
        return status;
    copy_text(found.units, units);
    copy_text(found.long_name, long_name);
    copy_text(found.label, label);
    return TD_NOERR;
}

static_assert(std::string_view("brightness temperature (\u00b0C)").size() < TD_UNITS_SIZE);
static_assert(std::string_view("relative azimuth angle").size() < TD_UNITS_SIZE);
static_assert(std::string_view("unsupported").size() < TD_STORAGE_NAME_SIZE);
static_assert(std::string_view("scan time").size() < TD_KIND_NAME_SIZE);

} // namespace

} // namespace td

extern "C" int td_kindinq(int id, int* kind, char* name)
{
    return td::with_dataset(id, [&](td::Dataset& ds) { return td::kind_inquire(ds, kind, name); });
}

extern "C" int td_storageinq(int id, int* storage, char* name)
{
    return td::with_dataset(id, [&](td::Dataset& ds) { return td::storage_inquire(ds, storage, name); });
}

extern "C" int td_lengthinq(int id, int64_t* needed)
{
    return td::with_dataset(id, [&](td::Dataset& ds) { return td::length_inquire(ds, needed); });
}

extern "C" int td_unitsinq(int id, char* units, char* long_name, char* label)
{
    return td::with_dataset(id,
                            [&](td::Dataset& ds) { return td::units_inquire(ds, units, long_name, label); });
}
