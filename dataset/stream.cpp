// stream.cpp - buffered file streams over the C library's FILE.
#include "stream.h"

#include <cerrno>

#include <unistd.h>

namespace td {

Stream Stream::open(const char* path, const char* mode)
{
    return Stream(std::fopen(path, mode));
}

Stream Stream::temporary()
{
    return Stream(std::tmpfile());
}

bool Stream::seek(std::int64_t offset)
{
    if (!file_ || offset < 0)
        return false;
    return fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool Stream::skip(std::int64_t delta)
{
    if (!file_)
        return false;
    if (delta == 0)
        return true;
    return fseeko(file_.get(), static_cast<off_t>(delta), SEEK_CUR) == 0;
}

bool Stream::seek_end()
{
    return file_ && fseeko(file_.get(), 0, SEEK_END) == 0;
}

std::int64_t Stream::tell()
{
    return file_ ? static_cast<std::int64_t>(ftello(file_.get())) : -1;
}

void Stream::rewind()
{
    if (file_)
        std::rewind(file_.get());
}

std::size_t Stream::read(void* dst, std::size_t n)
{
    if (!file_ || n == 0)
        return 0;
    return std::fread(dst, 1, n, file_.get());
}

std::size_t Stream::write(const void* src, std::size_t n)
{
    if (!file_ || n == 0)
        return 0;
    return std::fwrite(src, 1, n, file_.get());
}

int Stream::get_byte()
{
    if (!file_)
        return -1;
    int c = getc(file_.get());
    return c == EOF ? -1 : c;
}

bool Stream::put_byte(unsigned char b)
{
    return file_ && putc(b, file_.get()) != EOF;
}

bool Stream::flush()
{
    return file_ && std::fflush(file_.get()) == 0;
}

bool Stream::error() const noexcept
{
    return file_ && std::ferror(file_.get()) != 0;
}

bool Stream::sync()
{
    return file_ && std::fflush(file_.get()) == 0 && fsync(fileno(file_.get())) == 0;
}

bool Stream::close()
{
    if (!file_)
        return false;
    std::FILE* f = file_.release();
    return std::fclose(f) == 0;
}

} // namespace td
