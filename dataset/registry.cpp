// registry.cpp - the process-wide state of the library.
#include "registry.h"

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

} // namespace td
