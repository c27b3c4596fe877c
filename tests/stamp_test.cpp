// Satellite time stamp: texts, time arithmetic, time zones, box geometry and
// failing reads, with datasets made by the project's writer.
#include <gtest/gtest.h>

#include <gd.h>
#include <gdfonts.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "dataset_writer.h"
#include "gif_image.h"
#include "run_command.h"
#include "stamp.h"
#include "tidewell.h"

namespace {

using tdtest::image_ptr;

// The time text of a time that has no calendar date here (escaped: no
// trigraphs).
constexpr const char* kUnknownLocal = "\?\?\?\?/\?\?/\?\? \?\?:\?\?:\?\?";
constexpr const char* kUnknownUtc = "\?\?\?\?/\?\?/\?\? \?\?:\?\?:\?\? UTC";

constexpr int kRows = 40;
constexpr int kColumns = 500;

// Background 0 and foreground 1 over a raster painted in colour 2, so that
// the box shows where it covers the raster.
image_ptr make_image()
{
    image_ptr im(gdImageCreate(kColumns + 125, kRows + 22));
    gdImageColorAllocate(im.get(), 0, 0, 0);
    gdImageColorAllocate(im.get(), 255, 255, 255);
    gdImageColorAllocate(im.get(), 90, 90, 90);
    gdImageFilledRectangle(im.get(), 11, 11, kColumns + 10, kRows + 10, 2);
    return im;
}

// The image as it must look with `text` stamped.
image_ptr expected(const std::string& text)
{
    auto im = make_image();
    const int sy = kRows + 22;
    const int n = static_cast<int>(text.size());
    gdImageFilledRectangle(im.get(), 11, sy - 25, (n + 2) * 6 + 11, sy - 12, 0);
    gdImageRectangle(im.get(), 11, sy - 25, (n + 2) * 6 + 11, sy - 12, 1);
    std::string copy = text;
    gdImageString(im.get(), gdFontSmall, 17, sy - 25, reinterpret_cast<unsigned char*>(copy.data()), 1);
    return im;
}

using tdtest::differences;

struct start_time {
    int year, day, hour_minute, second;
};

tdw::DatasetDescription stamped(const start_time& t, std::int16_t data_id = tdw::kInfrared)
{
    tdw::DatasetDescription desc;
    desc.data_id = data_id;
    desc.rows = kRows;
    desc.columns = 8;
    desc.fields["orbit_start_year"] = static_cast<std::int16_t>(t.year);
    desc.fields["orbit_start_day"] = static_cast<std::int16_t>(t.day);
    desc.fields["orbit_start_hour_minute"] = static_cast<std::int16_t>(t.hour_minute);
    desc.fields["orbit_start_second"] = static_cast<std::int16_t>(t.second);
    return desc;
}

// Writes and opens a dataset, stamps a fresh image and returns it.
struct stamp_run {
    int status = -1;
    image_ptr image;
};

stamp_run run_stamp(const tdw::DatasetDescription& desc, bool utc)
{
    tdtest::TempDir dir;
    const std::string path = dir.file("stamp.tdf");
    tdw::write_dataset(path, desc);
    int id = -1;
    stamp_run run;
    run.image = make_image();
    if (td_open(path.c_str(), TD_READONLY, &id) != 0)
        return run;
    run.status = tdf::draw_stamp(run.image.get(), gdFontSmall, 0, 1, id, 0, utc);
    (void)td_close(id);
    return run;
}

// Sets TZ for one test and restores it afterwards.
class time_zone {
public:
    explicit time_zone(const char* tz)
    {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~time_zone()
    {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    time_zone(const time_zone&) = delete;
    time_zone& operator=(const time_zone&) = delete;

private:
    std::optional<std::string> old_;
};

TEST(DrawStamp, UtcTimes)
{
    const struct {
        start_time t;
        const char* when;
    } cases[] = {
        {{99, 132, 1423, 5}, "1999/05/12 14:23:05 UTC"},
        {{1999, 132, 1423, 5}, "1999/05/12 14:23:05 UTC"},
        {{0, 1, 0, 0}, "2000/01/01 00:00:00 UTC"},
        {{70, 1, 0, 0}, "1970/01/01 00:00:00 UTC"},
        {{2000, 60, 0, 0}, "2000/02/29 00:00:00 UTC"},
        // Every place in the four-year cycle of leap days.
        {{2001, 1, 0, 0}, "2001/01/01 00:00:00 UTC"},
        {{2022, 365, 0, 0}, "2022/12/31 00:00:00 UTC"},
        {{2023, 59, 0, 0}, "2023/02/28 00:00:00 UTC"},
        {{2024, 60, 0, 0}, "2024/02/29 00:00:00 UTC"},
        {{2024, 366, 0, 0}, "2024/12/31 00:00:00 UTC"},
        {{25, 60, 0, 0}, "2025/03/01 00:00:00 UTC"},
        {{1970, 1, 2359, 59}, "1970/01/01 23:59:59 UTC"},
        {{2038, 19, 314, 7}, "2038/01/19 03:14:07 UTC"}, // the last second of 32 bits
        {{2038, 19, 314, 8}, kUnknownUtc},               // one more
        {{69, 1, 0, 0}, kUnknownUtc},                    // 2069
        {{1969, 365, 2359, 59}, kUnknownUtc},            // before 1970
        {{32767, 32767, 32767, 32767}, kUnknownUtc},
        {{-32768, -32768, -32768, -32768}, kUnknownUtc},
    };
    for (const auto& c : cases) {
        auto run = run_stamp(stamped(c.t), true);
        ASSERT_EQ(run.status, 0) << c.when;
        const std::string text = std::string("HESK-14 AVHRR CH4 ") + c.when;
        auto want = expected(text);
        EXPECT_EQ(differences(run.image.get(), want.get()), 0)
            << c.t.year << " " << c.t.day << " -> " << c.when;
    }
}

TEST(DrawStamp, BoxOfA41CharacterText)
{
    auto run = run_stamp(stamped({99, 132, 1423, 5}), true);
    ASSERT_EQ(run.status, 0);
    // "HESK-14 AVHRR CH4 1999/05/12 14:23:05 UTC" is 41 characters: the box
    // spans x 11 to 269 and covers the bottom 14 raster rows.
    const int y_top = kRows - 3, y_bottom = kRows + 10;
    for (int x = 11; x <= 269; ++x) {
        EXPECT_EQ(gdImageGetPixel(run.image.get(), x, y_top), 1) << x;
        EXPECT_EQ(gdImageGetPixel(run.image.get(), x, y_bottom), 1) << x;
    }
    for (int y = y_top; y <= y_bottom; ++y) {
        EXPECT_EQ(gdImageGetPixel(run.image.get(), 11, y), 1) << y;
        EXPECT_EQ(gdImageGetPixel(run.image.get(), 269, y), 1) << y;
        EXPECT_EQ(gdImageGetPixel(run.image.get(), 270, y), 2) << "the raster goes on right of the box";
    }
    EXPECT_EQ(gdImageGetPixel(run.image.get(), 12, y_top + 1), 0) << "inside: background";
    EXPECT_EQ(gdImageGetPixel(run.image.get(), 100, y_top - 1), 2) << "above: raster";
}

TEST(DrawStamp, LocalTimeFollowsTheTimeZone)
{
    const struct {
        const char* tz;
        start_time t;
        const char* when;
    } cases[] = {
        {"UTC0", {99, 132, 1423, 5}, "1999/05/12 14:23:05 UTC"},
        {"EST5", {99, 132, 1423, 5}, "1999/05/12 09:23:05 EST"},
        {"JST-9", {99, 132, 1423, 5}, "1999/05/12 23:23:05 JST"},
        {"EST5", {70, 1, 0, 0}, "1969/12/31 19:00:00 EST"}, // the epoch itself is fine
        {"JST-9", {2001, 1, 0, 0}, "2001/01/01 09:00:00 JST"},
        {"EST5", {2024, 60, 0, 0}, "2024/02/28 19:00:00 EST"},
        {"EST5", {2025, 60, 0, 0}, "2025/02/28 19:00:00 EST"},
        {"EST5", {1969, 365, 0, 0}, kUnknownLocal},
    };
    for (const auto& c : cases) {
        time_zone zone(c.tz);
        auto run = run_stamp(stamped(c.t), false);
        ASSERT_EQ(run.status, 0) << c.tz;
        auto want = expected(std::string("HESK-14 AVHRR CH4 ") + c.when);
        EXPECT_EQ(differences(run.image.get(), want.get()), 0) << c.tz << " " << c.when;
    }
}

TEST(DrawStamp, LongStampIsCutTo79Characters)
{
    time_zone zone("<ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZ>0");
    auto run = run_stamp(stamped({99, 132, 1423, 5}), false);
    ASSERT_EQ(run.status, 0);
    const std::string full =
        "HESK-14 AVHRR CH4 1999/05/12 14:23:05 ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZ";
    auto want = expected(full.substr(0, 79));
    EXPECT_EQ(differences(run.image.get(), want.get()), 0);
    EXPECT_EQ(gdImageGetPixel(run.image.get(), 81 * 6 + 11, kRows + 10), 1) << "box of 79 characters";
}

TEST(DrawStamp, VariableNameInCapitalsWithBlanks)
{
    auto desc = stamped({99, 132, 1423, 5}, tdw::kAncillary);
    desc.fields["channel_number"] = 105;
    auto run = run_stamp(desc, true);
    ASSERT_EQ(run.status, 0);
    auto want = expected("HESK-14 SCAN TIME 1999/05/12 14:23:05 UTC");
    EXPECT_EQ(differences(run.image.get(), want.get()), 0);
}

TEST(DrawStamp, FailedReadsAreReportedInOrder)
{
    auto image = make_image();
    testing::internal::CaptureStderr();
    EXPECT_EQ(tdf::draw_stamp(image.get(), gdFontSmall, 0, 1, 99, 0, true), TD_EBADID);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tdftogif: variable 0: invalid dataset id\n");

    auto desc = stamped({99, 132, 1423, 5});
    desc.fields["satellite_id"] = static_cast<std::int16_t>(0xD5FF); // magic byte kept, no name
    testing::internal::CaptureStderr();
    auto run = run_stamp(desc, true);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(run.status, TD_EBADATTVAL);
    EXPECT_EQ(err, std::string("tdftogif: satellite_id: ") + td_strerror(TD_EBADATTVAL) + "\n");
    auto untouched = make_image();
    EXPECT_EQ(differences(run.image.get(), untouched.get()), 0) << "nothing drawn after a failure";
}

} // namespace
