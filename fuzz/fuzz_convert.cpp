// fuzz_convert.cpp - the whole conversion, in this process, on arbitrary
// bytes with a command line that the input draws.
//
// Input: the first kOptionBytes bytes choose the options (twelve pairs of a
// kind and a value: plane colours or dyn, colours, bad colour, min, max,
// decimals, colour map, tick interval, -f, -i, -s, -u, --reduce, --fit,
// --under, valid values and refused ones); the rest is the dataset.
//
// Besides the sanitizers, it checks that every run ends with one of the
// converter's exit statuses and leaves no dataset open; that a run that
// succeeds wrote a whole GIF of the size the dataset calls for whose data
// raster shows, pixel by pixel, the colour each stored sample (or the mean
// of each block of a reduced quicklook) must take: the samples worked out
// from the file's bytes (expected_reads.h), the colour by the drawing rules,
// with the graphics planes over it; and that a run that fails leaves the
// previous output as it was and nothing beside it.
#include <gif_lib.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "block_reduce.h"
#include "driver.h"
#include "expected_reads.h"
#include "input_file.h"
#include "command_line.h"
#include "tidewell.h"

namespace {

constexpr std::size_t kOptionBytes = 24;

// The largest image, in pixels of the data raster, that an input may ask
// for.  gd accepts images of up to about 2^31 pixels, and a header of a few
// bytes can ask for 32767 x 32767: each such input would allocate a
// gigabyte and take seconds.  The regression tests cover that size once;
// the fuzzer spends its time on everything else.
constexpr long long kMaxPixels = 1 << 20;

[[noreturn]] void fail(const char* what, long detail = 0)
{
    fuzz::fail("fuzz_convert", what, "(" + std::to_string(detail) + ")");
}

// The command line drawn from the option bytes.  Values come from small
// tables of valid and refused ones, so that most command lines pass the
// option stage and the conversion runs.
class CommandLine {
public:
    explicit CommandLine(const std::uint8_t* bytes)
    {
        static constexpr const char* maps[] = {"hsl256",  "black-white", "prism", "hsl256_tek", "meridia",
                                               "viridis", "cividis",     "Prism", "",           "hsl"};
        static constexpr const char* numbers[] = {"0",   "1",    "2",   "-1",  "4",    "30",   "255", "-40",
                                                  "0.5", "1e38", "nan", "abc", "3.25", "-999", "90",  "24"};
        char plane[3] = "-1";
        for (std::size_t i = 0; i + 1 < kOptionBytes; i += 2) {
            const int kind = bytes[i] % 19;
            const int value = bytes[i + 1];
            switch (kind) {
            case 0:
            case 1:
            case 2:
            case 3:
                plane[1] = static_cast<char>('1' + kind);
                add(plane, value < 64 ? std::string("dyn") : colour(value));
                break;
            case 4:
                add("-c", std::to_string(value % 250));
                break;
            case 5:
                add("-b", colour(value));
                break;
            case 6:
                add("-l", minmax(value, numbers));
                break;
            case 7:
                add("-h", minmax(value, numbers));
                break;
            case 8:
                add("-d", std::to_string(value % 31));
                break;
            case 9:
                add("-m", maps[value % std::size(maps)]);
                break;
            case 10:
                add("-t", value < 200 ? std::to_string(1 + value % 20) + ".5" : numbers[value % 16]);
                break;
            case 11:
                flag("-f");
                break;
            case 12:
                flag("-i");
                break;
            case 13:
                flag("-s");
                break;
            case 14:
                flag("-u");
                break;
            case 15:
                add("--reduce", std::to_string(value % 70));
                break;
            case 16:
                add("--fit", std::to_string(value * 3));
                break;
            case 17:
                add("--under", value < 80    ? "lowest"
                               : value < 96  ? "bad"
                               : value < 250 ? colour(value)
                                             : "below");
                break;
            default:
                break; // nothing
            }
        }
    }

    // argv for parse_options, ending with the dataset path.
    std::vector<const char*> argv(const std::string& input) const
    {
        std::vector<const char*> out{"tdftogif"};
        for (const std::string& word : words_)
            out.push_back(word.c_str());
        out.push_back(input.c_str());
        return out;
    }

private:
    void add(const char* option, std::string value)
    {
        words_.emplace_back(option);
        words_.push_back(std::move(value));
    }
    void flag(const char* option) { words_.emplace_back(option); }

    // Mostly a colour, sometimes one that is refused.
    static std::string colour(int value)
    {
        if (value >= 250)
            return value == 250 ? "256,0,0" : value == 251 ? "1,2" : "-1,0,0";
        return std::to_string(value * 37 % 256) + "," + std::to_string(value * 101 % 256) + "," +
               std::to_string(value * 13 % 256);
    }
    template <std::size_t N>
    static std::string minmax(int value, const char* const (&numbers)[N])
    {
        if (value >= 224)
            return numbers[value % N];
        return std::to_string(value / 2 - 40) + (value % 2 ? ".5" : "");
    }

