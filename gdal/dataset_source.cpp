// dataset_source.cpp - GDAL datasets as handles of the library's pool.
#include "dataset_source.h"

#include <cstdlib>

#include "cpl_conv.h"
#include "tidewell.h"
#include "vsi_source.h"

namespace tdgdal {

std::string read_message(const ReadResult& result)
{
    std::string message = td_strerror(result.status);
    if (result.changed)
        message += " (dataset changed on disk since it was opened)";
    return message;
}

int Source::open(const std::string& path)
{
    path_ = path;
    apply_pool_limit();
    return is_virtual_file(path) ? pool_open_vsi(path, &handle_) : td_pool_open(path.c_str(), &handle_);
}

Source::~Source()
{
    if (handle_ >= 0)
        static_cast<void>(td_pool_close(handle_));
}

int Source::acquire(int& id) const
{
    return td_pool_acquire(handle_, &id);
}

void Source::release() const
{
    static_cast<void>(td_pool_release(handle_));
}

bool Source::changed(int id)
{
    int changed = 0;
    return td_fileinq(id, nullptr, nullptr, nullptr, nullptr, &changed) == TD_NOERR && changed != 0;
}

bool Source::refused_as_changed(int status)
{
    // The pool refuses to open again a file that changed while it was
    // closed, with the status its reads would give.
    return status == TD_EUNCOMPFILE || status == TD_ECOMPFILE;
}

void apply_pool_limit()
{
    const char* option = CPLGetConfigOption("TIDEWELL_MAX_OPEN_DATASETS", nullptr);
    const int limit = option != nullptr ? std::atoi(option) : 0;
    static_cast<void>(td_pool_setlimit(limit >= 1 ? limit : TD_POOL_LIMIT));
}

} // namespace tdgdal
