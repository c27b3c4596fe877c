// batch_options.h - the command line of tdfbatch.
#pragma once

#include <string>
#include <vector>

#include "archive_walk.h"

namespace tdb {

// Exit statuses of tdfbatch.
inline constexpr int kAllDone = 0;    // every dataset converted or skipped
inline constexpr int kSomeFailed = 1; // a dataset failed, or the run could not be completed
inline constexpr int kUsageError = 2;

struct BatchOptions {
    std::string source;                         // SRC
    std::string output;                         // DST
    std::vector<std::string> converter_options; // after "--", passed to every tdftogif run
    unsigned jobs = 0;                          // 0: the number of processors
    unsigned time_limit = 600;                  // seconds per conversion, 0: none
    bool quiet = false;
    std::string report;      // --report FILE, empty: none
    bool index = false;      // --index: write OUTPUT/index.html
    bool index_only = false; // --index-only DST: the page alone
    Shard shard;
    bool force = false;    // convert even what is up to date
    std::string converter; // --tdftogif PATH, empty: look it up
};

struct ParseOutcome {
    bool run = false; // false: end at once with `status` (usage, --help, --version)
    int status = 0;
};

// Reads the command line; on a usage error writes a failure line and the
// synopsis on standard error.
ParseOutcome parse_options(int argc, const char* const* argv, BatchOptions& options);

} // namespace tdb
