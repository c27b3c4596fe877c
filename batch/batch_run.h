// batch_run.h - one run of tdfbatch: walk the source, decide what is out
// of date, convert it with tdftogif children, and leave the manifest, the
// report and the page.
#pragma once

#include "batch_options.h"

namespace tdb {

// Runs the batch; gives the exit status (kAllDone, kSomeFailed or
// kUsageError).  An interrupt stops the children, keeps what is done and
// ends the process with the same signal.
int run_batch(const BatchOptions& options);

} // namespace tdb
