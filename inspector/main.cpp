// main.cpp - the tdfinfo command: describes Tidewell datasets.
//
//   tdfinfo [-j] dataset ...
//   tdfinfo --help | --version
//
// For each dataset it prints the text form (or with -j one JSON object per
// line).  A dataset that fails is reported as "tdfinfo: NAME: MESSAGE" on
// standard error and the next one is taken; the exit status is that of the
// first failure, 0 when every dataset was described.
#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "dataset_info.h"
#include "failure_line.h"
#include "tidewell.h"
#include "version.h"

namespace {

// Exit statuses of the command itself (the library's are 1 to 51).
constexpr int kNoArguments = -1;
constexpr int kBadOption = -2;
constexpr int kWriteFailed = -4;

void print_usage()
{
    std::fputs(
        "usage: tdfinfo [-j] dataset ...\n"
        "where: -j               Prints one JSON object per dataset, one per\n"
        "                        line, instead of the text form.\n"
        "       dataset          A Tidewell dataset to describe; several may\n"
        "                        be given.\n",
        stdout);
}

void report_failure(const char* message, const char* name)
{
    tdf::write_failure_line("tdfinfo", name, message);
}

int run(int argc, char** argv)
{
    if (argc < 2) {
        print_usage();
        return kNoArguments;
    }
    bool json = false;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        const std::string_view arg = argv[first];
        if (arg == "--") {
            ++first;
            break;
        }
        if (arg == "-j") {
            json = true;
            continue;
        }
        if (arg == "--help" || arg == "--version") {
            if (arg == "--help")
                print_usage();
            else
                std::printf("tdfinfo %s\n", TDF_VERSION);
            if (std::fflush(stdout) == 0 && !std::ferror(stdout))
                return 0;
            report_failure("can't write output file", "standard output");
            return kWriteFailed;
        }
        report_failure("invalid option", argv[first]);
        print_usage();
        return kBadOption;
    }
    if (first >= argc) {
        print_usage();
        return kBadOption;
    }

    int exit_status = 0;
    bool printed = false;
    for (int i = first; i < argc; ++i) {
        std::string out;
        tdi::Failure failure;
        const int status =
            json ? tdi::info_json(argv[i], out, failure) : tdi::info_text(argv[i], out, failure);
        if (status != TD_NOERR) {
            std::fflush(stdout); // keep the order of the lines on a shared terminal
            report_failure(td_strerror(status), failure.name.c_str());
            if (exit_status == 0)
                exit_status = status;
            continue;
        }
        if (printed && !json)
            std::fputc('\n', stdout);
        std::fwrite(out.data(), 1, out.size(), stdout);
        printed = true;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        report_failure("can't write output file", "standard output");
        if (exit_status == 0)
            exit_status = kWriteFailed;
    }
    return exit_status;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        report_failure(td_strerror(TD_ENOMEM), "tdfinfo");
        return TD_ENOMEM;
    } catch (...) {
        report_failure(td_strerror(TD_EINTERNAL), "tdfinfo");
        return TD_EINTERNAL;
    }
}
