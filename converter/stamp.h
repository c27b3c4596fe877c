// stamp.h - the satellite time stamp in the lower-left corner.
#pragma once

#include <gd.h>

namespace tdf {

// Draws "SATELLITE VARIABLE YYYY/MM/DD HH:MM:SS ZONE" in a box.  Returns 0,
// or the library status after reporting the failing read.
[[nodiscard]] int draw_stamp(gdImagePtr image, gdFontPtr font, int background, int fg, int dataset,
                             int variable, bool utc);

} // namespace tdf
