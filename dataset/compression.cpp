// compression.cpp - expansion of a compressed visible or infrared dataset
// into its temporary copy, the working copies that writes change and their
// write-back into the dataset file (compressed again, or byte for byte),
// and the data-area initialisation of a dataset leaving define mode.
//
// The temporary copy keeps the whole 1024-byte header block: its rows start
// at max(W, 1024) (see storage.h), so datasets with narrow rows keep their
// header fields intact while expanded, and recompression writes the header
// block back exactly as it was read.
#include "compression.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "codec.h"
#include "file_identity.h"
#include "header_fields.h"
#include "side_file.h"
#include "storage.h"

namespace td {

namespace {

// Sequential byte reads through a local buffer: one stdio call per chunk
// rather than per byte.  Only for a stream nothing else moves meanwhile.
class ChunkReader {
public:
    explicit ChunkReader(Stream& stream) noexcept : stream_(stream) {}

    [[nodiscard]] int get_byte()
    {
        if (pos_ == end_) {
            end_ = stream_.read(buffer_.data(), buffer_.size());
            pos_ = 0;
            if (end_ == 0)
                return -1;
        }
        return buffer_[pos_++];
    }

private:
    Stream& stream_;
    std::array<unsigned char, 16384> buffer_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

// Sequential byte writes through a local buffer.
class ChunkWriter {
public:
    explicit ChunkWriter(Stream& stream) noexcept : stream_(stream) {}

    [[nodiscard]] bool put_byte(unsigned char b)
    {
        if (used_ == buffer_.size() && !flush())
            return false;
        buffer_[used_++] = b;
        return true;
    }

