// atomic_file.cpp - temporary file, fsync, rename.
#include "atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tdb {

namespace {

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_;
};

int sync_folder(const std::string& folder)
{
    const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return errno;
    // Some file systems cannot flush a folder; the rename is done all the same.
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return 0;
}

std::string file_name(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string parent_folder(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

int write_file_atomically(const std::string& path, std::string_view bytes, bool locked)
{
    mode_t mode = 0666;
    struct stat old {};
    const bool replacing = ::stat(path.c_str(), &old) == 0;
    if (replacing)
        mode = old.st_mode & 07777;
    const std::string folder = parent_folder(path);
    std::string temporary;
    int fd_number = -1;
    if (locked) {
        temporary = folder + "/." + file_name(path) + ".tdfbatch-part";
        fd_number = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_number < 0)
            return errno;
    }
    for (int attempt = 0; attempt < 100 && fd_number < 0; ++attempt) {
        temporary = folder + "/." + file_name(path) + "." + std::to_string(::getpid()) + "-" +
                    std::to_string(attempt) + ".tmp";
        fd_number = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_number < 0 && errno != EEXIST)
            return errno;
    }
    if (fd_number < 0)
        return EEXIST;
    Descriptor fd(fd_number);
    auto fail = [&](int error) {
        ::unlink(temporary.c_str());
        return error;
    };
    if (replacing && ::fchmod(fd.get(), mode) != 0)
        return fail(errno);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0)
        return fail(errno);
    if (const int error = fd.close(); error != 0)
        return fail(error);
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        return fail(errno);
    return sync_folder(folder);
}

int commit_file(const std::string& temporary, const std::string& path)
{
    {
        const Descriptor fd(::open(temporary.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            return error;
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return error;
    }
    return 0;
}

int make_folders(const std::string& path)
{
    if (path.empty())
        return 0;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const std::string parent = parent_folder(path);
    if (parent != path && parent != "." && parent != "/")
        if (const int error = make_folders(parent); error != 0)
            return error;
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

void FolderSync::add_parent_of(const std::string& path)
{
    folders_.insert(parent_folder(path));
}

int FolderSync::flush()
{
    int first = 0;
    for (const std::string& folder : folders_)
        if (const int error = sync_folder(folder); error != 0 && first == 0)
            first = error;
    folders_.clear();
    return first;
}

} // namespace tdb
