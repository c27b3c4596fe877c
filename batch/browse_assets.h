// browse_assets.h - the style sheet and script of the browse page (from
// batch/page/, embedded at build time) and their digests for the page's
// Content-Security-Policy ("sha256-" and the base64 digest).
#pragma once

#include <string_view>

namespace tdb {

extern const std::string_view page_css;
extern const std::string_view page_css_digest;
extern const std::string_view page_js;
extern const std::string_view page_js_digest;

} // namespace tdb
