// kind_defaults.h - the display settings that depend on the kind of data.
#pragma once

#include "cmd_options.h"

namespace tdf {

// Fills min, max, tick interval and colour map where not given, from the
// defaults of the kind of data (a TD_KIND_* code, as the library names the
// dataset's kind).  Returns 0, or exit_status::unknown_data_id (-5) after
// reporting "unknown data_id" with the data_id text for a kind that has no
// defaults.
[[nodiscard]] int apply_kind_defaults(cmd_options& options, int kind, const char* data_id);

} // namespace tdf
