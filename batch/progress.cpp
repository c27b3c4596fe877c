// progress.cpp - one line redrawn in place with a carriage return.
#include "progress.h"

#include <algorithm>
#include <cstdio>

namespace tdb {

Progress::Progress(bool enabled)
    : enabled_(enabled), start_(std::chrono::steady_clock::now()), last_(start_ - std::chrono::seconds(1))
{
}

void Progress::update(const Counts& c, bool now)
{
    if (!enabled_)
        return;
    const auto t = std::chrono::steady_clock::now();
    if (!now && t - last_ < std::chrono::milliseconds(250))
        return;
    last_ = t;
    const double elapsed = std::chrono::duration<double>(t - start_).count();
    const std::size_t finished = c.converted + c.failed;
    const std::size_t done = finished + c.skipped;
    char line[160];
    int n =
        std::snprintf(line, sizeof line, "\rtdfbatch: %zu/%zu done, %zu failed", done, c.datasets, c.failed);
    if (finished > 0 && elapsed > 0.5) {
        const double rate = static_cast<double>(finished) / elapsed;
        const double left = static_cast<double>(c.to_convert - std::min(c.to_convert, finished)) / rate;
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), ", %.1f/s, %s left", rate,
                           duration_text(left).c_str());
    }
    // Erase the rest of a longer earlier line.
    std::fprintf(stderr, "%s\033[K", line);
    std::fflush(stderr);
    shown_ = true;
}

void Progress::clear()
{
    if (!shown_)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
    last_ = std::chrono::steady_clock::now() - std::chrono::seconds(1);
}

std::string duration_text(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s < 60)
        std::snprintf(text, sizeof text, "%lds", s);
    else if (s < 3600)
        std::snprintf(text, sizeof text, "%ldm%02lds", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ldh%02ldm", s / 3600, s / 60 % 60);
    return text;
}

std::string summary_text(const Counts& c, double seconds)
{
    char text[200];
    int n = std::snprintf(text, sizeof text, "%zu converted, %zu skipped, %zu failed", c.converted, c.skipped,
                          c.failed);
    if (c.others > 0)
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ", %zu other file%s",
                           c.others, c.others == 1 ? "" : "s");
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ", %.1f s", seconds);
    return text;
}

} // namespace tdb
