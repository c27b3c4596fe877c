// browse_page.h - OUTPUT/index.html: one self-contained page (its style,
// script and data inline, links relative) that shows a card per dataset
// and works when opened from the file system, with no server and no
// network.  Its Content-Security-Policy lets it load images from its own
// folder and run its own script and style only.
#pragma once

#include <string>

#include "manifest.h"

namespace tdb {

struct PageSettings {
    std::string title;     // the output folder's name
    std::string generated; // "2024-03-02 04:00 UTC"
};

// The page for the datasets of `records` (files that are not datasets are
// left out); `thumbnail` gives a dataset's reduced quicklook path and
// `quicklook` its GIF path, both relative to the output folder.
std::string browse_page(const Records& records, const PageSettings& settings);

// Paths of a dataset's quicklook and reduced quicklook below the output
// folder.
std::string thumbnail_path(const std::string& quicklook);

} // namespace tdb
