// fuzz_readwrite.cpp - the read-write path on arbitrary bytes: the file is
// opened read-write, a sequence of reads, writes (td_varput_float,
// td_varput_byte) and closes-and-reopens that the input chooses is made,
// and the dataset closed.
//
// Input: the first kOpBytes bytes are eight operations of five bytes (what,
// variable and values, first row, first column, height and width); the rest
// is the dataset file.
//
// Besides the sanitizers, it checks:
//   - every status is one the interface gives;
//   - a write that succeeds reads back as written: bytes exactly, values
//     within half a step of the stored value nearest to them, the bad value
//     as the bad value; writing back what was read changes nothing;
//   - a write that fails changes nothing, and a write changes nothing
//     outside its block nor the other variable (the whole image is kept
//     in a shadow and compared, for images of up to kShadowSamples);
//   - a write to a block that does not read fails too;
//   - after the close, the file is byte for byte what it was when nothing
//     was written, and otherwise a dataset that opens and reads what the
//     shadow holds, checked against its own bytes (expected_reads.h); no
//     side file is left beside it;
//   - a dataset opened read-only, or through callbacks, refuses writes
//     with 41;
//   - leaving define mode (entered through the library's record, as a
//     dataset being made would be: no public call enters it) keeps the
//     image as it was.
// The file is given another owner (when the harness runs as root), a mode
// and an extended attribute, which the file written back must keep.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <sys/xattr.h>

#include "expected_reads.h"
#include "input_file.h"
#include "registry.h"
#include "tidewell.h"

