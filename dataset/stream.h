// stream.h - the library's one kind of byte stream: a buffered file stream
// owned by RAII.  Every header-field read, block read and write, expansion
// and compression goes through it, so buffering policy lives here alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace td {

class Stream {
public:
    Stream() = default;

    // Opens an existing file with a stdio mode ("rb", "r+b", "wb").
    // The result is closed (false) when the file cannot be opened.
    [[nodiscard]] static Stream open(const char* path, const char* mode);

    // An anonymous temporary file for binary reading and writing; the system
    // deletes it when it is closed or when the process ends.
    [[nodiscard]] static Stream temporary();

    explicit operator bool() const noexcept { return file_ != nullptr; }

    [[nodiscard]] bool seek(std::int64_t offset);          // from the start
    [[nodiscard]] bool skip(std::int64_t delta);           // from the current position
    [[nodiscard]] bool seek_end();
    [[nodiscard]] std::int64_t tell();
    void rewind();

    // Reads up to n bytes; returns how many were read.
    [[nodiscard]] std::size_t read(void* dst, std::size_t n);
    // Writes n bytes; returns how many were written.
    [[nodiscard]] std::size_t write(const void* src, std::size_t n);
    // One byte, or -1 at the end of the file or on an error.
    [[nodiscard]] int get_byte();
    [[nodiscard]] bool put_byte(unsigned char b);

    [[nodiscard]] bool flush();
    // Whether a read or write on the stream has failed (not the end of file).
    [[nodiscard]] bool error() const noexcept;
    // Flushes and asks the system to put the file's data on the disk.
    [[nodiscard]] bool sync();
    // Closes the stream and reports whether the close (with its final
    // flush) succeeded.  A closed stream stays closed.
    bool close();

private:
    struct Closer {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    explicit Stream(std::FILE* f) : file_(f) {}
    std::unique_ptr<std::FILE, Closer> file_;
};

} // namespace td
