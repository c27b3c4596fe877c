// side_file.cpp - a complete new file put in a dataset file's place.
#include "side_file.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "tidewell.h"

namespace td {

namespace {

constexpr mode_t kPrivate = S_IRUSR | S_IWUSR;
constexpr int kNameAttempts = 100;

// The folder part of a path ("." when it has none).
std::string folder_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A side name in the folder: short, whatever the dataset's own name, and
// hard to guess; a name that is taken is never used (O_EXCL, linkat).
std::string side_name(const std::string& folder)
{
    unsigned long long pick = 0;
    if (getrandom(&pick, sizeof pick, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof pick))
        pick = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (static_cast<unsigned long long>(getpid()) << 32);
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", pick);
    return folder + "/.tdf-" + suffix;
}

// Whether a file made without a name can be given one later: through
// /proc/self/fd, or by a process allowed to link any descriptor.
bool anonymous_files_can_be_linked()
{
    return access("/proc/self/fd", X_OK) == 0 || geteuid() == 0;
}

// A label the system gives every new file itself (SELinux); it is kept as
// the system chose it when it cannot be copied.
bool system_label(std::string_view name)
{
    return name == "security.selinux";
}

// The list of extended attribute names of a file (by path or by
// descriptor), or nothing when the file system keeps none.
[[nodiscard]] bool attribute_names(const char* path, int fd, std::vector<std::string>& names)
{
    names.clear();
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = path ? listxattr(path, nullptr, 0) : flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP || errno == ENOSYS;
        if (size == 0)
            return true;
        std::vector<char> list(static_cast<std::size_t>(size));
        const ssize_t got =
            path ? listxattr(path, list.data(), list.size()) : flistxattr(fd, list.data(), list.size());
        if (got < 0 && errno == ERANGE)
            continue; // grew in between
        if (got < 0)
            return false;
        for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
            const std::string name(list.data() + at);
            at += name.size() + 1;
            names.push_back(name);
        }
        return true;
    }
    return false;
}

[[nodiscard]] bool attribute_value(const char* path, int fd, const std::string& name,
                                   std::vector<char>& value)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size =
            path ? getxattr(path, name.c_str(), nullptr, 0) : fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0)
            return false;
        value.resize(static_cast<std::size_t>(size));
        const ssize_t got = path ? getxattr(path, name.c_str(), value.data(), value.size())
                                 : fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (got < 0 && errno == ERANGE)
            continue;
        if (got < 0)
            return false;
        value.resize(static_cast<std::size_t>(got));
        return true;
    }
    return false;
}

// Gives the new file exactly the extended attributes of the target (access
// control lists among them): each of the target's copied, any other that
// the new file inherited removed.  False when one cannot be given.
[[nodiscard]] bool copy_attributes(const std::string& target, int fd)
{
    std::vector<std::string> names, own;
    if (!attribute_names(target.c_str(), -1, names) || !attribute_names(nullptr, fd, own))
        return false;
    std::vector<char> value, present;
    for (const std::string& name : names) {
        if (!attribute_value(target.c_str(), -1, name, value))
            return false;
        if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0)
            continue;
        // Already there as it should be (inherited), or a label that is the
        // system's to give.
        const bool same = attribute_value(nullptr, fd, name, present) && present == value;
        if (!same && !system_label(name))
            return false;
    }
    for (const std::string& name : own) {
        bool wanted = system_label(name);
        for (const std::string& n : names)
            wanted = wanted || n == name;
        if (!wanted && fremovexattr(fd, name.c_str()) != 0)
            return false;
    }
    return true;
}

} // namespace

SideFile::~SideFile()
{
    if (!placed_ && !name_.empty())
        (void)unlink(name_.c_str());
}

int SideFile::create(const std::string& target, const struct stat& original)
{
    folder_ = folder_of(target);
    int fd = -1;
    if (anonymous_files_can_be_linked()) {
        fd = open(folder_.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, kPrivate);
        if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return TD_EUNCOMPFILE; // no permission, no space, no inode: a named file fares no better
    }
    for (int attempt = 0; fd < 0 && attempt < kNameAttempts; ++attempt) {
        const std::string name = side_name(folder_);
        fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivate);
        if (fd >= 0)
            name_ = name;
        else if (errno != EEXIST)
            break;
    }
    if (fd < 0)
        return TD_EUNCOMPFILE;
    stream_ = Stream::adopt(fd, "w+b");
    if (!stream_)
        return TD_EUNCOMPFILE;

    // Owner and group first (a change of owner clears the set-id bits),
    // then the attributes (an access control list sets group bits), the
    // mode last.  Until the mode, the file is private whatever the umask.
    struct stat mine {};
    if (fstat(fd, &mine) != 0 || fchmod(fd, kPrivate) != 0)
        return TD_EUNCOMPFILE;
    if ((mine.st_uid != original.st_uid || mine.st_gid != original.st_gid) &&
        fchown(fd, original.st_uid, original.st_gid) != 0)
        return TD_EUNCOMPFILE;
    if (!copy_attributes(target, fd) || fchmod(fd, original.st_mode & 07777) != 0)
        return TD_EUNCOMPFILE;
    return TD_NOERR;
}

int SideFile::link_in()
{
    const std::string by_descriptor = "/proc/self/fd/" + std::to_string(stream_.descriptor());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name = side_name(folder_);
        int linked = linkat(AT_FDCWD, by_descriptor.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT)
            linked = linkat(stream_.descriptor(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
        if (linked == 0) {
            name_ = name;
            return TD_NOERR;
        }
        if (errno != EEXIST)
            break;
    }
    return TD_EUNCOMPFILE;
}

int SideFile::replace(const std::string& target, const struct stat& original)
{
    if (!stream_.sync())
        return TD_EWRITEDATA;
    if (name_.empty())
        if (const int status = link_in(); status != TD_NOERR)
            return status;
    // Whatever changed since the file was read (a new hard link, a new
    // owner or mode, another file under the name) would be lost or undone
    // by the rename.
    struct stat now {};
    if (stat(target.c_str(), &now) != 0 || now.st_dev != original.st_dev || now.st_ino != original.st_ino ||
        now.st_nlink != 1 || now.st_uid != original.st_uid || now.st_gid != original.st_gid ||
        now.st_mode != original.st_mode)
        return TD_EUNCOMPFILE;
    if (std::rename(name_.c_str(), target.c_str()) != 0)
        return TD_EUNCOMPFILE;
    placed_ = true;
    name_.clear();

    // The rename itself reaches the disk only with the folder.
    const int folder = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return TD_EUNCOMPFILE;
    const bool synced = fsync(folder) == 0 || errno == EINVAL; // EINVAL: nothing to flush here
    close(folder);
    return synced ? TD_NOERR : TD_EWRITEDATA;
}

} // namespace td