    std::vector<std::string> words_;
};

bool known_status(int status)
{
    return (status >= -8 && status <= 0) || (status >= 1 && status <= 51);
}

// A GIF read back with giflib.
struct Gif {
    int width = 0, height = 0;
    std::vector<GifByteType> pixels;
    std::vector<GifColorType> palette;
};

bool read_gif(const std::string& path, Gif& gif)
{
    int error = 0;
    GifFileType* file = DGifOpenFileName(path.c_str(), &error);
    if (file == nullptr)
        return false;
    const bool read = DGifSlurp(file) == GIF_OK && file->ImageCount == 1 && file->SColorMap != nullptr;
    if (read) {
        const SavedImage& image = file->SavedImages[0];
        gif.width = file->SWidth;
        gif.height = file->SHeight;
        if (image.ImageDesc.Left == 0 && image.ImageDesc.Top == 0 && image.ImageDesc.Width == gif.width &&
            image.ImageDesc.Height == gif.height && image.ImageDesc.ColorMap == nullptr &&
            !image.ImageDesc.Interlace) {
            gif.pixels.assign(image.RasterBits, image.RasterBits + std::size_t(gif.width) * gif.height);
            gif.palette.assign(file->SColorMap->Colors,
                               file->SColorMap->Colors + file->SColorMap->ColorCount);
        }
    }
    DGifCloseFile(file, &error);
    return read && !gif.pixels.empty();
}

// The palette index the drawing rules give a pixel of value v with
// graphics byte g.  The palette holds, in this order: background,
// foreground, the data colours, the bad colour, the eight plane colours (the
// eighth the colour of values below min when --under gives one).
int expected_index(float v, std::uint8_t g, const tdf::cmd_options& o, const Gif& gif)
{
    const int bad = 2 + o.colours;
    const int under = o.under == tdf::under_rule::lowest   ? 2
                      : o.under == tdf::under_rule::colour ? bad + 8
                                                           : bad;
    int index = bad;
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    if (bits != TD_BAD_VALUE_BITS) {
        const double scale_d = double(o.colours - 1) / (double{o.max} - double{o.min});
        const auto scale = static_cast<float>(scale_d);
        const auto offset = static_cast<float>(-(scale_d * double{o.min}));
        const double x = o.fahrenheit ? double{scale} * (1.8 * double{v} + 32.0) + double{offset}
                                      : double{scale} * double{v} + double{offset};
        const float xf = static_cast<float>(x);
        // round_nearest: halves away from zero.
        const double k = xf > 0 ? std::floor(double{xf} + 0.5) : std::ceil(double{xf} - 0.5);
        if (k >= 0 && k <= o.colours - 1)
            index = 2 + static_cast<int>(k);
        else if (k > o.colours - 1)
            index = 2 + o.colours - 1;
        else if (k < 0)
            index = under;
    }
    const int black = o.invert ? 1 : 0, white = o.invert ? 0 : 1;
    for (const std::uint8_t b : {0x08, 0x01, 0x04, 0x02}) {
        if (!(g & b))
            continue;
        if (o.fixed_planes & b) {
            index = 3 + o.colours + std::countr_zero(unsigned{b});
        } else if (o.dynamic_planes & b) {
            const GifColorType& c = gif.palette[static_cast<std::size_t>(index)];
            index = 0.299 * c.Red + 0.587 * c.Green + 0.114 * c.Blue < 127.0 ? white : black;
        }
    }
    return index;
}

// Checks the GIF of a successful run against the dataset's samples: each
// pixel of the raster shows one sample, or with a reduction the mean of the
// valid samples of its block (the bad value when none is valid) with the
// planes of any sample of the block.
void check_output(const std::string& output, const fuzz::ExpectedReads& expected, const tdf::cmd_options& o)
{
    Gif gif;
    if (!read_gif(output, gif))
        fail("a successful run wrote no whole GIF");
    const int rows = expected.rows(), columns = expected.columns();
    const int factor = o.fit > 0 ? tdf::fit_factor(rows, columns, o.fit) : o.reduce;
    const int shown_rows = tdf::reduced_length(rows, factor),
              shown_columns = tdf::reduced_length(columns, factor);
    const int label_room = gif.width - shown_columns - 74 - 15;
    if (gif.height != shown_rows + 22 || label_room < 9 || label_room % 9 != 0)
        fail("the GIF has another size than the dataset calls for", gif.width);
    // The stamp's box covers the lower-left corner of the raster; an image
    // without rows or columns has no raster.
    if (o.stamp || rows <= 0 || columns <= 0)
        return;
    const bool planes = (o.fixed_planes | o.dynamic_planes) != 0;
    const auto f = static_cast<std::size_t>(factor);
    std::vector<float> values;
    std::vector<std::uint8_t> nibbles, unused;
    std::vector<float> unused_floats;
    std::vector<double> sums(static_cast<std::size_t>(shown_columns));
    std::vector<std::uint32_t> counts(sums.size());
    std::vector<std::uint8_t> bits(sums.size());
    for (int shown = 0; shown < shown_rows; ++shown) {
        std::fill(sums.begin(), sums.end(), 0.0);
        std::fill(counts.begin(), counts.end(), 0u);
        std::fill(bits.begin(), bits.end(), std::uint8_t{0});
        for (int r = shown * factor; r < std::min(rows, (shown + 1) * factor); ++r) {
            const fuzz::Index2 start{static_cast<std::uint32_t>(r), 0};
            const fuzz::Index2 count{1, static_cast<std::uint32_t>(columns)};
            if (expected.read(0, start, count, TD_FLOAT, values, unused) != TD_NOERR ||
                (planes && expected.read(1, start, count, TD_BYTE, unused_floats, nibbles) != TD_NOERR))
                fail("a successful run drew a row that does not read", r);
            for (std::size_t o_col = 0; o_col < sums.size(); ++o_col) {
                double sum = 0.0;
                std::uint32_t n = 0;
                for (std::size_t c = o_col * f; c < std::min((o_col + 1) * f, values.size()); ++c) {
                    std::uint32_t b = 0;
                    std::memcpy(&b, &values[c], sizeof b);
                    if (b != TD_BAD_VALUE_BITS) {
                        sum += values[c];
                        ++n;
                    }
                    bits[o_col] = static_cast<std::uint8_t>(bits[o_col] | (planes ? nibbles[c] : 0));
                }
                sums[o_col] += sum;
                counts[o_col] += n;
            }
        }
        for (std::size_t c = 0; c < sums.size(); ++c) {
            const float mean = counts[c] != 0 ? static_cast<float>(sums[c] / counts[c]) : TD_BAD_VALUE;
            const int want = expected_index(mean, bits[c], o, gif);
            const int got = gif.pixels[std::size_t(shown + 11) * gif.width + c + 11];
            if (got != want)
                fail("a raster pixel has another colour than its samples call for",
                     long(shown) * 100000 + long(c));
        }
    }
}

// The folder of the output, with nothing in it but the output.
const std::string& output_folder()
{
    static const std::string folder = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string name =
            std::string(dir && *dir ? dir : "/tmp") + "/tdfuzz-out-" + std::to_string(getpid());
        if (mkdir(name.c_str(), 0700) != 0 && errno != EEXIST)
            fail("cannot make the output folder");
        return name;
    }();
    return folder;
}

