// progress.h - the progress line of a run on a terminal, and its summary.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace tdb {

struct Counts {
    std::size_t datasets = 0;   // of the shard, found this run
    std::size_t to_convert = 0; // of those, not up to date
    std::size_t converted = 0;
    std::size_t skipped = 0;
    std::size_t failed = 0;
    std::size_t others = 0; // files that are not datasets
};

class Progress {
public:
    // Shown on standard error when `enabled` (a terminal, and not -q).
    explicit Progress(bool enabled);
    // Redraws the line, at most four times a second unless `now`.
    void update(const Counts& counts, bool now = false);
    // Takes the line away, before other lines are written or at the end.
    void clear();

private:
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

// "57 converted, 0 skipped, 3 failed, 2 other files, 1.2 s"
std::string summary_text(const Counts& counts, double seconds);

// "2m13s", "45s", "1h02m"
std::string duration_text(double seconds);

} // namespace tdb
