// batch_options.cpp - options of tdfbatch and the shape of the tdftogif
// options it passes on.
#include "batch_options.h"

#include <charconv>
#include <cstdio>
#include <string_view>

#include "failure_line.h"

#ifndef TDFBATCH_VERSION
#define TDFBATCH_VERSION "unknown"
#endif

namespace tdb {

namespace {

constexpr std::string_view kSynopsis =
    "usage: tdfbatch [options] SRC DST [-- tdftogif options]\n"
    "       tdfbatch --index-only DST\n";

constexpr std::string_view kHelp =
    "Converts every Tidewell dataset below SRC (recognised by its content) to a\n"
    "GIF quicklook at the same relative path below DST, with tdftogif, several\n"
    "at once.  Datasets whose quicklook is up to date are skipped.\n"
    "\n"
    "options:\n"
    "  -j, --jobs N         conversions at once (default: the number of processors)\n"
    "      --timeout SEC    time limit of one conversion, 0 for none (default 600)\n"
    "  -q, --quiet          no progress line\n"
    "      --report FILE    one JSON object per dataset of the run, one a line\n"
    "      --index          write the browse page DST/index.html\n"
    "      --index-only     write the browse page from what earlier runs recorded\n"
    "      --shard K/N      only the datasets whose relative path hashes to K\n"
    "                       of N shards (0 <= K < N): FNV-1a 64 of the path mod N\n"
    "      --force          convert every dataset, up to date or not\n"
    "      --tdftogif PATH  the converter to run (default: the tdftogif beside\n"
    "                       tdfbatch, else the one on PATH)\n"
    "  -h, --help           this text\n"
    "      --version        the version\n"
    "  -- OPTIONS           tdftogif options for every conversion (not -o)\n"
    "\n"
    "exit status: 0 all converted or skipped, 1 a dataset failed (or the run\n"
    "could not be completed), 2 a usage error.\n";

int usage_error(const std::string& name, const char* message)
{
    tdf::write_failure_line("tdfbatch", name.c_str(), message);
    std::fwrite(kSynopsis.data(), 1, kSynopsis.size(), stderr);
    return kUsageError;
}

bool read_unsigned(std::string_view text, unsigned long long low, unsigned long long high,
                   unsigned long long& value)
{
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && value >= low && value <= high;
}

bool read_shard(std::string_view text, Shard& shard)
{
    const auto slash = text.find('/');
    unsigned long long k = 0, n = 0;
    if (slash == std::string_view::npos || !read_unsigned(text.substr(slash + 1), 1, 1'000'000'000, n) ||
        !read_unsigned(text.substr(0, slash), 0, n - 1, k))
        return false;
    shard = {k, n};
    return true;
}

// The tdftogif options must leave the output and the input to tdfbatch:
// no -o, no input name, no option left waiting for its value, and nothing
// that makes tdftogif print instead of convert.  Returns the offending
// argument, or empty.
std::string check_converter_options(const std::vector<std::string>& args, const char*& message)
{
    constexpr std::string_view with_value = "1234bcdhlmot";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        message = "not a tdftogif option";
        if (arg.size() < 2 || arg[0] != '-')
            return arg;
        if (arg.rfind("--", 0) == 0) {
            const std::string_view name = std::string_view(arg).substr(0, arg.find('='));
            if (name == "--help" || name == "--version" || name == "--") {
                message = "tdfbatch runs tdftogif to convert, not to print";
                return arg;
            }
            if ((name == "--reduce" || name == "--fit" || name == "--under") &&
                arg.find('=') == std::string::npos) {
                if (++i == args.size()) {
                    message = "the option needs a value";
                    return arg;
                }
            }
            continue;
        }
        if (arg[1] == 'o') {
            message = "tdfbatch names the output itself";
            return arg;
        }
        if (with_value.find(arg[1]) != std::string_view::npos && ++i == args.size()) {
            message = "the option needs a value";
            return arg;
        }
    }
    return {};
}

} // namespace

ParseOutcome parse_options(int argc, const char* const* argv, BatchOptions& options)
{
    std::vector<std::string> positional;
    int i = 1;
    auto value_of = [&](std::string_view arg, std::string_view name, std::string& value) {
        // "--name VALUE", "--name=VALUE", and "-jN" for the short form.
        if (arg.size() > name.size() && arg.substr(0, name.size()) == name) {
            const std::string_view rest = arg.substr(name.size());
            if (rest.front() == '=' && name.size() > 2) {
                value = std::string(rest.substr(1));
                return true;
            }
            if (name.size() == 2) {
                value = std::string(rest);
                return true;
            }
            return false;
        }
        if (arg != name)
            return false;
        if (i + 1 >= argc) {
            value.clear();
            return true;
        }
        value = argv[++i];
        return true;
    };
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string value;
        unsigned long long number = 0;
        if (arg == "--") {
            for (++i; i < argc; ++i)
                options.converter_options.emplace_back(argv[i]);
            break;
        }
        if (arg.empty() || arg[0] != '-' || arg == "-") {
            positional.emplace_back(arg);
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            std::fwrite(kSynopsis.data(), 1, kSynopsis.size(), stdout);
            std::fputc('\n', stdout);
            std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
            return {false, kAllDone};
        }
        if (arg == "--version") {
            std::fputs("tdfbatch " TDFBATCH_VERSION "\n", stdout);
            return {false, kAllDone};
        }
        if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--index") {
            options.index = true;
        } else if (arg == "--index-only") {
            options.index_only = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (value_of(arg, "-j", value) || value_of(arg, "--jobs", value)) {
            if (!read_unsigned(value, 1, 1024, number))
                return {false, usage_error(value, "invalid number of jobs (1 to 1024)")};
            options.jobs = static_cast<unsigned>(number);
        } else if (value_of(arg, "--timeout", value)) {
            if (!read_unsigned(value, 0, 86400 * 7, number))
                return {false, usage_error(value, "invalid time limit (seconds, 0 for none)")};
            options.time_limit = static_cast<unsigned>(number);
        } else if (value_of(arg, "--report", value)) {
            if (value.empty())
                return {false, usage_error(std::string(arg), "the report needs a file name")};
            options.report = value;
        } else if (value_of(arg, "--shard", value)) {
            if (!read_shard(value, options.shard))
                return {false, usage_error(value, "invalid shard (K/N with 0 <= K < N)")};
        } else if (value_of(arg, "--tdftogif", value)) {
            if (value.empty())
                return {false, usage_error(std::string(arg), "the converter needs a path")};
            options.converter = value;
        } else {
            return {false, usage_error(std::string(arg), "invalid option")};
        }
    }
    if (options.index_only) {
        if (positional.size() != 1)
            return {false, usage_error("--index-only", "give the output folder alone")};
        options.output = positional[0];
        options.index = true;
        return {true, 0};
    }
    if (positional.size() != 2)
        return {false, usage_error(positional.size() < 2 ? "tdfbatch" : positional[2],
                                   positional.size() < 2 ? "give a source and an output folder"
                                                         : "one source and one output folder only")};
    options.source = positional[0];
    options.output = positional[1];
    const char* message = nullptr;
    if (const std::string bad = check_converter_options(options.converter_options, message); !bad.empty())
        return {false, usage_error(bad, message)};
    return {true, 0};
}

} // namespace tdb
