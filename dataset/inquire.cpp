// inquire.cpp - dimensions, variables and header attributes by name.
//
// Every answer but the values cached at open is read from the current
// stream when it is asked for.
#include <cstring>
#include <string_view>

#include "header_fields.h"
#include "inquire.h"
#include "registry.h"
#include "tidewell.h"

namespace td {

int find_data_attribute(int varid, const char* name, FoundAttribute& found) noexcept
{
    if (varid == kGraphicsVariable)
        return TD_EBADATT;
    if (varid != kDataVariable)
        return TD_EBADVARID;
    if (name == nullptr)
        return TD_EBADATT;
    const auto number = find_attribute(name);
    if (!number)
        return TD_EBADATT;
    found.number = *number;
    found.entry = &attribute_table()[static_cast<std::size_t>(*number)];
    return TD_NOERR;
}

int stored_attribute(Dataset& ds, int varid, const char* name, std::optional<FieldKind> required,
                     std::int16_t* value)
{
    FoundAttribute found;
    if (const int status = find_data_attribute(varid, name, found); status != TD_NOERR)
        return status;
    std::int16_t stored = 0;
    if (read_field(ds.current, found.entry->offset, stored) != 0)
        return TD_EREADATT;
    if (required && found.entry->kind != *required)
        return TD_EATTTYPE;
    if (value != nullptr)
        *value = stored;
    return TD_NOERR;
}

namespace {

constexpr std::string_view kGraphicsName = "graphics";

// Copies a table name with its terminator into a caller's buffer.
void copy_name(std::string_view name, char* out) noexcept
{
    std::memcpy(out, name.data(), name.size());
    out[name.size()] = '\0';
}

// The cached length of a dimension; a negative stored length means the
// dimension is undefined (the format's own marker is -1).
std::int16_t cached_length(const Dataset& ds, int dimid) noexcept
{
    return dimid == 0 ? ds.rows : ds.columns;
}

int dimension_id(const Dataset& ds, const char* name, int* dimid)
{
    if (name == nullptr)
        return TD_EBADDIM;
    const auto found = find_dimension(name);
    if (!found)
        return TD_EBADDIM;
    if (dimid != nullptr)
        *dimid = *found;
    if (cached_length(ds, *found) < 0)
        return TD_EBADDIM;
    return TD_NOERR;
}

int dimension_inquire(Dataset& ds, int dimid, char* name, int* length)
{
    if (dimid != 0 && dimid != 1)
        return TD_EBADDIMID;
    if (cached_length(ds, dimid) < 0)
        return TD_EBADDIMID;
    const Dimension& dim = dimension_table()[static_cast<std::size_t>(dimid)];
    if (name != nullptr)
        copy_name(dim.name, name);
    if (length != nullptr) {
        std::int16_t stored = 0;
        if (read_field(ds.current, dim.offset, stored) != 0)
            return TD_EREADDIM;
        // The file may have changed since the open: never hand out a
        // negative length.
        if (stored < 0)
            return TD_EBADDIMID;
        *length = stored;
    }
    return TD_NOERR;
}

int variable_id(Dataset& ds, const char* name, int* varid)
{
    if (name == nullptr)
        return TD_EBADVAR;
    if (std::string_view(name) == kGraphicsName) {
        if (ds.graphics == -1)
            return TD_EBADVAR;
        if (varid != nullptr)
            *varid = kGraphicsVariable;
        return TD_NOERR;
    }
    const int channel_attribute = *find_attribute("channel_number");
    std::int16_t channel = 0;
    if (read_field(ds.current, kOffsetChannelNumber, channel) != 0)
        return TD_EREADATT;
    const auto code = code_of_name(channel_attribute, name);
    if (!code || *code != channel)
        return TD_EBADVAR;
    if (varid != nullptr)
        *varid = kDataVariable;
    return TD_NOERR;
}

int variable_inquire(Dataset& ds, int varid, char* name, std::int16_t* type, int* ndims, int* dimids,
                     int* natts)
{
    if (varid == kGraphicsVariable) {
        if (ds.graphics == -1)
            return TD_EBADVARID;
        if (name != nullptr)
            copy_name(kGraphicsName, name);
        if (type != nullptr)
            *type = TD_BYTE;
        if (natts != nullptr)
            *natts = 0;
    } else if (varid == kDataVariable) {
        if (name != nullptr) {
            std::int16_t channel = 0;
            if (read_field(ds.current, kOffsetChannelNumber, channel) != 0)
                return TD_EREADATT;
            const auto channel_name = name_of_code(*find_attribute("channel_number"), channel);
            if (!channel_name)
                return TD_ECHANNEL;
            copy_name(*channel_name, name);
        }
        if (type != nullptr)
            *type = ds.data_id == 3 ? TD_BYTE : TD_FLOAT;
        if (natts != nullptr)
            *natts = TD_NUM_ATTRIBUTES;
    } else {
        return TD_EBADVARID;
    }
    if (ndims != nullptr)
        *ndims = 2;
    if (dimids != nullptr) {
        dimids[0] = 0;
        dimids[1] = 1;
    }
    return TD_NOERR;
}

int attribute_text(Dataset& ds, int varid, const char* name, char* text)
{
    FoundAttribute found;
    if (const int status = find_data_attribute(varid, name, found); status != TD_NOERR)
        return status;
    const Attribute& entry = *found.entry;
    if (entry.kind != FieldKind::enumerated)
        return TD_EATTTYPE;
    std::int16_t code = 0;
    if (read_field(ds.current, entry.offset, code) != 0)
        return TD_EREADATT;
    const auto value_name = name_of_code(found.number, code);
    if (!value_name)
        return TD_EBADATTVAL;
    if (text != nullptr)
        copy_name(*value_name, text);
    return TD_NOERR;
}

} // namespace

} // namespace td

extern "C" int td_dimid(int id, const char* name, int* dimid)
{
    return td::with_dataset(id, [&](td::Dataset& ds) { return td::dimension_id(ds, name, dimid); });
}

extern "C" int td_diminq(int id, int dimid, char* name, int* length)
{
    return td::with_dataset(id,
                            [&](td::Dataset& ds) { return td::dimension_inquire(ds, dimid, name, length); });
}

extern "C" int td_varid(int id, const char* name, int* varid)
{
    return td::with_dataset(id, [&](td::Dataset& ds) { return td::variable_id(ds, name, varid); });
}

extern "C" int td_varinq(int id, int varid, char* name, int16_t* type, int* ndims, int* dimids, int* natts)
{
    return td::with_dataset(id, [&](td::Dataset& ds) {
        return td::variable_inquire(ds, varid, name, type, ndims, dimids, natts);
    });
}

extern "C" int td_attget_text(int id, int varid, const char* name, char* text)
{
    return td::with_dataset(id, [&](td::Dataset& ds) { return td::attribute_text(ds, varid, name, text); });
}

extern "C" int td_attget_short(int id, int varid, const char* name, int16_t* value)
{
    return td::with_dataset(id, [&](td::Dataset& ds) {
        return td::stored_attribute(ds, varid, name, td::FieldKind::plain_short, value);
    });
}