namespace {

constexpr std::size_t kOps = 8;
constexpr std::size_t kOpBytes = 5 * kOps;
constexpr std::int64_t kShadowSamples = 1 << 14;

[[noreturn]] void fail(const char* what, long detail = 0)
{
    fuzz::fail("fuzz_readwrite", what, "(" + std::to_string(detail) + ")");
}

bool known_status(int s)
{
    switch (s) {
    case TD_NOERR:
    case TD_EBADVARID:
    case TD_EINDEX:
    case TD_ERANGE:
    case TD_EREADATT:
    case TD_EREADDATA:
    case TD_EWRITEDATA:
    case TD_ECHANNEL:
    case TD_ECOMPFILE:
    case TD_ECOMPTYPE:
    case TD_ECOMPBYTE0:
    case TD_ESHIFTWRITE:
    case TD_EUNCOMPFILE:
        return true;
    default:
        return false;
    }
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

bool is_bad(float v)
{
    std::uint32_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b == TD_BAD_VALUE_BITS;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The folder of the dataset, with nothing in it but the dataset.
const std::string& work_folder()
{
    static const std::string folder = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string name = std::string(dir && *dir ? dir : "/tmp") + "/tdfuzz-rw-" + std::to_string(getpid());
        if (mkdir(name.c_str(), 0700) != 0 && errno != EEXIST)
            fail("cannot make the work folder");
        return name;
    }();
    return folder;
}

std::vector<std::string> folder_entries()
{
    std::vector<std::string> names;
    if (DIR* d = opendir(work_folder().c_str())) {
        while (const dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        closedir(d);
    }
    return names;
}

// One open dataset and what it must read: the whole image of each
// variable as floats, kept up to date with every write.
class Session {
public:
    Session(const std::string& path, int rows, int columns, int data_id, float half_step)
        : path_(path), rows_(rows), columns_(columns), data_id_(data_id), half_step_(half_step)
    {
        shadowed_ = rows > 0 && columns > 0 && std::int64_t{rows} * columns <= kShadowSamples;
    }

    int open()
    {
        const int s = td_open(path_.c_str(), TD_WRITE, &id_);
        if (s == TD_NOERR && shadowed_) {
            for (int varid = 0; varid <= 1; ++varid)
                shadow_ok_[varid] = whole(varid, shadow_[varid]) == TD_NOERR;
        }
        return s;
    }

    int close() { return td_close(id_); }
    // Opens the written dataset again, read-only, to compare it with the
    // shadow, or read-write to go on.
    int open_read_only() { return td_open(path_.c_str(), TD_READONLY, &id_); }
    int open_again() { return td_open(path_.c_str(), TD_WRITE, &id_); }
    [[nodiscard]] bool written() const noexcept { return written_; }
    // Whether a write changed the data, so that the close writes it back.
    [[nodiscard]] bool changed() const noexcept { return changed_; }

    // The whole image of a variable as floats.
    int whole(int varid, std::vector<float>& out) const
    {
        out.assign(std::size_t(rows_) * std::size_t(columns_), 0.0f);
        const std::uint32_t start[2]{0, 0}, count[2]{std::uint32_t(rows_), std::uint32_t(columns_)};
        return td_varget_float(id_, varid, start, count, out.data());
    }

    // The whole image must be what the shadow holds.
    void check_shadow(const char* after) const
    {
        if (!shadowed_)
            return;
        for (int varid = 0; varid <= 1; ++varid) {
            if (!shadow_ok_[varid])
                continue;
            std::vector<float> now;
            if (whole(varid, now) != TD_NOERR || !same_bits(now, shadow_[varid]))
                fail(after, varid);
        }
    }

    // One operation of the input.
    void run(const std::uint8_t* op)
    {
        const int what = op[0] % 7;
        const int varid = op[1] % 3;
        const int pattern = (op[1] / 3) % 8;
        const std::uint32_t r0 = rows_ > 0 ? op[2] % std::uint32_t(rows_ + 1) : op[2] % 2;
        const std::uint32_t c0 = columns_ > 0 ? op[3] % std::uint32_t(columns_ + 1) : op[3] % 2;
        const std::uint32_t count[2]{1u + (op[4] & 0x0Fu), 1u + (op[4] >> 4)};
        const std::uint32_t start[2]{r0, c0};
        const std::size_t n = std::size_t{count[0]} * count[1];
        switch (what) {
        case 0:
        case 1:
        case 5:
            write(varid, start, count, n, what == 1, what == 5 ? -1 : pattern);
            break;
        case 2: {
            std::vector<float> got(n);
            const int s = td_varget_float(id_, varid, start, count, got.data());
            if (s == TD_NOERR && shadowed_ && varid <= 1 && shadow_ok_[varid])
                for (std::uint32_t i = 0; i < count[0]; ++i)
                    for (std::uint32_t j = 0; j < count[1]; ++j)
                        if (std::memcmp(&got[i * count[1] + j], &at(varid, start[0] + i, start[1] + j), 4) !=
                            0)
                            fail("a read differs from what was written", long(i));
            break;
        }
        case 6:
            define_mode();
            break;
        case 3:
            // Close and open again: what was written is in the file.
            if (const int s = close(); s != TD_NOERR)
                fail("a close failed", s);
            changed_ = false;
            if (const int s = td_open(path_.c_str(), TD_WRITE, &id_); s != TD_NOERR)
                fail("a closed dataset does not open again", s);
            check_shadow("a variable reads otherwise after a close and an open");
            break;
        default:
            break;
        }
    }

private:
    float& at(int varid, std::uint32_t r, std::uint32_t c)
    {
        return shadow_[varid][std::size_t(r) * std::size_t(columns_) + c];
    }
    const float& at(int varid, std::uint32_t r, std::uint32_t c) const
    {
        return shadow_[varid][std::size_t(r) * std::size_t(columns_) + c];
    }

    // Leaves define mode, entered as a dataset being made would be: the
    // data area is made whole, an image already there kept.
    void define_mode()
    {
        // The data area is made as large as the header says: 2 GiB from a
        // few header bytes.  Small ones only.
        if (std::int64_t{rows_} * columns_ > kShadowSamples)
            return;
        const auto ds = td::find_dataset(id_);
        if (ds == nullptr)
            fail("the dataset is not open");
        ds->define_flag = 1;
        // Until it leaves define mode, the dataset is neither read nor written.
        float value = 0;
        const std::uint32_t origin[2]{0, 0}, one[2]{1, 1};
        if (const int r = td_varget_float(id_, 0, origin, one, &value); r != TD_EINDEFINE)
            fail("a dataset in define mode was read", r);
        if (const int w = td_varput_float(id_, 0, origin, one, &value); w != TD_EINDEFINE)
            fail("a dataset in define mode was written", w);
        const int s = td_enddef(id_);
        if (s != TD_NOERR) {
            ds->define_flag = 0;
            if (!known_status(s) && s != TD_EDIMUNDEF && s != TD_EVARUNDEF)
                fail("td_enddef gave an unexpected status", s);
            return;
        }
        written_ = true; // a data area made whole is written back
        check_shadow("leaving define mode changed the image");
    }

    // Values a pattern gives, or (pattern -1) what the block reads now.
    std::vector<float> values(int varid, const std::uint32_t start[2], const std::uint32_t count[2],
                              std::size_t n, int pattern, int& read_status) const
    {
        std::vector<float> v(n);
        read_status = td_varget_float(id_, varid, start, count, v.data());
        for (std::size_t i = 0; i < n; ++i) {
            const float k = static_cast<float>(i);
            switch (pattern) {
            case -1:
                break; // as read
            case 0:
                v[i] = read_status == TD_NOERR ? v[i] + 0.01f * k : k;
                break; // near stored values
            case 1:
                v[i] = TD_BAD_VALUE;
                break;
            case 2:
                v[i] = -10.0f + 0.37f * k;
                break;
            case 3:
                v[i] = 0.5f * k - 2.0f;
                break; // halfway between raw counts
            case 4:
                v[i] = i == n / 2 ? std::numeric_limits<float>::quiet_NaN() : k;
                break;
            case 5:
                v[i] = i == 0 ? 1e30f : 20.0f;
                break;
            case 6:
                v[i] = static_cast<float>(i % 16);
                break;
            default:
                v[i] = 1000.0f - 7.25f * k;
                break;
            }
        }
        return v;
    }

    void write(int varid, const std::uint32_t start[2], const std::uint32_t count[2], std::size_t n,
               bool as_bytes, int pattern)
    {
        int read_status = 0;
        std::vector<float> v = values(varid, start, count, n, pattern, read_status);
        std::vector<std::uint8_t> bytes(n);
        for (std::size_t i = 0; i < n; ++i)
            bytes[i] =
                static_cast<std::uint8_t>(std::fabs(v[i]) < 1e6f ? static_cast<int>(v[i]) & 0xFF : 255);
        const int s = as_bytes ? td_varput_byte(id_, varid, start, count, bytes.data())
                               : td_varput_float(id_, varid, start, count, v.data());
        if (!known_status(s))
            fail("a write gave an unexpected status", s);
        if (s != TD_NOERR) {
            check_shadow("a failed write changed the dataset");
            return;
        }
        written_ = true;
        changed_ = true;
        if (read_status != TD_NOERR)
            fail("a write succeeded on a block that does not read", read_status);
        std::vector<float> back(n);
        if (const int r = td_varget_float(id_, varid, start, count, back.data()); r != TD_NOERR)
            fail("a written block does not read", r);
        for (std::size_t i = 0; i < n; ++i) {
            const float want = as_bytes ? static_cast<float>(bytes[i]) : v[i];
            const bool exact = as_bytes || varid == 1 || data_id_ == 3;
            const bool ok = is_bad(want)        ? is_bad(back[i])
                            : exact && as_bytes ? back[i] == want
                                                : std::fabs(double{back[i]} - want) <= tolerance(varid, want);
            if (!ok)
                fuzz::fail("fuzz_readwrite", "a written value reads back otherwise:",
                           "variable " + std::to_string(varid) + (as_bytes ? " byte " : " float ") +
                               std::to_string(want) + " read " + std::to_string(back[i]));
        }
        // What was read, written back, reads the same.
        if (td_varput_float(id_, varid, start, count, back.data()) != TD_NOERR)
            fail("the values read back cannot be written");
        std::vector<float> again(n);
        if (td_varget_float(id_, varid, start, count, again.data()) != TD_NOERR || !same_bits(again, back))
            fail("the values read back, written again, read otherwise");
        if (shadowed_ && shadow_ok_[varid])
            for (std::uint32_t i = 0; i < count[0]; ++i)
                for (std::uint32_t j = 0; j < count[1]; ++j)
                    at(varid, start[0] + i, start[1] + j) = back[i * count[1] + j];
        check_shadow("a write changed more than its block");
    }

    // Half a step, and what single-precision rounding adds to it around x.
    [[nodiscard]] double tolerance(int varid, float x) const
    {
        return (varid == 1 ? 0.5 : double{half_step_}) * (1 + 1e-5) + 4 * std::fabs(double{x}) * 0x1p-23 +
               1e-6;
    }

    std::string path_;
    int id_ = -1;
    int rows_, columns_, data_id_;
    float half_step_;
    bool shadowed_ = false;
    std::array<bool, 2> shadow_ok_{};
    std::array<std::vector<float>, 2> shadow_;
    bool written_ = false;
    bool changed_ = false;
};

// Half the largest step between neighbouring values of the data variable.
float half_step(const std::uint8_t* file, std::size_t size)
{
    const int data_id = fuzz::header_field(file, size, 50, -1);
    const int calibration = fuzz::header_field(file, size, 44, 0);
    const int channel = fuzz::header_field(file, size, 48, 0);
    switch (data_id) {
    case 0:
        return calibration == 0 ? 0.5f : 0.04885198f / 2;
    case 1:
        return calibration == 0 ? 0.5f : 0.05f;
    case 2:
        return channel == 105 ? 1.0f / 120 : 1.0f / 256;
    default:
        return 0.5f;
    }
}

// The read-only refusals: the same file opened read-only and the same
// bytes through callbacks refuse every write with 41.
struct Memory {
    const std::uint8_t* data;
    std::size_t size;
};

void check_read_only(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const std::uint32_t start[2]{0, 0}, count[2]{1, 1};
    const float value = 0.0f;
    const std::uint8_t byte = 0;
    int id = -1;
    if (td_open(path.c_str(), TD_READONLY, &id) == TD_NOERR) {
        if (td_varput_float(id, 0, start, count, &value) != TD_EREADONLY ||
            td_varput_byte(id, 1, start, count, &byte) != TD_EREADONLY)
            fail("a read-only dataset took a write");
        (void)td_close(id);
    }
    Memory memory{data, size};
    const auto read = [](void* user, std::int64_t offset, void* buffer, std::size_t length) -> std::int64_t {
        const auto* m = static_cast<Memory*>(user);
        const std::size_t n = std::min(length, m->size - static_cast<std::size_t>(offset));
        std::memcpy(buffer, m->data + offset, n);
        return static_cast<std::int64_t>(n);
    };
    const auto length = [](void* user) -> std::int64_t {
        return static_cast<std::int64_t>(static_cast<Memory*>(user)->size);
    };
    if (td_open_callbacks(&memory, read, length, nullptr, &id) == TD_NOERR) {
        if (td_varput_float(id, 0, start, count, &value) != TD_EREADONLY)
            fail("a dataset on callbacks took a write");
        (void)td_close(id);
    }
}

// A changed dataset whose file gained a second name, or was put aside for
// another file under its name: the close is refused with 45, the file (each
// file) left as it was and the dataset open with its changes; with the
// obstacle gone, the caller's next close goes through.
void refused_close(Session& session, const std::string& path, bool second_link)
{
    const std::string other = work_folder() + "/other.tdf";
    const std::string before = read_file(path);
    const std::string stranger = "another file under the dataset's name";
    if (second_link ? link(path.c_str(), other.c_str()) != 0 : rename(path.c_str(), other.c_str()) != 0)
        fail("cannot put an obstacle in the way");
    if (!second_link) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(stranger.data(), 1, stranger.size(), f) != stranger.size() ||
            std::fclose(f) != 0)
            fail("cannot put another file under the name");
    }
    for (int attempt = 0; attempt < 2; ++attempt)
        if (const int s = session.close(); s != TD_EUNCOMPFILE)
            fail("a close that would change what the file is gave", s);
    if (read_file(path) != (second_link ? before : stranger) || read_file(other) != before)
        fail("a refused close changed a file");
    if (second_link ? unlink(other.c_str()) != 0 : rename(other.c_str(), path.c_str()) != 0)
        fail("cannot take the obstacle away");
}

// A close with no room for files larger than `limit` bytes (the limit on
// file sizes of this process stands in for a full disk): the close fails
// with 35, the file left as it was and the dataset open; with room again,
// it goes through.
void close_without_room(Session& session, const std::string& path, rlim_t limit)
{
    const std::string before = read_file(path);
    rlimit now{};
    if (getrlimit(RLIMIT_FSIZE, &now) != 0)
        fail("cannot read the limit on file sizes");
    // A write past the limit fails (EFBIG) instead of raising SIGXFSZ,
    // whose handler (libFuzzer's) would end the run.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    const rlimit small{std::min(limit, now.rlim_max), now.rlim_max};
    if (sigaction(SIGXFSZ, &ignore, &previous) != 0 || setrlimit(RLIMIT_FSIZE, &small) != 0)
        fail("cannot limit file sizes");
    const int s = session.close();
    if (setrlimit(RLIMIT_FSIZE, &now) != 0 || sigaction(SIGXFSZ, &previous, nullptr) != 0)
        fail("cannot lift the limit on file sizes");
    if (s == TD_NOERR) {
        // It fitted: nothing more to see.
        if (session.open_again() != TD_NOERR)
            fail("a closed dataset does not open again");
        return;
    }
    if (s != TD_EWRITEDATA)
        fail("a close without room gave", s);
    if (read_file(path) != before || folder_entries() != std::vector<std::string>{"d.tdf"})
        fail("a close without room changed the file or left something beside it");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kOpBytes)
        return 0;
    const std::uint8_t* file = data + kOpBytes;
    const std::size_t file_size = size - kOpBytes;
    const std::string path = work_folder() + "/d.tdf";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || (file_size > 0 && std::fwrite(file, 1, file_size, f) != file_size) ||
            std::fclose(f) != 0)
            fail("cannot write the input");
    }
    check_read_only(path, file, file_size);
    fuzz::require_no_open_dataset();
    // An owner, a mode and an attribute that a file written back keeps.
    const std::uint8_t look = data[0];
    const bool as_root = geteuid() == 0;
    if ((look & 1) && as_root && chown(path.c_str(), 1, 1) != 0)
        fail("cannot give the input another owner");
    const mode_t mode = (look & 2) ? 0640 : 0600;
    if (chmod(path.c_str(), mode) != 0)
        fail("cannot set the input's mode");
    const bool attribute = (look & 4) && setxattr(path.c_str(), "user.tdf.note", "kept", 4, 0) == 0;

    const fuzz::ExpectedReads expected({file, file_size});
    Session session(path, expected.rows(), expected.columns(), expected.data_id(),
                    half_step(file, file_size));
    const int opened = session.open();
    if (opened != expected.open_status())
        fail("a read-write open gave another status than the bytes call for", opened);
    if (opened != TD_NOERR)
        return 0;
    for (std::size_t k = 0; k < kOps; ++k)
        session.run(data + 5 * k);
    if (session.changed() && (look & 0x18) != 0)
        refused_close(session, path, (look & 8) != 0);
    if (session.changed() && (look & 0x20) != 0)
        close_without_room(session, path, 256u << (look >> 6) * 3);
    if (const int s = session.close(); s != TD_NOERR)
        fail("the close failed", s);
    fuzz::require_no_open_dataset();
    if (folder_entries() != std::vector<std::string>{"d.tdf"})
        fail("something was left beside the dataset");

    const std::string now = read_file(path);
    if (!session.written()) {
        if (now != std::string(reinterpret_cast<const char*>(file), file_size))
            fail("a dataset nothing was written to changed");
        return 0;
    }
    // Written back: the owner, mode and attribute kept; a dataset that reads
    // what was written, and what its own bytes call for.
    struct stat st {};
    char note[8] = {};
    if (stat(path.c_str(), &st) != 0 || (st.st_mode & 07777) != mode ||
        (as_root && (look & 1) && (st.st_uid != 1 || st.st_gid != 1)) ||
        (attribute && getxattr(path.c_str(), "user.tdf.note", note, sizeof note) != 4))
        fail("the file written back lost its owner, mode or attribute");
    if (session.open_read_only() != TD_NOERR)
        fail("a written dataset does not open");
    session.check_shadow("a written dataset reads otherwise after the close");
    if (session.close() != TD_NOERR)
        fail("a read-only close failed");
    const fuzz::ExpectedReads rewritten({reinterpret_cast<const std::uint8_t*>(now.data()), now.size()});
    int id = -1;
    if (td_open(path.c_str(), TD_READONLY, &id) != TD_NOERR)
        fail("a written dataset does not open");
    const std::uint32_t rows = std::uint32_t(std::max(0, int{expected.rows()}));
    const std::uint32_t columns = std::uint32_t(std::max(0, int{expected.columns()}));
    std::vector<float> row(columns);
    for (int varid = 0; varid <= 1; ++varid) {
        for (std::uint32_t r = 0; r < rows && std::int64_t{r} * columns < kShadowSamples; ++r) {
            const std::uint32_t start[2]{r, 0}, count[2]{1, columns};
            const int s = td_varget_float(id, varid, start, count, row.data());
            if (const char* what = rewritten.check(varid, {r, 0}, {1, columns}, TD_FLOAT, s, row.data()))
                fail(what, s);
        }
    }
    (void)td_close(id);
    return 0;
}
