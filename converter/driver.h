// driver.h - one conversion of a dataset into a GIF.
#pragma once

#include "cmd_options.h"

namespace tdf {

// Runs the conversion described by the option settings (after the option
// stage).  Returns the exit status: 0, or the status of the first failure,
// whose line has already been written on standard error.
[[nodiscard]] int convert(cmd_options& options);

} // namespace tdf
