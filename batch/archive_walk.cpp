// archive_walk.cpp - the recursive listing of the source folder.
#include "archive_walk.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tdb {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool ends_with_tdf(std::string_view name)
{
    if (name.size() < 4)
        return false;
    const std::string_view tail = name.substr(name.size() - 4);
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return tail[0] == '.' && lower(tail[1]) == 't' && lower(tail[2]) == 'd' && lower(tail[3]) == 'f';
}

struct Entry {
    std::string name;
    unsigned char type;
};

class Walker {
public:
    Walker(const Shard& shard, std::vector<WalkProblem>& problems) : shard_(shard), problems_(problems) {}

    void skip(const struct stat& st)
    {
        skip_device_ = st.st_dev;
        skip_inode_ = st.st_ino;
        skipping_ = true;
    }

    // Lists folder `fd` (taken over), whose path below the source is `prefix`.
    void walk(int fd, const std::string& prefix)
    {
        DirHandle dir(::fdopendir(fd));
        if (!dir) {
            problems_.push_back({prefix.empty() ? "." : prefix, errno});
            ::close(fd);
            return;
        }
        std::vector<Entry> entries;
        errno = 0;
        while (const dirent* e = ::readdir(dir.get())) {
            if (e->d_name[0] == '.')
                continue;
            entries.push_back({e->d_name, e->d_type});
        }
        if (errno != 0)
            problems_.push_back({prefix.empty() ? "." : prefix, errno});
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.name < b.name; });
        const int dfd = ::dirfd(dir.get());
        for (Entry& e : entries) {
            struct stat st {};
            if (e.type == DT_UNKNOWN && ::fstatat(dfd, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                e.type = S_ISDIR(st.st_mode)   ? DT_DIR
                         : S_ISLNK(st.st_mode) ? DT_LNK
                         : S_ISREG(st.st_mode) ? DT_REG
                                               : DT_UNKNOWN;
        }

        // Quicklook names claimed twice in this folder: a name ending in
        // ".tdf" wins over others, then the first in byte order.
        std::map<std::string, const Entry*> owner;
        for (const Entry& e : entries) {
            if (e.type == DT_DIR)
                continue;
            const std::string out = quicklook_name(e.name);
            auto [it, fresh] = owner.try_emplace(out, &e);
            if (!fresh && !ends_with_tdf(it->second->name) && ends_with_tdf(e.name))
                it->second = &e;
        }

        for (const Entry& e : entries) {
            const std::string path = prefix.empty() ? e.name : prefix + "/" + e.name;
            const unsigned char type = e.type;
            struct stat st {};
            if (type == DT_DIR) {
                const int sub =
                    ::openat(dfd, e.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub < 0) {
                    problems_.push_back({path, errno});
                    continue;
                }
                struct stat here {};
                if (skipping_ && ::fstat(sub, &here) == 0 && here.st_dev == skip_device_ &&
                    here.st_ino == skip_inode_) {
                    ::close(sub);
                    continue;
                }
                walk(sub, path);
                continue;
            }
            if ((type != DT_REG && type != DT_LNK) || !shard_.holds(path))
                continue;
            // Symbolic links are followed to the file; links to folders are not walked.
            if (::fstatat(dfd, e.name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode))
                continue;
            SourceFile file;
            file.path = path;
            const std::string out = quicklook_name(e.name);
            file.output = prefix.empty() ? out : prefix + "/" + out;
            if (const Entry* first = owner[out]; first != &e)
                file.output_taken_by = prefix.empty() ? first->name : prefix + "/" + first->name;
            file.size = static_cast<std::uint64_t>(st.st_size);
            file.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            file.device = st.st_dev;
            file.inode = st.st_ino;
            files_.push_back(std::move(file));
        }
    }

    std::vector<SourceFile> take() { return std::move(files_); }

private:
    const Shard& shard_;
    std::vector<WalkProblem>& problems_;
    std::vector<SourceFile> files_;
    bool skipping_ = false;
    dev_t skip_device_ = 0;
    ino_t skip_inode_ = 0;
};

} // namespace

std::uint64_t fnv1a64(std::string_view bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

bool Shard::holds(std::string_view relative_path) const
{
    return count <= 1 || fnv1a64(relative_path) % count == index;
}

std::string quicklook_name(std::string_view relative_path)
{
    if (ends_with_tdf(relative_path))
        return std::string(relative_path.substr(0, relative_path.size() - 4)) + ".gif";
    return std::string(relative_path) + ".gif";
}

std::vector<SourceFile> walk_source(const std::string& source, const Shard& shard, const std::string& skip,
                                    std::vector<WalkProblem>& problems)
{
    Walker walker(shard, problems);
    struct stat st {};
    if (!skip.empty() && ::stat(skip.c_str(), &st) == 0)
        walker.skip(st);
    const int fd = ::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        problems.push_back({".", errno});
        return {};
    }
    walker.walk(fd, "");
    return walker.take();
}

} // namespace tdb
