// fuzz_convert.cpp - the whole conversion, in this process, on arbitrary
// bytes, with a few option sets; the GIF goes to /dev/null.
//
// Besides the sanitizers, it checks that every run ends with one of the
// converter's exit statuses and leaves no dataset open, so that the next
// input starts from a clean library.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "driver.h"
#include "input_file.h"
#include "options.h"

namespace {

// The largest image, in pixels of the data raster, that an input may ask
// for.  gd accepts images of up to about 2^31 pixels, and a header of a few
// bytes can ask for 32767 x 32767: each such input would allocate a
// gigabyte and take seconds.  The regression tests cover that size once;
// the fuzzer spends its time on everything else.
constexpr long long kMaxPixels = 1 << 20;

const std::vector<std::vector<const char*>>& option_sets()
{
    static const std::vector<std::vector<const char*>> sets = {
        {},
        {"-1", "255,0,0", "-2", "dyn", "-3", "0,300,-4", "-4", "dyn"},
        {"-1", "dyn", "-2", "dyn", "-3", "dyn", "-4", "dyn", "-i", "-f"},
        {"-s", "-u"},
        {"-c", "7", "-d", "3", "-m", "prism", "-b", "300,-1,20", "-l", "-40", "-h", "40", "-t", "7.5"},
        {"--reduce", "3", "-1", "dyn", "-2", "9,9,9", "--under", "lowest", "-m", "viridis", "-s"},
    };
    return sets;
}

bool known_status(int status)
{
    return (status >= -8 && status <= 0) || (status >= 1 && status <= 51);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int rows = fuzz::header_field(data, size, 34, 0);
    const int columns = fuzz::header_field(data, size, 36, 0);
    if (rows > 0 && columns > 0 && static_cast<long long>(rows) * columns > kMaxPixels)
        return 0;

    const std::string& path = fuzz::write_input(data, size);
    for (const auto& set : option_sets()) {
        std::vector<const char*> argv{"tdftogif"};
        argv.insert(argv.end(), set.begin(), set.end());
        argv.push_back(path.c_str());
        tdf::cmd_options options;
        const tdf::parse_result parsed =
            tdf::parse_options(static_cast<int>(argv.size()), argv.data(), options);
        if (!parsed.ok) {
            std::fprintf(stderr, "fuzz_convert: option set %zu refused\n",
                         static_cast<std::size_t>(&set - option_sets().data()));
            std::abort();
        }
        options.output = "/dev/null";
        const int status = tdf::convert(options);
        if (!known_status(status)) {
            std::fprintf(stderr, "fuzz_convert: unexpected exit status %d\n", status);
            std::abort();
        }
        fuzz::require_no_open_dataset();
    }
    return 0;
}
