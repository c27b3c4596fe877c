// vsi_source.h - Tidewell datasets read through GDAL's virtual file layer.
//
// A dataset named by a GDAL virtual file name (/vsizip/, /vsitar/,
// /vsigzip/, /vsimem/, /vsisubfile/, /vsicurl/, /vsis3/ and the rest) is
// opened with VSIFOpenL, and the library reads it through a positioned
// read, the size and a close over that VSILFILE (td_pool_open_callbacks):
// one row's bytes at a time, so a remote dataset is fetched in range
// requests of whole rows.  A local file is opened by the library itself,
// which then also sees it changed in place by its device, inode and times.
#pragma once

#include <string>

namespace tdgdal {

// Whether `name` is a GDAL virtual file name (begins with /vsi).
[[nodiscard]] bool is_virtual_file(const std::string& name);

// Opens `name` read-only through VSI and gives the library's pool handle of
// the dataset on it.  Returns the library's status: TD_EACCESS when VSI
// cannot open the name or it is a directory, else that of
// td_pool_open_callbacks.  The VSILFILE is closed when the pool forgets the
// handle, or here when the open fails.
[[nodiscard]] int pool_open_vsi(const std::string& name, int* handle);

} // namespace tdgdal
