// stream.h - the library's one kind of byte stream, owned by RAII.  Every
// header-field read, block read and write, expansion and compression goes
// through it, so buffering policy lives here alone.
//
// A stream has a source: a buffered file of the C library, or a caller's
// read-only callbacks (td_open_callbacks).  A callback source answers the
// reads (read, read_at, read_head, get_byte, with a position of its own for
// the sequential ones); anything that would write, flush pending bytes to
// disk or name a file descriptor fails on it.
//
// Buffering: each stream has its own 64 KiB buffer.  Small reads (header
// fields, codes) go through it; whole rows are read with read_at, straight
// from the file into the caller's memory, so they never take the buffer's
// place and the header fields that every block read asks for stay in it
// (a field is still read from the stream each time: outside the buffered
// bytes, for instance past what the file held when they were read, the
// file is read again).
//
// Header fields are read with read_head, from a copy of the file's first
// 1024 bytes that the stream keeps once it has read them and drops as soon
// as anything is written through it: a block read asks for several fields,
// and a seek of the C library's stream costs a system call even when the
// bytes are in its buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "header_block.h"
#include "tidewell.h"

namespace td {

// Caller-supplied read-only I/O: a positioned read, the size of the data
// and a close, called when the source goes.  The size asked when the source
// is made bounds every read; asked again, it tells whether the data is
// still what was opened (Stream::identity).
class CallbackSource {
public:
    CallbackSource(void* user, td_read_func read, td_size_func size, std::int64_t length) noexcept
        : user_(user), read_(read), size_(size), length_(length)
    {
    }
    ~CallbackSource();
    CallbackSource(const CallbackSource&) = delete;
    CallbackSource& operator=(const CallbackSource&) = delete;

    // From now on the source calls `close` with the user pointer when it
    // goes; until then it calls nothing when it goes (a failed open leaves
    // the user's data to the user).
    void close_with(td_close_func close) noexcept { close_ = close; }

    // Reads up to n bytes at a byte offset, never past the size, calling the
    // read function again after a partial read; returns how many were read.
    // A read function that fails, or claims more bytes than it was asked
    // for, ends the read and marks the source failed.
    [[nodiscard]] std::size_t read_at(std::int64_t offset, void* dst, std::size_t n);

    [[nodiscard]] std::int64_t length() const noexcept { return length_; }
    // The size the size function reports now, or -1.
    [[nodiscard]] std::int64_t size_now() const { return size_(user_); }
    [[nodiscard]] bool failed() const noexcept { return failed_; }

    std::int64_t position = 0; // of the sequential reads

private:
    void* user_;
    td_read_func read_;
    td_size_func size_;
    td_close_func close_ = nullptr;
    std::int64_t length_;
    bool failed_ = false;
};

// What a file is: enough to tell whether it is still the file a dataset
// opened, and unchanged.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified_ns = 0; // modification time, ns since 1970
    std::int64_t changed_ns = 0;  // status-change time, ns since 1970
    std::uint64_t links = 0;      // names of the file
    bool operator==(const FileIdentity&) const = default;

    // Whether the file's contents may differ from what they were when
    // `then` was taken.  A file written in place keeps its device and inode
    // but changes its size or modification time, or, when the writer sets
    // the modification time back (`cp -p`, `rsync --inplace -t`), its
    // status-change time.  A file replaced by a rename, or removed, only
    // loses a name: that changes its status-change time too, but not its
    // contents, which the open dataset goes on reading whole.
    [[nodiscard]] bool contents_changed_since(const FileIdentity& then) const noexcept
    {
        return device != then.device || inode != then.inode || size != then.size ||
               modified_ns != then.modified_ns || (changed_ns != then.changed_ns && links == then.links);
    }
};

class Stream {
public:
    Stream() = default;

    // Opens an existing file with a stdio mode ("rb", "r+b", "wb").
    // The result is closed (false) when the file cannot be opened.
    [[nodiscard]] static Stream open(const char* path, const char* mode);

