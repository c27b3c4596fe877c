// stream.cpp - byte streams over the C library's FILE or a caller's
// callbacks.
#include "stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

namespace td {

CallbackSource::~CallbackSource()
{
    if (close_ != nullptr)
        close_(user_);
}

std::size_t CallbackSource::read_at(std::int64_t offset, void* dst, std::size_t n)
{
    if (offset < 0 || offset >= length_ || n == 0)
        return 0;
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, static_cast<std::uint64_t>(length_ - offset)));
    auto* out = static_cast<unsigned char*>(dst);
    std::size_t done = 0;
    while (done < n) {
        const std::int64_t got = read_(user_, offset + static_cast<std::int64_t>(done), out + done, n - done);
        if (got < 0 || static_cast<std::uint64_t>(got) > n - done) {
            failed_ = true;
            break;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

Stream Stream::from_callbacks(std::unique_ptr<CallbackSource> source)
{
    Stream s;
    s.source_ = std::move(source);
    return s;
}

Stream::Stream(std::FILE* f) : file_(f)
{
    // Without its own buffer (no memory) the stream keeps the C library's.
    if (file_) {
        try {
            buffer_ = std::make_unique_for_overwrite<char[]>(kBufferBytes);
        } catch (const std::bad_alloc&) {
            return;
        }
        if (setvbuf(file_.get(), buffer_.get(), _IOFBF, kBufferBytes) != 0)
            buffer_.reset();
    }
}

Stream Stream::open(const char* path, const char* mode)
{
    return Stream(std::fopen(path, mode));
}

Stream Stream::adopt(int fd, const char* mode)
{
    if (fd < 0)
        return Stream();
    std::FILE* f = fdopen(fd, mode);
    if (f == nullptr) {
        ::close(fd);
        return Stream();
    }
    return Stream(f);
}

Stream Stream::open_regular(const char* path, bool writable)
{
    // A first look by name keeps a device from even being opened; the look
    // at the open file settles it, should the name change in between.
    struct stat st {};
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return Stream();
    // Without O_NONBLOCK, opening a FIFO would wait for a writer for ever.
    const int fd = ::open(path, (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Stream();
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return Stream();
    }
    return adopt(fd, writable ? "r+b" : "rb");
}

Stream Stream::temporary()
{
    const char* from_env = std::getenv("TMPDIR");
    const std::string folder = (from_env != nullptr && *from_env != '\0') ? from_env : "/tmp";
    int fd = ::open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // No anonymous files on this file system: a private named one whose
        // name goes at once.
        std::string name = folder + "/tdf-copy-XXXXXX";
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0 && (unlink(name.c_str()) != 0 || fchmod(fd, S_IRUSR | S_IWUSR) != 0)) {
            (void)unlink(name.c_str());
            ::close(fd);
            fd = -1;
        }
    }
    return adopt(fd, "w+b");
}

bool Stream::seek(std::int64_t offset)
{
    if (source_ && offset >= 0) {
        source_->position = offset;
        return true;
    }
    if (!file_ || offset < 0)
        return false;
    return fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool Stream::skip(std::int64_t delta)
{
    if (source_)
        return seek(source_->position + delta);
    if (!file_)
        return false;
    if (delta == 0)
        return true;
    return fseeko(file_.get(), static_cast<off_t>(delta), SEEK_CUR) == 0;
}

bool Stream::seek_end()
{
    if (source_)
        return seek(source_->length());
    return file_ && fseeko(file_.get(), 0, SEEK_END) == 0;
}

std::int64_t Stream::tell()
{
    if (source_)
        return source_->position;
    return file_ ? static_cast<std::int64_t>(ftello(file_.get())) : -1;
}

void Stream::rewind()
{
    if (source_)
        source_->position = 0;
    if (file_)
        std::rewind(file_.get());
}

std::size_t Stream::read(void* dst, std::size_t n)
{
    if (source_) {
        const std::size_t got = source_->read_at(source_->position, dst, n);
        source_->position += static_cast<std::int64_t>(got);
        return got;
    }
    if (!file_ || n == 0)
        return 0;
    return std::fread(dst, 1, n, file_.get());
}

std::size_t Stream::write(const void* src, std::size_t n)
{
    if (!file_ || n == 0)
        return 0;
    forget_head();
    return std::fwrite(src, 1, n, file_.get());
}

std::size_t Stream::read_head(std::int64_t offset, void* dst, std::size_t n)
{
    if (!*this || offset < 0 || n == 0)
        return 0;
    if (head_bytes_ == kNoHead)
        head_bytes_ = read_at(0, head_.data(), head_.size());
    const auto first = static_cast<std::uint64_t>(offset);
    if (first + n <= head_bytes_) {
        std::memcpy(dst, head_.data() + first, n);
        return n;
    }
    return read_at(offset, dst, n);
}

std::size_t Stream::read_at(std::int64_t offset, void* dst, std::size_t n)
{
    if (source_)
        return source_->read_at(offset, dst, n);
    if (!file_ || offset < 0 || n == 0)
        return 0;
    std::FILE* f = file_.get();
    if (__fpending(f) > 0 && std::fflush(f) != 0)
        return 0;
    const int fd = fileno(f);
    auto* out = static_cast<unsigned char*>(dst);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got =
            pread(fd, out + done, n - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

int Stream::get_byte()
{
    if (source_) {
        unsigned char b = 0;
        return read(&b, 1) == 1 ? b : -1;
    }
    if (!file_)
        return -1;
    int c = getc(file_.get());
    return c == EOF ? -1 : c;
}

bool Stream::put_byte(unsigned char b)
{
    forget_head();
    return file_ && putc(b, file_.get()) != EOF;
}

bool Stream::flush()
{
    // A callback source holds nothing unwritten.
    if (source_)
        return true;
    return file_ && std::fflush(file_.get()) == 0;
}

bool Stream::error() const noexcept
{
    if (source_)
        return source_->failed();
    return file_ && std::ferror(file_.get()) != 0;
}

bool Stream::sync()
{
    return file_ && std::fflush(file_.get()) == 0 && fsync(fileno(file_.get())) == 0;
}

bool Stream::truncate(std::int64_t length)
{
    if (!file_ || length < 0)
        return false;
    __fpurge(file_.get());
    forget_head();
    return ftruncate(fileno(file_.get()), static_cast<off_t>(length)) == 0;
}

bool Stream::identity(FileIdentity& out) const
{
    if (source_) {
        const std::int64_t size = source_->size_now();
        if (size < 0)
            return false;
        out = FileIdentity{};
        out.size = size;
        return true;
    }
    struct stat st {};
    if (!file_ || fstat(fileno(file_.get()), &st) != 0)
        return false;
    constexpr std::int64_t kNano = 1000000000;
    out.device = st.st_dev;
    out.inode = st.st_ino;
    out.size = st.st_size;
    out.modified_ns = std::int64_t{st.st_mtim.tv_sec} * kNano + st.st_mtim.tv_nsec;
    out.changed_ns = std::int64_t{st.st_ctim.tv_sec} * kNano + st.st_ctim.tv_nsec;
    out.links = st.st_nlink;
    return true;
}

int Stream::descriptor() const noexcept
{
    return file_ ? fileno(file_.get()) : -1;
}

bool Stream::close()
{
    if (source_) {
        source_.reset();
        return true;
    }
    if (!file_)
        return false;
    std::FILE* f = file_.release();
    return std::fclose(f) == 0;
}

} // namespace td
