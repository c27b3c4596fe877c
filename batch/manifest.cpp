// manifest.cpp - reading, merging and writing the manifest.
#include "manifest.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "atomic_file.h"
#include "failure_line.h"

namespace tdb {

namespace {

constexpr std::string_view kFirstLine = "tdfbatch-manifest 1";

// Reverses tdf::escape_line.  False for a malformed escape.
bool unescape(std::string_view text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size())
            return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'x': {
            unsigned value = 0;
            if (i + 2 >= text.size())
                return false;
            const auto r = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
            if (r.ec != std::errc() || r.ptr != text.data() + i + 3)
                return false;
            out += static_cast<char>(value);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

template <typename T>
bool number(std::string_view text, T& value, int base = 10)
{
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool decimal(std::string_view text, double& value)
{
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

std::vector<std::string_view> split(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

bool parse_record(std::string_view line, Record& r)
{
    const auto f = split(line);
    if (f.size() < 5 || !unescape(f[0], r.path) || r.path.empty() || !number(f[2], r.size) ||
        !number(f[3], r.mtime_ns) || !number(f[4], r.inode))
        return false;
    if (f[1] == "o") {
        r.dataset = false;
        return f.size() == 5;
    }
    if (f[1] != "d" || f.size() != 20)
        return false;
    std::int64_t time = 0;
    const bool timed = f[16] != "-";
    if (!number(f[5], r.config, 16) || (f[6] != "ok" && f[6] != "failed") || !number(f[7], r.exit_status) ||
        !number(f[8], r.signal) || !unescape(f[9], r.message) || !decimal(f[10], r.seconds) ||
        !number(f[11], r.gif_bytes) || !number(f[12], r.gif_mtime_ns) || (f[13] != "0" && f[13] != "1") ||
        !unescape(f[14], r.summary.satellite) || !unescape(f[15], r.summary.kind) ||
        (timed && !number(f[16], time)) || !number(f[17], r.summary.rows) ||
        !number(f[18], r.summary.columns) || !unescape(f[19], r.summary.storage))
        return false;
    r.ok = f[6] == "ok";
    r.thumbnail = f[13] == "1";
    if (timed)
        r.summary.time = time;
    return true;
}

void append_record(std::string& out, const Record& r)
{
    out += tdf::escape_line(r.path);
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "\t%s\t%llu\t%lld\t%llu", r.dataset ? "d" : "o",
                  static_cast<unsigned long long>(r.size), static_cast<long long>(r.mtime_ns),
                  static_cast<unsigned long long>(r.inode));
    out += buffer;
    if (!r.dataset) {
        out += '\n';
        return;
    }
    std::snprintf(buffer, sizeof buffer, "\t%016llx\t%s\t%d\t%d\t", static_cast<unsigned long long>(r.config),
                  r.ok ? "ok" : "failed", r.exit_status, r.signal);
    out += buffer;
    out += tdf::escape_line(r.message);
    std::snprintf(buffer, sizeof buffer, "\t%.3f\t%lld\t%lld\t%d\t", r.seconds,
                  static_cast<long long>(r.gif_bytes), static_cast<long long>(r.gif_mtime_ns),
                  r.thumbnail ? 1 : 0);
    out += buffer;
    out += tdf::escape_line(r.summary.satellite);
    out += '\t';
    out += tdf::escape_line(r.summary.kind);
    out += '\t';
    out += r.summary.time ? std::to_string(*r.summary.time) : "-";
    out += '\t' + std::to_string(r.summary.rows) + '\t' + std::to_string(r.summary.columns) + '\t';
    out += tdf::escape_line(r.summary.storage);
    out += '\n';
}

// An exclusive lock held while the object lives.
class FileLock {
public:
    explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666))
    {
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                return;
            }
        }
    }
    ~FileLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    int error() const { return error_; }

private:
    int fd_;
    int error_ = 0;
};

} // namespace

int read_manifest(const std::string& path, Records& records)
{
    records.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return errno == ENOENT ? 0 : errno;
    std::string line;
    if (!std::getline(in, line) || line != kFirstLine)
        return 0; // another format: everything is looked at afresh
    while (std::getline(in, line)) {
        Record r;
        if (parse_record(line, r))
            records[r.path] = std::move(r);
    }
    return in.bad() ? EIO : 0;
}

std::string format_manifest(const Records& records)
{
    std::string out(kFirstLine);
    out += '\n';
    for (const auto& [path, record] : records)
        append_record(out, record);
    return out;
}

int update_manifest(const std::string& path, const std::string& lock_path, const Records& mine,
                    const Shard& shard, Records& merged, const std::function<void(const Records&)>& then)
{
    const FileLock lock(lock_path);
    if (lock.error() != 0)
        return lock.error();
    if (const int error = read_manifest(path, merged); error != 0)
        return error;
    for (auto it = merged.begin(); it != merged.end();)
        it = shard.holds(it->first) ? merged.erase(it) : std::next(it);
    for (const auto& [key, record] : mine)
        merged[key] = record;
    if (const int error = write_file_atomically(path, format_manifest(merged), true); error != 0)
        return error;
    if (then)
        then(merged);
    return 0;
}

int with_manifest(const std::string& path, const std::string& lock_path,
                  const std::function<void(const Records&)>& then)
{
    const FileLock lock(lock_path);
    if (lock.error() != 0)
        return lock.error();
    Records records;
    if (const int error = read_manifest(path, records); error != 0)
        return error;
    then(records);
    return 0;
}

} // namespace tdb
