// vsi_source.cpp - the library's callbacks over a VSILFILE.
#include "vsi_source.h"

#include <cstdint>
#include <cstdio>
#include <memory>

#include "cpl_vsi.h"
#include "tidewell.h"

namespace tdgdal {

namespace {

struct VsiCloser {
    void operator()(VSILFILE* f) const noexcept { VSIFCloseL(f); }
};
using VsiFile = std::unique_ptr<VSILFILE, VsiCloser>;

// The library never calls these for one dataset from two threads at once,
// so the VSILFILE (not safe for threads) needs no lock of its own.
std::int64_t read_vsi(void* user, std::int64_t offset, void* buffer, std::size_t length)
{
    VSILFILE* f = static_cast<VsiFile*>(user)->get();
    if (offset < 0 || VSIFSeekL(f, static_cast<vsi_l_offset>(offset), SEEK_SET) != 0)
        return -1;
    const std::size_t got = VSIFReadL(buffer, 1, length, f);
    // Fewer bytes than asked: the end of the file, or a failure (a network
    // error, a damaged archive member), which VSI tells apart by its end
    // flag.  Bytes read before a failure count; asked again for the rest,
    // the failure shows.
    if (got == 0 && length > 0 && !VSIFEofL(f))
        return -1;
    return static_cast<std::int64_t>(got);
}

std::int64_t size_vsi(void* user)
{
    VSILFILE* f = static_cast<VsiFile*>(user)->get();
    if (VSIFSeekL(f, 0, SEEK_END) != 0)
        return -1;
    const vsi_l_offset end = VSIFTellL(f);
    return end > static_cast<vsi_l_offset>(INT64_MAX) ? -1 : static_cast<std::int64_t>(end);
}

void close_vsi(void* user)
{
    // Takes back the file that pool_open_vsi gave away: it closes here.
    const std::unique_ptr<VsiFile> file(static_cast<VsiFile*>(user));
}

} // namespace

bool is_virtual_file(const std::string& name)
{
    return name.starts_with("/vsi");
}

int pool_open_vsi(const std::string& name, int* handle)
{
    VSIStatBufL st{};
    if (VSIStatExL(name.c_str(), &st, VSI_STAT_NATURE_FLAG) == 0 && VSI_ISDIR(st.st_mode))
        return TD_EACCESS;
    auto file = std::make_unique<VsiFile>(VSIFOpenL(name.c_str(), "rb"));
    if (!*file)
        return TD_EACCESS;
    const int status = td_pool_open_callbacks(file.get(), read_vsi, size_vsi, close_vsi, handle);
    // On success the pool owns the file until it forgets the handle.
    if (status == TD_NOERR)
        static_cast<void>(file.release());
    return status;
}

} // namespace tdgdal