    // Opens an existing regular file (a symbolic link to one is followed)
    // for reading, or for reading and writing; never creates or truncates
    // it.  Anything else (a FIFO, a socket, a directory, a device) is
    // refused without waiting for a writer or touching the device: the
    // result is closed.
    [[nodiscard]] static Stream open_regular(const char* path, bool writable);

    // An anonymous temporary file for binary reading and writing, readable
    // by this user alone (0600), in the folder named by TMPDIR or else /tmp.
    // It has no name from the start where the file system allows
    // (O_TMPFILE), else its name is removed at once, so the system deletes
    // it when it is closed or when the process ends, however it ends.  The
    // result is closed when no such file can be made there.
    [[nodiscard]] static Stream temporary();

    // Takes over an open file descriptor with a stdio mode; the descriptor
    // is closed when that fails (the result is then closed).
    [[nodiscard]] static Stream adopt(int fd, const char* mode);

    // A read-only stream on a caller's callbacks.
    [[nodiscard]] static Stream from_callbacks(std::unique_ptr<CallbackSource> source);
    // The callback source, or nullptr for a file stream.
    [[nodiscard]] CallbackSource* callbacks() const noexcept { return source_.get(); }

    Stream(Stream&& other) noexcept = default;
    // The old file is closed before the buffer it uses is released.
    Stream& operator=(Stream&& other) noexcept
    {
        if (this != &other) {
            file_ = std::move(other.file_);
            buffer_ = std::move(other.buffer_);
            head_ = other.head_;
            source_ = std::move(other.source_);
            head_bytes_ = other.head_bytes_;
            other.head_bytes_ = kNoHead;
        }
        return *this;
    }

    explicit operator bool() const noexcept { return file_ != nullptr || source_ != nullptr; }

    [[nodiscard]] bool seek(std::int64_t offset); // from the start
    [[nodiscard]] bool skip(std::int64_t delta);  // from the current position
    [[nodiscard]] bool seek_end();
    [[nodiscard]] std::int64_t tell();
    void rewind();

    // Reads up to n bytes; returns how many were read.
    [[nodiscard]] std::size_t read(void* dst, std::size_t n);
    // Reads up to n bytes at a byte offset, leaving the stream's position
    // and buffered bytes alone (bytes written and not yet flushed are
    // flushed first); returns how many were read.
    [[nodiscard]] std::size_t read_at(std::int64_t offset, void* dst, std::size_t n);
    // Reads n bytes at a byte offset within the file's first 1024 bytes
    // (the header block) through the stream's copy of them, read once; other
    // bytes, or bytes beyond what the file held then, are read from the file
    // as read_at does.  Returns how many were read.
    [[nodiscard]] std::size_t read_head(std::int64_t offset, void* dst, std::size_t n);
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
    // Drops the bytes not yet written, then cuts the file to `length` bytes.
    [[nodiscard]] bool truncate(std::int64_t length);
    // The identity of the open file as the system describes it now; false
    // when it cannot be had (a closed stream).  A callback source has no
    // device, inode or times: its identity is the size its size function
    // reports now (false when that is -1).
    [[nodiscard]] bool identity(FileIdentity& out) const;
    // The file descriptor under the stream, or -1 when it is closed.
    [[nodiscard]] int descriptor() const noexcept;
    // Closes the stream and reports whether the close (with its final
    // flush) succeeded.  A closed stream stays closed.
    bool close();

private:
    struct Closer {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    static constexpr std::size_t kBufferBytes = 64 * 1024;
    static constexpr std::size_t kNoHead = static_cast<std::size_t>(-1);
    // Anything written makes the copy of the first bytes stale.
    void forget_head() noexcept { head_bytes_ = kNoHead; }
    // Takes over an open file (or none) and gives it its buffer.
    explicit Stream(std::FILE* f);
    // Declared before the file, so that it outlives the file's close.
    std::unique_ptr<char[]> buffer_;
    std::unique_ptr<std::FILE, Closer> file_;
    // A caller's callbacks instead of a file.
    std::unique_ptr<CallbackSource> source_;
    // The file's first bytes as last read, and how many there were
    // (kNoHead: not read since the last write).
    std::array<unsigned char, kHeaderBlockBytes> head_{};
    std::size_t head_bytes_ = kNoHead;
};

} // namespace td
