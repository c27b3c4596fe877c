// registry.cpp - the process-wide state of the library.
#include "registry.h"

#include <cstring>

namespace td {

LibraryState& state()
{
    static LibraryState the_state;
    return the_state;
}

Dataset* find_dataset(int id) noexcept
{
    if (id < 0 || id >= TD_MAX_DATASETS)
        return nullptr;
    return state().slots[static_cast<std::size_t>(id)].get();
}

void decide_byte_order() noexcept
{
    LibraryState& s = state();
    if (s.byte_order_decided)
        return;
    // The file format is big-endian; a host that stores the low byte first
    // must exchange the two bytes of every 16-bit quantity it reads.
    const std::uint16_t probe = 0x0102;
    unsigned char first_byte = 0;
    std::memcpy(&first_byte, &probe, 1);
    s.swap_bytes = (first_byte == 0x02);
    s.byte_order_decided = true;
}

bool host_swaps() noexcept
{
    return state().swap_bytes;
}

} // namespace td
