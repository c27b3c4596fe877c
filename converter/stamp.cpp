// stamp.cpp - the satellite time stamp: satellite, data variable and orbit
// start time in a box in the lower-left corner of the image.
#include "stamp.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "failure.h"
#include "image_layout.h"
#include "tidewell.h"

namespace tdf {

namespace {

// Upper case of the C locale, whatever the process locale is.
char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The time text: "YYYY/MM/DD HH:MM:SS UTC" or "... ZONE" in local time.  A
// dataset without a valid orbit start time, a time before 1970 or beyond
// the 32-bit range, or one that the C library cannot convert is shown as
// question marks.
std::string time_text(std::optional<std::int64_t> t, bool utc)
{
    if (t && *t >= 0 && *t <= 2147483647) {
        const auto seconds = static_cast<std::time_t>(*t);
        // localtime follows the process's time-zone setting as it is now.
        const std::tm* calendar = utc ? std::gmtime(&seconds) : std::localtime(&seconds);
        if (calendar != nullptr) {
            char text[80];
            const std::size_t n = std::strftime(
                text, sizeof text, utc ? "%Y/%m/%d %H:%M:%S UTC" : "%Y/%m/%d %H:%M:%S %Z", calendar);
            if (n > 0)
                return std::string(text, n);
        }
    }
    // "????/??/?? ??:??:??", escaped so that no compiler reads trigraphs.
    const std::string unknown = "\?\?\?\?/\?\?/\?\? \?\?:\?\?:\?\?";
    return utc ? unknown + " UTC" : unknown;
}

// One failed read: the failure line, and the status for the caller.
int failed(int status, const char* name)
{
    report_failure(td_strerror(status), name);
    return status;
}

} // namespace

int draw_stamp(gdImagePtr image, gdFontPtr font, int background, int fg, int dataset, int variable, bool utc)
{
    char variable_name[32] = {};
    int status = td_varinq(dataset, variable, variable_name, nullptr, nullptr, nullptr, nullptr);
    if (status != 0)
        return failed(status, "variable 0");
    variable_name[sizeof variable_name - 1] = '\0';
    for (char* p = variable_name; *p != '\0'; ++p)
        *p = *p == '_' ? ' ' : upper(*p);

    char satellite[32] = {};
    status = td_attget_text(dataset, variable, "satellite_id", satellite);
    if (status != 0)
        return failed(status, "satellite_id");
    satellite[sizeof satellite - 1] = '\0';
    for (char* p = satellite; *p != '\0'; ++p)
        *p = upper(*p);

    // The library says what time the header's fields make, if any.  When
    // one of them cannot be read, the first such field is named.
    std::int64_t seconds = 0;
    status = td_timeinq(dataset, &seconds, nullptr, nullptr);
    if (status != 0 && status != TD_EBADATTVAL) {
        for (const char* field :
             {"orbit_start_year", "orbit_start_day", "orbit_start_hour_minute", "orbit_start_second"}) {
            std::int16_t value = 0;
            if (const int s = td_attget_short(dataset, variable, field, &value); s != 0)
                return failed(s, field);
        }
        return failed(status, "orbit_start_year");
    }
    const std::string when =
        time_text(status == 0 ? std::optional<std::int64_t>(seconds) : std::nullopt, utc);
    // The stamp holds at most 79 characters; a longer one keeps its start.
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, "%s %s %s", satellite, variable_name, when.c_str());

    const int n = static_cast<int>(std::strlen(stamp));
    const int w = font->w;
    const int h = font->h;
    const int sy = gdImageSY(image);
    const int x1 = layout::stamp_left;
    const int y2 = sy - layout::bottom_row_above_edge;
    const int y1 = y2 - h;
    const int x2 = x1 + (n + 2) * w;
    gdImageFilledRectangle(image, x1, y1, x2, y2, background);
    gdImageRectangle(image, x1, y1, x2, y2, fg);
    gdImageString(image, font, x1 + w, y1, reinterpret_cast<unsigned char*>(stamp), fg);
    return 0;
}

} // namespace tdf