    [[nodiscard]] bool flush()
    {
        const std::size_t n = used_;
        used_ = 0;
        return n == 0 || stream_.write(buffer_.data(), n) == n;
    }

private:
    Stream& stream_;
    std::array<unsigned char, 16384> buffer_;
    std::size_t used_ = 0;
};

// Appends zero bytes until the stream, positioned at its end, is `length`
// bytes long.
[[nodiscard]] bool pad_to(Stream& stream, std::int64_t length)
{
    const std::int64_t at = stream.tell();
    if (at < 0)
        return false;
    for (std::int64_t i = at; i < length; ++i)
        if (!stream.put_byte(0))
            return false;
    return true;
}

} // namespace

int decompress(Dataset& ds)
{
    if (ds.rows < 0 || ds.columns < 0 || ds.pixel_size != 2)
        return TD_ECOMPFILE;
    Stream copy = Stream::temporary();
    if (!copy)
        return TD_ECOMPFILE;

    // The header block, then zero bytes up to the first row.
    std::array<unsigned char, kHeaderBlockBytes> header;
    if (!ds.current.seek(0) || ds.current.read(header.data(), header.size()) != header.size())
        return TD_EREADDATA;
    if (copy.write(header.data(), header.size()) != header.size())
        return TD_EWRITEDATA;
    BlockLayout layout = layout_of(ds);
    layout.origin = std::max(row_bytes(ds), kHeaderBlockBytes);
    if (!pad_to(copy, layout.origin))
        return TD_EWRITEDATA;

    // Rows are built here in their stored form (big-endian sample words)
    // and written whole; the rows follow each other from the origin on, so
    // the first pass writes them one after another without a seek.
    const auto columns = static_cast<std::size_t>(ds.columns);
    const auto width = static_cast<std::size_t>(row_bytes(ds));
    std::vector<unsigned char> stored(width);
    std::vector<std::uint8_t> nibbles(columns);
    ChunkReader source(ds.current);

    // Data section: the values of every row, with zero nibbles for now.
    codec::ValueDecoder values_in;
    for (std::int32_t r = 0; r < ds.rows; ++r) {
        for (std::size_t c = 0; c < columns; ++c) {
            int v = 0;
            if (const int status = decode_status(values_in.next(source, v)); status != TD_NOERR)
                return status;
            const unsigned word = value_word(v);
            stored[2 * c] = static_cast<unsigned char>(word >> 8);
            stored[2 * c + 1] = static_cast<unsigned char>(word & 0xFF);
        }
        if (copy.write(stored.data(), width) != width)
            return TD_EWRITEDATA;
    }
    if (!copy.flush())
        return TD_EWRITEDATA;

    // Graphics section: merge each row's nibbles into the low four bits of
    // its sample words.  A row without plane bits is already as the first
    // pass wrote it.
    codec::RunDecoder runs_in;
    for (std::int32_t r = 0; r < ds.rows; ++r) {
        if (const int status = decode_status(runs_in.fill_row(source, nibbles)); status != TD_NOERR)
            return status;
        if (std::all_of(nibbles.begin(), nibbles.end(), [](std::uint8_t g) { return (g & 0x0F) == 0; }))
            continue;
        const std::int64_t at = layout.origin + std::int64_t{r} * static_cast<std::int64_t>(width);
        if (copy.read_at(at, stored.data(), width) != width)
            return TD_EREADDATA;
        for (std::size_t c = 0; c < columns; ++c)
            stored[2 * c + 1] = static_cast<unsigned char>((stored[2 * c + 1] & 0xF0) | (nibbles[c] & 0x0F));
        if (!copy.seek(at) || copy.write(stored.data(), width) != width)
            return TD_EWRITEDATA;
    }
    if (!copy.flush())
        return TD_EWRITEDATA;

    (void)ds.current.close();
    ds.current = std::move(copy);
    ds.expanded = true;
    return TD_NOERR;
}

namespace {

// The file the dataset path names, following symbolic links, so that the
// new file replaces the link's target rather than the link; empty when the
// path names nothing any more.
std::string target_path(const std::string& path)
{
    struct FreeDeleter {
        void operator()(char* p) const noexcept { std::free(p); }
    };
    const std::unique_ptr<char, FreeDeleter> real(realpath(path.c_str(), nullptr));
    return real ? std::string(real.get()) : std::string();
}

// Writes the compressed form of the expanded copy: the header block exactly
// as the copy holds it, the data section, the graphics section.
int write_compressed(Dataset& ds, Stream& out)
{
    ChunkWriter sink(out);

    std::array<unsigned char, kHeaderBlockBytes> header;
    if (!ds.current.seek(0) || ds.current.read(header.data(), header.size()) != header.size())
        return TD_EREADDATA;
    for (const unsigned char b : header)
        if (!sink.put_byte(b))
            return TD_EWRITEDATA;

    const BlockLayout layout = layout_of(ds);
    const auto columns = static_cast<std::size_t>(ds.columns);
    std::vector<std::uint16_t> words(columns);
    std::vector<std::int16_t> values(columns);
    std::vector<std::uint8_t> nibbles(columns);
    const Index2 row_count{1, static_cast<std::uint32_t>(columns)};

    codec::ValueEncoder values_out;
    for (std::int32_t r = 0; r < ds.rows; ++r) {
        const Index2 at{static_cast<std::uint32_t>(r), 0};
        if (read_stored_block(ds.current, std::as_writable_bytes(std::span(words)), layout, at, row_count,
                              nullptr) != TD_NOERR)
            return TD_EREADDATA;
        unpack_words(values, {}, words);
        for (const std::int16_t v : values)
            if (!values_out.put(sink, v))
                return TD_EWRITEDATA;
    }
    for (std::int32_t r = 0; r < ds.rows; ++r) {
        const Index2 at{static_cast<std::uint32_t>(r), 0};
        if (read_stored_block(ds.current, std::as_writable_bytes(std::span(words)), layout, at, row_count,
                              nullptr) != TD_NOERR)
            return TD_EREADDATA;
        unpack_words({}, nibbles, words);
        if (!codec::encode_graphics_row(nibbles, sink))
            return TD_EWRITEDATA;
    }
    if (!sink.flush() || !out.flush())
        return TD_EWRITEDATA;
    return TD_NOERR;
}

// Whether the file `st` describes is not the file the dataset read, or was
// written since (another size or modification time).  A new name, another
// link come and gone, a new mode change the file's status-change time but
// not what it holds; the checks of the names and the mode are the
// write-back's own.
bool written_since(const struct stat& st, const FileIdentity& read) noexcept
{
    constexpr std::int64_t kNano = 1000000000;
    return std::uint64_t(st.st_dev) != read.device || std::uint64_t(st.st_ino) != read.inode ||
           std::int64_t{st.st_size} != read.size ||
           std::int64_t{st.st_mtim.tv_sec} * kNano + st.st_mtim.tv_nsec != read.modified_ns;
}

// Writes a plain dataset's copy as it is.
int write_plain(Dataset& ds, Stream& out)
{
    if (copy_stream(out, ds.current) != 0 || !out.flush())
        return TD_EWRITEDATA;
    return TD_NOERR;
}

// Copies the whole dataset file into a temporary copy that becomes the
// current stream; `expanded` says which layout the copy is taken to have.
int copy_aside(Dataset& ds, bool expanded)
{
    Stream copy = Stream::temporary();
    if (!copy || copy_stream(copy, ds.current) != 0 || !copy.flush())
        return TD_ECOMPFILE;
    (void)ds.current.close();
    ds.current = std::move(copy);
    (expanded ? ds.expanded : ds.copied) = true;
    ds.row_index.clear();
    return TD_NOERR;
}

bool compressed_form(Dataset& ds, int& status)
{
    status = ds.storage_status;
    return ds.storage == TD_STORAGE_COMPRESSED;
}

} // namespace

int init_data_area(Dataset& ds)
{
    if (ds.rows < 0 || ds.columns < 0)
        return TD_EWRITEDATA;
    // A compressed dataset that holds a stream is expanded, its image kept;
    // one that holds its header alone (a dataset being made) is copied as
    // it is.  A plain dataset is copied; the file itself is never written.
    if (!ds.expanded && !ds.copied) {
        int status = TD_NOERR;
        const bool compressed = compressed_form(ds, status);
        if (status != TD_NOERR)
            return status;
        std::int64_t length = -1;
        if (compressed && ds.current.seek_end())
            length = ds.current.tell();
        if (compressed && length >= 0 && length <= kHeaderBlockBytes)
            status = copy_aside(ds, true);
        else if (compressed)
            status = decompress(ds) == TD_NOERR ? TD_NOERR : TD_ECOMPFILE;
        else
            status = copy_aside(ds, false);
        if (status != TD_NOERR)
            return status;
    }
    // The data area is made whole with zero bytes: the header slot, then
    // rows x columns samples.  What the copy already holds stays.
    if (!ds.current.seek_end())
        return TD_EWRITEDATA;
    const std::int64_t length = ds.current.tell();
    const std::int64_t whole = data_origin(ds) + std::int64_t{ds.rows} * ds.columns * ds.pixel_size;
    if (length < 0)
        return TD_EWRITEDATA;
    if (length >= whole)
        return TD_NOERR;
    if (!pad_to(ds.current, whole) || !ds.current.flush()) {
        (void)ds.current.truncate(length);
        remember_identity(ds);
        return TD_EWRITEDATA;
    }
    ds.changed = true;
    remember_identity(ds);
    return TD_NOERR;
}

int decompress_id(int id)
{
    return with_dataset(id, decompress);
}

int make_working_copy(Dataset& ds)
{
    if (ds.expanded || ds.copied)
        return TD_NOERR;
    int status = TD_NOERR;
    const bool compressed = compressed_form(ds, status);
    if (status != TD_NOERR)
        return status;
    return compressed ? decompress(ds) : copy_aside(ds, false);
}

int write_back(Dataset& ds)
{
    if ((!ds.expanded && !ds.copied) || ds.rows < 0 || ds.columns < 0)
        return TD_ECOMPFILE;

    // The new file is written beside the dataset and renamed over it only
    // when complete.  A rename keeps the dataset what it was only while the
    // path still names the file that was opened and no other name reaches
    // that file (a second hard link would go on showing the old content);
    // the new file must also be able to take its owner, group, attributes
    // and mode.  Where any of this fails the close is refused and the file
    // left exactly as it was: it is never rewritten in place.
    // Nor while the file was written in place since it was read: the new
    // file holds what was read, and another writer's work would be lost.
    const std::string target = target_path(ds.path);
    struct stat original {};
    if (target.empty() || stat(target.c_str(), &original) != 0 || !S_ISREG(original.st_mode) ||
        original.st_nlink != 1 || written_since(original, ds.identity))
        return TD_EUNCOMPFILE;
    SideFile side;
    if (const int status = side.create(target, original); status != TD_NOERR)
        return status;
    if (const int status = ds.expanded ? write_compressed(ds, side.stream()) : write_plain(ds, side.stream());
        status != TD_NOERR)
        return status;
    const int status = side.replace(target, original);
    if (!side.placed())
        return status;

    // The new file is the dataset now, and the record's current stream.
    if (!side.stream().identity(ds.identity))
        ds.identity = FileIdentity{};
    const bool copy_closed = ds.current.close();
    ds.current = std::move(side.stream());
    ds.expanded = false;
    ds.copied = false;
    ds.changed = false;
    if (status != TD_NOERR)
        return status;
    return copy_closed ? TD_NOERR : TD_ECOMPFILE;
}

} // namespace td
