// handle_cache.cpp - the lock around the td_ library and the cache of open
// dataset ids.  All of the driver's process-wide state lives here.
#include "handle_cache.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "cpl_conv.h"
#include "tidewell.h"

namespace tdgdal {

namespace {

// The plugin has the library's table of 100 slots to itself (it links its
// own copy); a few stay free for Identify's brief opens.  64 open ids let
// a mosaic 64 tiles wide be read without reopening tiles between swaths.
constexpr int kDefaultCapacity = 64;
constexpr int kMaxCapacity = 90;

struct CachedId {
    std::string key;
    int id = -1;
    std::uint64_t last_used = 0;
};

struct LibraryState {
    std::mutex mutex;
    std::vector<CachedId> open;          // at most cache_capacity() entries
    std::map<std::string, int> sources;  // live Sources per key
    std::uint64_t clock = 0;
    bool exiting = false;                // the library's own state is gone
};

// Never destroyed: GDAL may close datasets after the static objects of
// this module are gone (GDALDestroyDriverManager in an exit handler), and
// they must still find the lock and the cache.
LibraryState& state()
{
    union Storage {
        LibraryState value;
        Storage() : value() {}
        ~Storage() {}
    };
    static Storage storage;
    return storage.value;
}

// Marks the process as exiting before the library's table of open
// datasets is destroyed at exit; from then on nothing is closed.  Made
// right after a td_ call, so after the library's own state: static
// objects are destroyed in the reverse order, this one first.
struct ExitGuard {
    ~ExitGuard()
    {
        const std::lock_guard lock(state().mutex);
        state().exiting = true;
    }
};

void guard_exit()
{
    static ExitGuard guard;
}

std::string key_of(const std::string& path, const FileIdentity& identity)
{
    return path + '\n' + std::to_string(identity.device) + ':' + std::to_string(identity.inode) + ':' +
           std::to_string(identity.size) + ':' + std::to_string(identity.modified_ns);
}

// Closes the least recently used id; false when none is open.  Lock held.
bool evict_oldest(LibraryState& s)
{
    if (s.open.empty())
        return false;
    const auto oldest = std::min_element(s.open.begin(), s.open.end(),
        [](const CachedId& a, const CachedId& b) { return a.last_used < b.last_used; });
    // A read-only close cannot fail for an open id.
    static_cast<void>(td_close(oldest->id));
    s.open.erase(oldest);
    return true;
}

// Opens `path` read-only, making room in the cache first.  Lock held.
int open_with_room(LibraryState& s, const std::string& path, int& id)
{
    const auto capacity = static_cast<std::size_t>(cache_capacity());
    while (s.open.size() >= capacity)
        evict_oldest(s);
    for (;;) {
        const int status = td_open(path.c_str(), TD_READONLY, &id);
        guard_exit();
        // The table is full only if something else in this process shares
        // the library; give back what the cache holds before giving up.
        if (status != TD_EMAXDS || !evict_oldest(s))
            return status;
    }
}

} // namespace

FileIdentity file_identity(int id)
{
    FileIdentity identity;
    if (td_fileinq(id, &identity.device, &identity.inode, &identity.size, &identity.modified_ns, nullptr) !=
        TD_NOERR)
        return FileIdentity{};
    return identity;
}

std::string status_message(int status)
{
    if (status == kFileChanged)
        return "dataset changed on disk since it was opened";
    return td_strerror(status);
}

std::unique_lock<std::mutex> lock_library()
{
    return std::unique_lock<std::mutex>(state().mutex);
}

int cache_capacity()
{
    const int n = std::atoi(CPLGetConfigOption("TIDEWELL_MAX_OPEN_DATASETS", "0"));
    return n < 1 ? kDefaultCapacity : std::min(n, kMaxCapacity);
}

Source::Source(std::string path, const FileIdentity& identity)
    : path_(std::move(path)), key_(key_of(path_, identity)), identity_(identity)
{
    const auto lock = lock_library();
    ++state().sources[key_];
}

Source::~Source()
{
    LibraryState& s = state();
    const auto lock = lock_library();
    if (s.exiting)
        return;
    const auto users = s.sources.find(key_);
    if (users != s.sources.end() && --users->second > 0)
        return;
    if (users != s.sources.end())
        s.sources.erase(users);
    const auto cached = std::find_if(s.open.begin(), s.open.end(),
                                     [&](const CachedId& c) { return c.key == key_; });
    if (cached != s.open.end()) {
        static_cast<void>(td_close(cached->id));
        s.open.erase(cached);
    }
}

int Source::with_id(const std::function<int(int id)>& read) const
{
    LibraryState& s = state();
    const auto lock = lock_library();
    if (s.exiting)
        return TD_EBADID;
    const auto cached = std::find_if(s.open.begin(), s.open.end(),
                                     [&](const CachedId& c) { return c.key == key_; });
    if (cached != s.open.end()) {
        cached->last_used = ++s.clock;
        return read(cached->id);
    }
    int id = -1;
    if (const int status = open_with_room(s, path_, id); status != TD_NOERR)
        return status;
    // The file opened must be the one described when the GDAL dataset was
    // opened.
    if (!(file_identity(id) == identity_)) {
        static_cast<void>(td_close(id));
        return kFileChanged;
    }
    s.open.push_back({key_, id, ++s.clock});
    return read(id);
}

} // namespace tdgdal
