// identify.cpp - recognising a dataset from the first bytes of its file,
// with no file at hand: the checks td_open makes, made on those bytes.
#include <cstddef>
#include <cstdint>

#include "header_fields.h"
#include "tidewell.h"

namespace td {

namespace {

int identify(const unsigned char* head, std::size_t length)
{
    if (head == nullptr || length == 0)
        return TD_ENOMAGIC;
    if (head[0] != kMagic)
        return TD_EMAGIC;
    OpenFields fields;
    return check_open_fields(
        [&](std::int64_t offset, std::int16_t& value) {
            if (offset < 0 || static_cast<std::uint64_t>(offset) + 2 > length)
                return false;
            // Big-endian, whatever the host's order.
            const auto at = static_cast<std::size_t>(offset);
            value = static_cast<std::int16_t>(static_cast<std::uint16_t>((head[at] << 8) | head[at + 1]));
            return true;
        },
        fields);
}

} // namespace

} // namespace td

extern "C" int td_identify(const void* head, size_t length)
{
    return td::identify(static_cast<const unsigned char*>(head), length);
}