std::vector<std::string> folder_entries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        closedir(d);
    }
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kOptionBytes)
        return 0;
    const std::uint8_t* dataset = data + kOptionBytes;
    const std::size_t dataset_size = size - kOptionBytes;
    const int rows = fuzz::header_field(dataset, dataset_size, 34, 0);
    const int columns = fuzz::header_field(dataset, dataset_size, 36, 0);
    if (rows > 0 && columns > 0 && static_cast<long long>(rows) * columns > kMaxPixels)
        return 0;

    const std::string& path = fuzz::write_input(dataset, dataset_size);
    static const std::string output = output_folder() + "/out.gif";
    const std::string previous = "the previous output";
    {
        std::FILE* f = std::fopen(output.c_str(), "wb");
        if (f == nullptr || std::fwrite(previous.data(), 1, previous.size(), f) != previous.size() ||
            std::fclose(f) != 0)
            fail("cannot write the previous output");
    }
    const CommandLine command(data);
    std::vector<const char*> argv = command.argv(path);
    tdf::cmd_options options;
    const tdf::parse_result parsed = tdf::parse_options(static_cast<int>(argv.size()), argv.data(), options);
    if (!parsed.ok) {
        if (parsed.status != -1 && parsed.status != -2)
            fail("the option stage ended with an unexpected status", parsed.status);
        return 0;
    }
    options.output = output.c_str();
    const int status = tdf::convert(options);
    if (!known_status(status))
        fail("unexpected exit status", status);
    fuzz::require_no_open_dataset();
    if (folder_entries(output_folder()) != std::vector<std::string>{"out.gif"})
        fail("a run left something beside its output");
    if (status == 0) {
        check_output(output, fuzz::ExpectedReads({dataset, dataset_size}), options);
    } else {
        std::ifstream in(output, std::ios::binary);
        const std::string now{std::istreambuf_iterator<char>(in), {}};
        if (now != previous)
            fail("a failed run changed the previous output", status);
    }
    return 0;
}
