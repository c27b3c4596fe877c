// kind_defaults.cpp - the table of defaults per kind of data.
#include "kind_defaults.h"

#include "failure.h"
#include "tidewell.h"

namespace tdf {

namespace {

struct kind_defaults {
    float min;
    float max;
    float ticint;
    const char* cmap;
};

constexpr kind_defaults infrared_celsius{4.0f, 30.0f, 2.0f, "hsl256"};
constexpr kind_defaults infrared_fahrenheit{39.2f, 86.0f, 2.0f, "hsl256"};
constexpr kind_defaults visible{0.0f, 20.0f, 2.0f, "black-white"};
constexpr kind_defaults scan_time{0.0f, 24.0f, 2.0f, "black-white"};
constexpr kind_defaults angle{0.0f, 90.0f, 5.0f, "black-white"};
constexpr kind_defaults cloud{0.0f, 255.0f, 16.0f, "hsl256"};

const kind_defaults* find_kind(int kind, bool fahrenheit) noexcept
{
    switch (kind) {
    case TD_KIND_INFRARED:
        return fahrenheit ? &infrared_fahrenheit : &infrared_celsius;
    case TD_KIND_VISIBLE:
        return &visible;
    case TD_KIND_SCAN_TIME:
        return &scan_time;
    case TD_KIND_ANGLE:
        return &angle;
    case TD_KIND_CLOUD:
        return &cloud;
    default:
        return nullptr;
    }
}

} // namespace

int apply_kind_defaults(cmd_options& options, int kind_code, const char* data_id)
{
    const char* id = data_id ? data_id : "";
    const kind_defaults* kind = find_kind(kind_code, options.fahrenheit);
    if (!kind) {
        report_failure("unknown data_id", id);
        return code(exit_status::unknown_data_id);
    }
    if (!options.min_given)
        options.min = kind->min;
    if (!options.max_given)
        options.max = kind->max;
    if (!options.ticint_given)
        options.ticint = kind->ticint;
    if (!options.cmap_given)
        options.cmap = kind->cmap;
    return 0;
}

} // namespace tdf
