// options_test.cpp - the option stage, the tick format, the failure line and
// the per-kind defaults, in-process.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "arithmetic.h"
#include "command_line.h"
#include "failure.h"
#include "kind_defaults.h"
#include "tidewell.h"

namespace {

struct parsed {
    tdf::parse_result result;
    tdf::cmd_options options;
    std::string out;
    std::string err;
};

parsed parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "tdftogif");
    parsed p;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    p.result = tdf::parse_options(static_cast<int>(args.size()), args.data(), p.options);
    p.err = testing::internal::GetCapturedStderr();
    p.out = testing::internal::GetCapturedStdout();
    return p;
}

bool same_rgb(const tdf::rgb& c, int r, int g, int b)
{
    return c.red == r && c.green == g && c.blue == b;
}

// Command lines the option stage accepts, and what each must set.
struct accepted_case {
    const char* title;
    std::vector<const char*> args;
    std::function<bool(const tdf::cmd_options&)> holds;
};

TEST(ParseOptions, AcceptedCommandLinesSetTheirFields)
{
    const std::vector<accepted_case> cases = {
        {"defaults",
         {"in"},
         [](const tdf::cmd_options& o) {
             return o.colours == 245 && o.decimals == 1 && !o.min_given && !o.max_given && !o.ticint_given &&
                    !o.cmap_given && o.cmap == nullptr && o.output == nullptr && o.fixed_planes == 0 &&
                    o.dynamic_planes == 0 && !o.fahrenheit && !o.invert && !o.stamp && !o.utc &&
                    same_rgb(o.bad_colour, 0, 0, 0) && same_rgb(o.plane_colour[0], 0, 0, 0) &&
                    same_rgb(o.plane_colour[7], 0, 0, 0);
         }},
        {"-c 1", {"-c", "1", "in"}, [](const auto& o) { return o.colours == 1; }},
        {"-c 245", {"-c", "245", "in"}, [](const auto& o) { return o.colours == 245; }},
        {"-c 12abc reads the digits", {"-c", "12abc", "in"}, [](const auto& o) { return o.colours == 12; }},
        {"-c ' +7' skips blanks", {"-c", " +7", "in"}, [](const auto& o) { return o.colours == 7; }},
        {"-cx acts as -c", {"-cx", "10", "in"}, [](const auto& o) { return o.colours == 10; }},
        {"-d 0", {"-d", "0", "in"}, [](const auto& o) { return o.decimals == 0; }},
        {"-d 28", {"-d", "28", "in"}, [](const auto& o) { return o.decimals == 28; }},
        {"-t 0.5", {"-t", "0.5", "in"}, [](const auto& o) { return o.ticint == 0.5f && o.ticint_given; }},
        {"-l -5 takes the value as it stands",
         {"-l", "-5", "in"},
         [](const auto& o) { return o.min == -5.0f && o.min_given && std::strcmp(o.input, "in") == 0; }},
        {"-l abc gives min 0",
         {"-l", "abc", "in"},
         [](const auto& o) { return o.min == 0.0f && o.min_given; }},
        {"-h 1e2", {"-h", "1e2", "in"}, [](const auto& o) { return o.max == 100.0f && o.max_given; }},
        {"-l 39.2 is the float nearest", {"-l", "39.2", "in"}, [](const auto& o) { return o.min == 39.2f; }},
        {"-m meridia",
         {"-m", "meridia", "in"},
         [](const auto& o) { return std::strcmp(o.cmap, "meridia") == 0 && o.cmap_given; }},
        {"-m Prism is left to the driver",
         {"-m", "Prism", "in"},
         [](const auto& o) { return std::strcmp(o.cmap, "Prism") == 0; }},
        {"-o takes a value beginning with -",
         {"-o", "-x", "in"},
         [](const auto& o) { return std::strcmp(o.output, "-x") == 0 && std::strcmp(o.input, "in") == 0; }},
        {"flags",
         {"-f", "-i", "-s", "-u", "in"},
         [](const auto& o) { return o.fahrenheit && o.invert && o.stamp && o.utc; }},
        {"-b 255 reads one component",
         {"-b", "255", "in"},
         [](const auto& o) { return same_rgb(o.bad_colour, 255, 0, 0); }},
        {"-b 1,2,3", {"-b", "1,2,3", "in"}, [](const auto& o) { return same_rgb(o.bad_colour, 1, 2, 3); }},
        {"-b stops at a mismatch",
         {"-b", "9,x,7", "in"},
         [](const auto& o) { return same_rgb(o.bad_colour, 9, 0, 0); }},
        {"-b component blanks after a comma",
         {"-b", "1, 2,-3", "in"},
         [](const auto& o) { return same_rgb(o.bad_colour, 1, 2, -3); }},
        {"-b stops at an empty component",
         {"-b", "255,,7", "in"},
         [](const auto& o) { return same_rgb(o.bad_colour, 255, 0, 0); }},
        {"-b keeps what an empty last component leaves",
         {"-b", "1,2,3", "-b", "4,5,", "in"},
         [](const auto& o) { return same_rgb(o.bad_colour, 4, 5, 3); }},
        {"-1 with an empty first component keeps the earlier colour",
         {"-1", "1,2,3", "-1", ",5,6", "in"},
         [](const auto& o) { return o.fixed_planes == 0x01 && same_rgb(o.plane_colour[0], 1, 2, 3); }},
        {"-b no blank before a comma",
         {"-b", "1 ,2,3", "in"},
         [](const auto& o) { return same_rgb(o.bad_colour, 1, 0, 0); }},
        {"-b keeps unread components of an earlier -b",
         {"-b", "1,2,3", "-b", "9", "in"},
         [](const auto& o) { return same_rgb(o.bad_colour, 9, 2, 3); }},
        {"components are not range-checked here",
         {"-b", "300,-4,256", "in"},
         [](const auto& o) { return same_rgb(o.bad_colour, 300, -4, 256); }},
        {"-1 colour",
         {"-1", "255,0,0", "in"},
         [](const auto& o) {
             return o.fixed_planes == 0x01 && o.dynamic_planes == 0 && same_rgb(o.plane_colour[0], 255, 0, 0);
         }},
        {"-4 dyn",
         {"-4", "dyn", "in"},
         [](const auto& o) { return o.fixed_planes == 0 && o.dynamic_planes == 0x08; }},
        {"-12 acts as -1", {"-12", "dyn", "in"}, [](const auto& o) { return o.dynamic_planes == 0x01; }},
        {"dyn is case-sensitive",
         {"-2", "DYN", "in"},
         [](const auto& o) {
             return o.fixed_planes == 0x02 && o.dynamic_planes == 0 && same_rgb(o.plane_colour[1], 0, 0, 0);
         }},
        {"masks only gain bits",
         {"-1", "dyn", "-1", "255,0,0", "-3", "1,2,3", "-3", "dyn", "in"},
         [](const auto& o) {
             return o.fixed_planes == 0x05 && o.dynamic_planes == 0x05 &&
                    same_rgb(o.plane_colour[0], 255, 0, 0) && same_rgb(o.plane_colour[2], 1, 2, 3);
         }},
        {"repeated options override",
         {"-c", "9",  "-c", "3",  "-d", "4",  "-d", "2",  "-m", "a", "-m",
          "b",  "-o", "x",  "-o", "y",  "-l", "1",  "-l", "2",  "in"},
         [](const auto& o) {
             return o.colours == 3 && o.decimals == 2 && std::strcmp(o.cmap, "b") == 0 &&
                    std::strcmp(o.output, "y") == 0 && o.min == 2.0f;
         }},
        {"arguments after the input are ignored",
         {"in", "extra", "-x"},
         [](const auto& o) { return std::strcmp(o.input, "in") == 0; }},
        {"-c with leading zeros",
         {"-c", "0000000000007", "in"},
         [](const auto& o) { return o.colours == 7; }},
        {"of --fit and --reduce the last counts",
         {"--fit", "100", "--reduce=3", "in"},
         [](const auto& o) { return o.reduce == 3 && o.fit == 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const parsed p = parse(c.args);
        EXPECT_TRUE(p.result.ok);
        EXPECT_EQ(p.result.status, 0);
        EXPECT_TRUE(p.err.empty()) << p.err;
        EXPECT_TRUE(p.out.empty());
        ASSERT_NE(p.options.input, nullptr);
        EXPECT_TRUE(c.holds(p.options));
    }
}

// Command lines the option stage refuses: status, failure line, usage or not.
struct refused_case {
    std::vector<const char*> args;
    int status;
    const char* line; // expected standard error
    bool usage;
};

TEST(ParseOptions, RefusedCommandLinesReportAndReturnTheirStatus)
{
    const std::vector<refused_case> cases = {
        {{}, -1, "", true},
        {{"-f"}, -2, "", true},
        {{"-f", "-i", "-s"}, -2, "", true},
        {{"-c", "10"}, -2, "", true},
        {{"-c"}, -2, "", true},
        {{"-f", "-o"}, -2, "", true},
        {{"-p", "3", "in"}, -2, "tdftogif: -p: invalid option\n", true},
        {{"-x", "in"}, -2, "tdftogif: -x: invalid option\n", true},
        {{"-5", "1,2,3", "in"}, -2, "tdftogif: -5: invalid option\n", true},
        {{"-0", "in"}, -2, "tdftogif: -0: invalid option\n", true},
        {{"-F", "in"}, -2, "tdftogif: -F: invalid option\n", true},
        {{"-", "in"}, -2, "tdftogif: -: invalid option\n", true},
        {{"-qrs", "in"}, -2, "tdftogif: -qrs: invalid option\n", true},
        {{"-c", "0", "in"}, -2, "tdftogif: 0: invalid number of colors\n", false},
        {{"-c", "246", "in"}, -2, "tdftogif: 246: invalid number of colors\n", false},
        {{"-c", "abc", "in"}, -2, "tdftogif: abc: invalid number of colors\n", false},
        {{"-c", "-3", "in"}, -2, "tdftogif: -3: invalid number of colors\n", false},
        {{"-c", "99999999999", "in"}, -2, "tdftogif: 99999999999: invalid number of colors\n", false},
        {{"-c", "4294967297", "in"}, -2, "tdftogif: 4294967297: invalid number of colors\n", false},
        {{"-c", "0"}, -2, "tdftogif: 0: invalid number of colors\n", false},
        {{"-d", "-1", "in"}, -2, "tdftogif: -1: invalid number of decimal places\n", false},
        {{"-d", "29", "in"}, -2, "tdftogif: 29: invalid number of decimal places\n", false},
        {{"-d", "4294967297", "in"}, -2, "tdftogif: 4294967297: invalid number of decimal places\n", false},
        {{"-d", "-4294967296", "in"}, -2, "tdftogif: -4294967296: invalid number of decimal places\n", false},
        {{"-t", "0", "in"}, -2, "tdftogif: 0: invalid tick interval\n", false},
        {{"-t", "-2", "in"}, -2, "tdftogif: -2: invalid tick interval\n", false},
        {{"-t", "abc", "in"}, -2, "tdftogif: abc: invalid tick interval\n", false},
        {{"-t", "nan", "in"}, -2, "tdftogif: nan: invalid tick interval\n", false},
        {{"-t", "1e-60", "in"}, -2, "tdftogif: 1e-60: invalid tick interval\n", false},
        // The first bad option is the one reported.
        {{"-c", "0", "-d", "-1", "in"}, -2, "tdftogif: 0: invalid number of colors\n", false},
        {{"-d", "-1", "-c", "0", "in"}, -2, "tdftogif: -1: invalid number of decimal places\n", false},
        {{"-x", "-c", "0", "in"}, -2, "tdftogif: -x: invalid option\n", true},
    };
    for (const auto& c : cases) {
        std::string title;
        for (const char* a : c.args)
            title += std::string(a) + " ";
        SCOPED_TRACE(title);
        const parsed p = parse(c.args);
        EXPECT_FALSE(p.result.ok);
        EXPECT_EQ(p.result.status, c.status);
        EXPECT_EQ(p.err, c.line);
        if (c.usage)
            EXPECT_EQ(p.out.rfind("usage: tdftogif [-# r,g,b | -# dyn]", 0), 0u) << p.out;
        else
            EXPECT_EQ(p.out, "");
    }
}

TEST(ParseOptions, AnInputNamedLikeAValuedOptionIsAnInput)
{
    // "in -c": the input is the first argument that does not begin with "-".
    const parsed p = parse({"in", "-c"});
    ASSERT_TRUE(p.result.ok);
    EXPECT_STREQ(p.options.input, "in");
    EXPECT_EQ(p.options.colours, 245);
}

TEST(TickFormat, IsBuiltFromTheDecimalPlaces)
{
    EXPECT_EQ(tdf::tick_format(1), "%4.1f");
    EXPECT_EQ(tdf::tick_format(0), "%3.0f");
    EXPECT_EQ(tdf::tick_format(2), "%5.2f");
    EXPECT_EQ(tdf::tick_format(28), "%31.28f");
    // The widest accepted format gives labels that fit 31 characters for a
    // one-digit value.
    char label[64];
    EXPECT_EQ(std::snprintf(label, sizeof label, tdf::tick_format(28).c_str(), 4.0), 31);
}

struct kind_case {
    int kind;
    bool fahrenheit;
    float min, max, ticint;
    const char* cmap;
};

TEST(ApplyKindDefaults, EveryKindFillsWhatWasNotGiven)
{
    const std::vector<kind_case> cases = {
        {TD_KIND_INFRARED, false, 4.0f, 30.0f, 2.0f, "hsl256"},
        {TD_KIND_INFRARED, true, 39.2f, 86.0f, 2.0f, "hsl256"},
        {TD_KIND_VISIBLE, false, 0.0f, 20.0f, 2.0f, "black-white"},
        {TD_KIND_VISIBLE, true, 0.0f, 20.0f, 2.0f, "black-white"},
        {TD_KIND_SCAN_TIME, false, 0.0f, 24.0f, 2.0f, "black-white"},
        {TD_KIND_SCAN_TIME, true, 0.0f, 24.0f, 2.0f, "black-white"},
        {TD_KIND_ANGLE, false, 0.0f, 90.0f, 5.0f, "black-white"},
        {TD_KIND_CLOUD, false, 0.0f, 255.0f, 16.0f, "hsl256"},
        {TD_KIND_CLOUD, true, 0.0f, 255.0f, 16.0f, "hsl256"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + (c.fahrenheit ? " -f" : ""));
        tdf::cmd_options o;
        o.fahrenheit = c.fahrenheit;
        testing::internal::CaptureStderr();
        EXPECT_EQ(tdf::apply_kind_defaults(o, c.kind, "any"), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(o.min, c.min);
        EXPECT_EQ(o.max, c.max);
        EXPECT_EQ(o.ticint, c.ticint);
        ASSERT_NE(o.cmap, nullptr);
        EXPECT_STREQ(o.cmap, c.cmap);
        EXPECT_FALSE(o.min_given || o.max_given || o.ticint_given || o.cmap_given);
    }
}

TEST(ApplyKindDefaults, GivenFlagsDecideNotValues)
{
    // -l 4 on infrared is a given min that happens to equal the default;
    // values left at 0 with their flag set stay 0.
    tdf::cmd_options o;
    o.min = 4.0f;
    o.min_given = true;
    o.max = 0.0f;
    o.max_given = true;
    o.ticint = 0.0f; // not given although a value is present
    const char* name = "prism";
    o.cmap = name;
    o.cmap_given = true;
    ASSERT_EQ(tdf::apply_kind_defaults(o, TD_KIND_INFRARED, "infrared"), 0);
    EXPECT_EQ(o.min, 4.0f);
    EXPECT_EQ(o.max, 0.0f);
    EXPECT_EQ(o.ticint, 2.0f);
    EXPECT_EQ(o.cmap, name);

    tdf::cmd_options v;
    v.ticint = 7.0f;
    v.ticint_given = true;
    v.max = 3.0f; // present but not given: replaced
    ASSERT_EQ(tdf::apply_kind_defaults(v, TD_KIND_CLOUD, "cloud"), 0);
    EXPECT_EQ(v.ticint, 7.0f);
    EXPECT_EQ(v.max, 255.0f);
    EXPECT_EQ(v.min, 0.0f);
}

TEST(ApplyKindDefaults, UnknownDataIdIsReportedWithMinusFive)
{
    const struct {
        int kind;
        const char* id;
    } cases[] = {{-1, "Infrared"}, {5, "visible "}, {99, ""}, {-7, "albedo_temperature"}};
    for (const auto& [kind, id] : cases) {
        SCOPED_TRACE(id);
        tdf::cmd_options o;
        testing::internal::CaptureStderr();
        EXPECT_EQ(tdf::apply_kind_defaults(o, kind, id), -5);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string("tdftogif: ") + id + ": unknown data_id\n");
        EXPECT_EQ(o.cmap, nullptr);
        EXPECT_FALSE(o.min_given);
    }
}

TEST(ReportFailure, PutsTheNameFirst)
{
    testing::internal::CaptureStderr();
    tdf::report_failure("invalid data extents", "min >= max");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "tdftogif: min >= max: invalid data extents\n");
}

} // namespace
