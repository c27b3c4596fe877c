// output_file.cpp - the output stream of a conversion, and the output file
// replaced whole or not at all.
#include "output_file.h"

#include <cerrno>
#include <chrono>
#include <climits>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/random.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace tdf {

namespace {

constexpr mode_t kPrivate = S_IRUSR | S_IWUSR;
constexpr int kNameAttempts = 100;
constexpr int kLinkHops = 40; // the kernel's own limit on a chain of links

std::string folder_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What an output name stands for once its symbolic links are followed.
struct resolved {
    enum { missing, file, other, failed } what = failed;
    std::string path;  // the last name of the chain
    struct stat st {}; // its status (file and other)
};

// Follows the symbolic links of `name` one by one, so that a link whose
// target does not exist yet still names the file to make.  A link kept by
// the proc file system (/dev/stdout leads to /proc/self/fd/1) is not a name
// of a file but of an open descriptor: it counts as "other", written
// directly.
resolved resolve(const char* name)
{
    resolved r;
    r.path = name;
    for (int hop = 0; hop <= kLinkHops; ++hop) {
        if (lstat(r.path.c_str(), &r.st) != 0) {
            r.what = errno == ENOENT ? resolved::missing : resolved::failed;
            return r;
        }
        if (!S_ISLNK(r.st.st_mode)) {
            r.what = S_ISREG(r.st.st_mode) ? resolved::file : resolved::other;
            return r;
        }
        struct statfs fs {};
        if (statfs(folder_of(r.path).c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC) {
            r.what = resolved::other;
            return r;
        }
        char target[PATH_MAX];
        const ssize_t n = readlink(r.path.c_str(), target, sizeof target - 1);
        if (n <= 0)
            return r;
        const std::string next(target, static_cast<std::size_t>(n));
        r.path = next.front() == '/' ? next : folder_of(r.path) + "/" + next;
    }
    return r; // a loop of links
}

// Whether the open output file is the dataset itself (by any name).
bool same_as_input(int output_fd, const char* input) noexcept
{
    struct stat out {
    }, in{};
    return fstat(output_fd, &out) == 0 && S_ISREG(out.st_mode) && ::stat(input, &in) == 0 &&
           out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

// Whether a file made without a name can be given one: through
// /proc/self/fd, or by a process allowed to link any descriptor.
bool anonymous_files_can_be_linked()
{
    return access("/proc/self/fd", X_OK) == 0 || geteuid() == 0;
}

// ".tdftogif-" and 12 hex digits: short whatever the output's own name, and
// recognisable as this program's should one ever be left behind.
std::string temporary_name()
{
    unsigned long long pick = 0;
    if (getrandom(&pick, sizeof pick, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof pick))
        pick = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (static_cast<unsigned long long>(getpid()) << 24);
    char name[32];
    std::snprintf(name, sizeof name, ".tdftogif-%012llx", pick & 0xFFFFFFFFFFFFULL);
    return name;
}

// The mode fopen(..., "wb") gives a new file: 0666 less the umask.
mode_t new_file_mode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

output_file::~output_file()
{
    discard();
}

void output_file::discard() noexcept
{
    if (stream_ != nullptr && way_ != way::standard_output)
        std::fclose(stream_);
    else if (stream_ == nullptr && fd_ >= 0)
        ::close(fd_);
    stream_ = nullptr;
    fd_ = -1;
    if (!temporary_.empty())
        (void)unlinkat(folder_, temporary_.c_str(), 0);
    temporary_.clear();
    if (folder_ >= 0)
        ::close(folder_);
    folder_ = -1;
}

output_status output_file::prepare(const char* name, const char* input, bool anonymous)
{
    if (name == nullptr) {
        way_ = way::standard_output;
        if (same_as_input(STDOUT_FILENO, input))
            return output_status::is_input;
        stream_ = stdout;
        return output_status::ok;
    }
    const resolved r = resolve(name);
    switch (r.what) {
    case resolved::failed:
        return output_status::not_created;
    case resolved::other:
        return prepare_direct(name, input);
    case resolved::file: {
        struct stat in {};
        if (::stat(input, &in) == 0 && in.st_dev == r.st.st_dev && in.st_ino == r.st.st_ino)
            return output_status::is_input;
        exists_ = true;
        replaced_ = r.st;
        return prepare_replace(r.path, anonymous);
    }
    case resolved::missing:
        exists_ = false;
        return prepare_replace(r.path, anonymous);
    }
    return output_status::not_created;
}

// A FIFO, a device or an open descriptor of /proc: opened for writing, as
// it is, without being truncated before it is known not to be the dataset.
output_status output_file::prepare_direct(const char* name, const char* input)
{
    way_ = way::direct;
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return output_status::not_created;
    if (same_as_input(fd, input)) {
        ::close(fd);
        return output_status::is_input;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return output_status::not_created;
    }
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
        ::close(fd);
        return output_status::not_created;
    }
    return output_status::ok;
}

// A regular file, or none yet: the folder must take a new file, and an
// existing file must be one that this process could have written over.
output_status output_file::prepare_replace(const std::string& target, bool anonymous)
{
    way_ = way::replace;
    base_ = base_of(target);
    if (base_.empty() || base_ == "." || base_ == "..")
        return output_status::not_created;
    folder_ = ::open(folder_of(target).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0)
        return output_status::not_created;
    if (exists_) {
        if (faccessat(folder_, base_.c_str(), W_OK, AT_EACCESS) != 0)
            return output_status::not_created;
        // In a folder with the sticky bit only the owner of a file (or of
        // the folder) may rename over it.
        struct stat folder {};
        if (fstat(folder_, &folder) != 0)
            return output_status::not_created;
        const uid_t me = geteuid();
        if ((folder.st_mode & S_ISVTX) && me != 0 && replaced_.st_uid != me && folder.st_uid != me)
            return output_status::not_created;
    }
    new_mode_ = new_file_mode();

    if (anonymous && anonymous_files_can_be_linked()) {
        fd_ = openat(folder_, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, kPrivate);
        if (fd_ >= 0) {
            stream_ = fdopen(fd_, "wb");
            return stream_ != nullptr ? output_status::ok : output_status::not_created;
        }
        // No permission, no room, a read-only file system: a named file
        // fares no better.  Only a file system without anonymous files
        // takes the named way.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return output_status::not_created;
    }
    return faccessat(folder_, ".", W_OK | X_OK, AT_EACCESS) == 0 ? output_status::ok
                                                                 : output_status::not_created;
}

output_status output_file::open_stream(std::FILE*& stream)
{
    if (way_ == way::standard_output)
        std::clearerr(stdout); // an earlier error on a shared stream is not this image's
    if (stream_ == nullptr && way_ == way::replace) {
        // The named way: the file is made now, when the image is complete.
        for (int attempt = 0; attempt < kNameAttempts && fd_ < 0; ++attempt) {
            const std::string name = temporary_name();
            fd_ =
                openat(folder_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivate);
            if (fd_ >= 0)
                temporary_ = name;
            else if (errno != EEXIST)
                break;
        }
        if (fd_ >= 0)
            stream_ = fdopen(fd_, "wb");
    }
    stream = stream_;
    return stream_ != nullptr ? output_status::ok : output_status::not_created;
}

// Gives the anonymous file the temporary name.
bool output_file::name_temporary()
{
    const std::string by_descriptor = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = temporary_name();
        int linked = linkat(AT_FDCWD, by_descriptor.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT)
            linked = linkat(fd_, "", folder_, name.c_str(), AT_EMPTY_PATH);
        if (linked == 0) {
            temporary_ = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

output_status output_file::commit()
{
    if (stream_ == nullptr)
        return output_status::not_written;
    const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
    if (way_ == way::standard_output)
        return flushed ? output_status::ok : output_status::not_written;
    if (way_ == way::direct) {
        const bool closed = std::fclose(stream_) == 0;
        stream_ = nullptr;
        return flushed && closed ? output_status::ok : output_status::not_written;
    }

    if (!flushed)
        return output_status::not_written;
    // Owner and group first (a change of owner clears the set-id bits), the
    // mode last; a group or owner that cannot be given is not an error.
    mode_t mode = new_mode_;
    if (exists_) {
        if (fchown(fd_, replaced_.st_uid, replaced_.st_gid) != 0)
            (void)fchown(fd_, static_cast<uid_t>(-1), replaced_.st_gid);
        mode = replaced_.st_mode & 07777;
    }
    if (fchmod(fd_, mode) != 0 || fsync(fd_) != 0)
        return output_status::not_written;

    bool placed = false;
    if (temporary_.empty()) {
        // Anonymous: a new file takes the output name in one step; over an
        // existing one it goes by the temporary name and a rename.
        const std::string by_descriptor = "/proc/self/fd/" + std::to_string(fd_);
        if (!exists_) {
            placed =
                linkat(AT_FDCWD, by_descriptor.c_str(), folder_, base_.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
                (errno == ENOENT && linkat(fd_, "", folder_, base_.c_str(), AT_EMPTY_PATH) == 0);
        }
        if (!placed && !name_temporary())
            return output_status::not_written;
    }
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    fd_ = -1;
    if (!closed)
        return output_status::not_written; // the destructor removes the temporary name
    if (!placed) {
        if (renameat(folder_, temporary_.c_str(), folder_, base_.c_str()) != 0)
            return output_status::not_written;
        temporary_.clear();
    }

    // The new name reaches the disk with the folder.  Some file systems
    // cannot flush a folder; the image is in place all the same.
    const int folder = openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)fsync(folder);
        ::close(folder);
    }
    return output_status::ok;
}

} // namespace tdf
