// attribute_catalog.cpp - the header attributes as a list: an attribute's
// name, kind and scale by its number, and the stored 16-bit value of any
// attribute, for callers that show every attribute (an inspector) rather
// than ask for the few they know.
#include <cstring>
#include <string_view>

#include "header_fields.h"
#include "inquire.h"
#include "registry.h"
#include "tidewell.h"

namespace td {

namespace {

int attribute_inquire(int varid, int attnum, char* name, std::int16_t* kind, std::int16_t* scale)
{
    if (varid == kGraphicsVariable)
        return TD_EBADATT;
    if (varid != kDataVariable)
        return TD_EBADVARID;
    const auto table = attribute_table();
    if (attnum < 0 || static_cast<std::size_t>(attnum) >= table.size())
        return TD_EBADATTID;
    const Attribute& entry = table[static_cast<std::size_t>(attnum)];
    if (name != nullptr) {
        std::memcpy(name, entry.name.data(), entry.name.size());
        name[entry.name.size()] = '\0';
    }
    if (kind != nullptr)
        *kind = static_cast<std::int16_t>(entry.kind);
    if (scale != nullptr)
        *scale = entry.scale;
    return TD_NOERR;
}

} // namespace

} // namespace td

extern "C" int td_attinq(int id, int varid, int attnum, char* name, int16_t* kind, int16_t* scale)
{
    return td::with_dataset(
        id, [&](td::Dataset&) { return td::attribute_inquire(varid, attnum, name, kind, scale); });
}

extern "C" int td_attget_stored(int id, int varid, const char* name, int16_t* value)
{
    return td::with_dataset(
        id, [&](td::Dataset& ds) { return td::stored_attribute(ds, varid, name, std::nullopt, value); });
}
