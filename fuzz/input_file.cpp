// input_file.cpp - the per-process input file of the fuzz harnesses.
#include "input_file.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

#include "tidewell.h"

namespace fuzz {

namespace {

struct InputFile {
    std::string path;
    InputFile()
    {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir && *dir ? dir : "/tmp") + "/tdfuzz-" + std::to_string(getpid()) + ".tdf";
    }
    ~InputFile() { std::remove(path.c_str()); }
};

// A copy of standard error made before libFuzzer closes it.
const int kReports = dup(2);

InputFile& input_file()
{
    static InputFile file;
    return file;
}

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

} // namespace

const std::string& write_input(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = input_file().path;
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f || (size > 0 && std::fwrite(data, 1, size, f.get()) != size) || std::fclose(f.release()) != 0) {
        fail("fuzz", "cannot write", path);
    }
    return path;
}

int header_field(const std::uint8_t* data, std::size_t size, std::size_t offset, int missing)
{
    if (size < offset + 2)
        return missing;
    return static_cast<std::int16_t>((data[offset] << 8) | data[offset + 1]);
}

void fail(const char* harness, const char* what, const std::string& detail)
{
    const std::string line = std::string(harness) + ": " + what + " " + detail + "\n";
    (void)!write(kReports >= 0 ? kReports : 2, line.data(), line.size());
    std::abort();
}

void require_no_open_dataset()
{
    for (int id = 0; id < TD_MAX_DATASETS; ++id) {
        if (td_close(id) != TD_EBADID) {
            fail("fuzz", "a dataset was left open:", std::to_string(id));
        }
    }
}

} // namespace fuzz
