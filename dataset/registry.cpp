// registry.cpp - the process-wide state of the library.
#include "registry.h"

#include <pthread.h>

namespace td {

namespace {

// Storage that is never destroyed: no destructor runs at exit.
union StateStorage {
    LibraryState value;
    StateStorage() : value() {}
    ~StateStorage() {}
};

StateStorage& storage()
{
    static StateStorage the_state;
    return the_state;
}

// In the child of a fork only the forking thread goes on; a lock another
// thread held at that moment would stay held for ever.  The child starts
// with every lock free.  (What such a thread was doing is left half done;
// the child should not use a dataset another thread was reading while it
// forked.)
void reset_locks_in_child() noexcept
{
    LibraryState& s = storage().value;
    std::construct_at(&s.table_lock);
    std::construct_at(&s.pool_lock);
    for (const std::shared_ptr<Dataset>& ds : s.slots)
        if (ds)
            std::construct_at(&ds->lock);
}

} // namespace

LibraryState& state()
{
    static const bool fork_handler = pthread_atfork(nullptr, nullptr, reset_locks_in_child) == 0;
    static_cast<void>(fork_handler);
    return storage().value;
}

std::shared_ptr<Dataset> find_dataset(int id)
{
    if (id < 0 || id >= TD_MAX_DATASETS)
        return nullptr;
    LibraryState& s = state();
    const std::lock_guard hold(s.table_lock);
    return s.slots[static_cast<std::size_t>(id)];
}

int reserve_slot()
{
    LibraryState& s = state();
    const std::lock_guard hold(s.table_lock);
    for (std::size_t i = 0; i < s.slots.size(); ++i)
        if (!s.slots[i] && !s.reserved[i]) {
            s.reserved[i] = true;
            return static_cast<int>(i);
        }
    return -1;
}

void fill_slot(int slot, std::shared_ptr<Dataset> ds)
{
    LibraryState& s = state();
    const std::lock_guard hold(s.table_lock);
    s.slots[static_cast<std::size_t>(slot)] = std::move(ds);
    s.reserved[static_cast<std::size_t>(slot)] = false;
}

void release_slot(int slot) noexcept
{
    LibraryState& s = state();
    const std::lock_guard hold(s.table_lock);
    s.reserved[static_cast<std::size_t>(slot)] = false;
}

void free_slot(int slot, const Dataset& ds) noexcept
{
    LibraryState& s = state();
    const std::lock_guard hold(s.table_lock);
    std::shared_ptr<Dataset>& held = s.slots[static_cast<std::size_t>(slot)];
    if (held.get() == &ds)
        held.reset();
}

} // namespace td
