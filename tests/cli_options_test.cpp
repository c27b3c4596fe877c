// cli_options_test.cpp - the option stage of the real executable: exit
// status, the failure line and the usage text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_command.h"

namespace {

// The usage text, written out independently of the program's copy.
const std::string usage_text =
    "usage: tdftogif [-# r,g,b | -# dyn] [-c colors] [-b r,g,b] [-l min] [-h max]\n"
    "       [-p fdig] [-m cmap] [-t ticint] [-f] [-i] [-s [-u]] [-o output] input\n"
    "where: -# r,g,b         Specifies the RGB values for graphics plane #\n"
    "                        (# = 1,2,3,4).\n"
    "       -# dyn           Specifies that graphics plane # should be dynamic,\n"
    "                        ie: light on dark, dark on light.\n"
    "       -c colors        Changes the default number of colors in the\n"
    "                        palette (245).\n"
    "       -b r,g,b         Changes the RGB for bad data values (0,0,0).\n"
    "       -l min           Changes the default minimum data value:\n"
    "                           infrared = 4\n"
    "                            visible = 0\n"
    "                              angle = 0\n"
    "                          scan time = 0\n"
    "                              cloud = 0\n"
    "       -h max           Changes the default maximum data value:\n"
    "                           infrared = 30\n"
    "                            visible = 20\n"
    "                              angle = 90\n"
    "                          scan time = 24\n"
    "                              cloud = 255\n"
    "       -d dec           Changes the default number of decimal places for tick\n"
    "                        values (1).\n"
    "       -m cmap          Changes the default color map:\n"
    "                           infrared = hsl256\n"
    "                            visible = black-white\n"
    "                              angle = black-white\n"
    "                          scan time = black-white\n"
    "                              cloud = hsl256\n"
    "                        Selections include:\n"
    "                          black-white\n"
    "                          hsl256\n"
    "                          prism\n"
    "       -t ticint        Changes the default scale tick interval:\n"
    "                           infrared = 2\n"
    "                            visible = 2\n"
    "                              angle = 5\n"
    "                          scan time = 2\n"
    "                              cloud = 16\n"
    "       -f               Changes the plot to work in Fahrenheit, default is\n"
    "                        Celsius.\n"
    "       -i               Inverts the default background and foreground colors\n"
    "                        (black, white).\n"
    "       -s               Places a satellite time stamp on the image, default\n"
    "                        is no stamp.\n"
    "       -u               Formats the satellite time stamp in UTC, default is\n"
    "                        the local system time zone.\n"
    "       -o output        Specifies an output file name, default is write\n"
    "                        to standard output.\n"
    "       input            The Tidewell dataset to read.\n";

struct cli_case {
    std::vector<std::string> args;
    int exit_code;   // as the system reports it (8 bits)
    std::string err; // the whole of standard error
    bool usage;      // standard output holds the usage text (else nothing)
};

void check(const cli_case& c)
{
    std::string title;
    for (const auto& a : c.args)
        title += "'" + a + "' ";
    SCOPED_TRACE(title);
    const auto r = tdtest::run_command(tdtest::tdftogif_path(), c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, c.usage ? usage_text : std::string());
}

TEST(CommandLine, UsageIsPrintedByteForByte)
{
    const std::vector<cli_case> cases = {
        {{}, 255, "", true},     // no arguments: -1
        {{"-f"}, 254, "", true}, // options without input: -2
        {{"-f", "-s", "-u", "-i"}, 254, "", true},
        {{"-o", "out.gif"}, 254, "", true},
        {{"-c"}, 254, "", true}, // a value missing at the end
        {{"-f", "-m"}, 254, "", true},
        {{"-1"}, 254, "", true},
        {{"-p", "3", "in"}, 254, "tdftogif: -p: invalid option\n", true},
        {{"-x", "in"}, 254, "tdftogif: -x: invalid option\n", true},
        {{"-9", "in"}, 254, "tdftogif: -9: invalid option\n", true},
        {{"-", "in"}, 254, "tdftogif: -: invalid option\n", true},
        {{"-xyz"}, 254, "tdftogif: -xyz: invalid option\n", true},
        {{"-f", "-q", "in"}, 254, "tdftogif: -q: invalid option\n", true},
        {{"--", "in"}, 254, "tdftogif: --: invalid option\n", true},
        {{"--reduced", "2", "in"}, 254, "tdftogif: --reduced: invalid option\n", true},
        {{"--help=yes", "in"}, 254, "tdftogif: --help=yes: invalid option\n", true},
        {{"--fit"}, 254, "", true},
        {{"--reduce", "2"}, 254, "", true},
    };
    for (const auto& c : cases)
        check(c);
}

TEST(CommandLine, ValueChecksFailAtOnceWithoutUsage)
{
    const std::vector<cli_case> cases = {
        {{"-c", "0", "in"}, 254, "tdftogif: 0: invalid number of colors\n", false},
        {{"-c", "246", "in"}, 254, "tdftogif: 246: invalid number of colors\n", false},
        {{"-c", "abc", "in"}, 254, "tdftogif: abc: invalid number of colors\n", false},
        {{"-c", "99999999999", "in"}, 254, "tdftogif: 99999999999: invalid number of colors\n", false},
        {{"-cx", "0", "in"}, 254, "tdftogif: 0: invalid number of colors\n", false},
        {{"-d", "-1", "in"}, 254, "tdftogif: -1: invalid number of decimal places\n", false},
        {{"-d", "29", "in"}, 254, "tdftogif: 29: invalid number of decimal places\n", false},
        {{"-d", "4294967297", "in"}, 254, "tdftogif: 4294967297: invalid number of decimal places\n", false},
        {{"-t", "0", "in"}, 254, "tdftogif: 0: invalid tick interval\n", false},
        {{"-t", "-2", "in"}, 254, "tdftogif: -2: invalid tick interval\n", false},
        {{"-t", "abc", "in"}, 254, "tdftogif: abc: invalid tick interval\n", false},
        // Checked as read: the first bad value is the one reported, even when
        // no input follows.
        {{"-c", "0", "-t", "0", "in"}, 254, "tdftogif: 0: invalid number of colors\n", false},
        {{"-t", "0"}, 254, "tdftogif: 0: invalid tick interval\n", false},
        {{"--reduce", "0", "in"}, 254, "tdftogif: 0: invalid reduction factor\n", false},
        {{"--reduce", "65", "in"}, 254, "tdftogif: 65: invalid reduction factor\n", false},
        {{"--reduce=2x", "in"}, 254, "tdftogif: 2x: invalid reduction factor\n", false},
        {{"--reduce", " 2", "in"}, 254, "tdftogif:  2: invalid reduction factor\n", false},
        {{"--fit", "0", "in"}, 254, "tdftogif: 0: invalid fit size\n", false},
        {{"--fit=", "in"}, 254, "tdftogif: : invalid fit size\n", false},
        {{"--fit", "99999999999", "in"}, 254, "tdftogif: 99999999999: invalid fit size\n", false},
        {{"--under", "256,0,0", "in"}, 254, "tdftogif: 256,0,0: invalid under color\n", false},
        {{"--under", "1,2", "in"}, 254, "tdftogif: 1,2: invalid under color\n", false},
        {{"--under", "1,2,3,", "in"}, 254, "tdftogif: 1,2,3,: invalid under color\n", false},
        {{"--under", "red", "in"}, 254, "tdftogif: red: invalid under color\n", false},
    };
    for (const auto& c : cases)
        check(c);
}

// Command lines the option stage accepts go on to open the input they name
// (here "in", which does not exist in the scratch directory).
TEST(CommandLine, AcceptedCommandLinesOpenTheirInput)
{
    const std::vector<std::vector<std::string>> cases = {
        {"in"},
        {"-c", "1", "in"},
        {"-c", "245", "in"},
        {"-cx", "10", "in"},
        {"-d", "0", "in"},
        {"-d", "28", "in"},
        {"-t", "0.5", "in"},
        {"-12", "dyn", "in"},
        {"-1", "dyn", "-1", "255,0,0", "in"},
        {"-l", "-5", "in"},
        {"-l", "abc", "in"},
        {"-o", "-x", "in"},
        {"-m", "meridia", "-m", "Prism", "in"},
        {"-f", "-i", "-s", "-u", "in", "extra", "-q"},
        {"--reduce", "64", "in"},
        {"--reduce=1", "--fit=1", "in"},
        {"--fit", "2147483647", "in"},
        {"--under", "lowest", "--under=bad", "--under", "0,0,255", "in"},
    };
    tdtest::TempDir scratch;
    tdtest::CommandOptions options;
    options.cwd = scratch.path();
    for (const auto& args : cases) {
        std::string title;
        for (const auto& a : args)
            title += "'" + a + "' ";
        SCOPED_TRACE(title);
        const auto r = tdtest::run_command(tdtest::tdftogif_path(), args, options);
        EXPECT_EQ(r.exit_code, 3);
        EXPECT_EQ(r.err, "tdftogif: in: cannot access dataset\n");
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(tdtest::file_exists(scratch.file("-x")));
}

// --help writes the usage text and then the section of the long options;
// --version the version that the manual pages carry.  Both end with 0,
// whatever follows them.
TEST(CommandLine, HelpAndVersion)
{
    // The source field of a page's .TH line: the second quoted text.
    const auto source_of = [](const std::string& page) {
        const std::string text = tdtest::read_file(page);
        std::size_t at = text.find("\n.TH ");
        for (int quote = 0; quote < 3 && at != std::string::npos; ++quote)
            at = text.find('"', at + 1);
        return at == std::string::npos ? std::string() : text.substr(at + 1, text.find('"', at + 1) - at - 1);
    };
    const std::string source = source_of(MAN_PAGES "/tdftogif.1");
    ASSERT_TRUE(source.starts_with("tdftogif ")) << source;
    EXPECT_EQ(source_of(MAN_PAGES "/tdfinfo.1"), source);
    const std::string number = source.substr(9);
    const struct {
        std::string program;
        std::vector<std::string> args;
        std::string out_starts, out_ends;
    } cases[] = {
        {tdtest::tdftogif_path(),
         {"--help"},
         usage_text + "Further options:\n",
         "red-green color blindness read as well as others.\n"},
        {tdtest::tdftogif_path(), {"-f", "--help", "-c", "0"}, usage_text, "as well as others.\n"},
        {tdtest::tdftogif_path(), {"--version"}, "tdftogif " + number + "\n", "tdftogif " + number + "\n"},
        {tdtest::tdftogif_path(),
         {"--version", "in"},
         "tdftogif " + number + "\n",
         "tdftogif " + number + "\n"},
        {TDFINFO_EXECUTABLE, {"--version"}, "tdfinfo " + number + "\n", "tdfinfo " + number + "\n"},
        {TDFINFO_EXECUTABLE, {"--help"}, "usage: tdfinfo [-j] dataset ...\n", "be given.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program + " " + c.args.front());
        const auto r = tdtest::run_command(c.program, c.args);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.out.starts_with(c.out_starts)) << r.out;
        EXPECT_TRUE(r.out.ends_with(c.out_ends)) << r.out;
    }
}

} // namespace
