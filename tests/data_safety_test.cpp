// data_safety_test.cpp - no dataset is ever lost or changed by accident:
// a close that writes back killed at any moment, full file systems, no free
// inode, hard links, folders the writer cannot change, writers who are not
// the owner, conversions beside a writer, -o naming the dataset, inputs
// that are not regular files, private side files and temporary copies,
// failure lines that stay one line; the converter's output file replaced
// whole or not at all (failed runs, full file systems, modes, links,
// folders that cannot take a new file).
//
// TDF_FAULT_TRIALS=N repeats every repeated case N times (default 4);
// scripts/fault_trials.sh runs them 100 times and prints the counts.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dataset_writer.h"
#include "failure_line.h"
#include "library_fixture.h"
#include "output_file.h"
#include "run_command.h"
#include "side_file.h"
#include "stream.h"
#include "sync_log.h"
#include "tidewell.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

int trials()
{
    const char* n = std::getenv("TDF_FAULT_TRIALS");
    return n ? std::max(1, std::atoi(n)) : 4;
}

// A compressed infrared scene large enough that writing it back takes a
// while; `shift` moves every value, so two shifts give two contents.  Every
// value is a temperature, so that the scene can be written through
// td_varput_float.
tdw::DatasetDescription scene(int shift)
{
    tdw::DatasetDescription d;
    d.data_id = tdw::kInfrared;
    d.rows = 300;
    d.columns = 1000;
    d.compressed = true;
    d.value = [shift](int r, int c) { return (r * 7 + c * 3 + shift) % 1200 + 1; };
    d.nibble = [shift](int r, int c) { return (r / 8 + c / 100 + shift) % 16; };
    return d;
}

// The values and planes of a whole scene, as td_varget_* give them.
struct Image {
    std::vector<float> values;
    Bytes planes;
};

Image image_of(const tdw::DatasetDescription& d)
{
    const tdtest::TempDir scratch;
    const std::string path = scratch.file("scene.tdf");
    tdw::write_dataset(path, d);
    const std::size_t n = std::size_t(d.rows) * std::size_t(d.columns);
    Image im{std::vector<float>(n), Bytes(n)};
    int id = -1;
    const std::uint32_t start[2]{0, 0}, count[2]{std::uint32_t(d.rows), std::uint32_t(d.columns)};
    EXPECT_EQ(td_open(path.c_str(), TD_READONLY, &id), TD_NOERR);
    EXPECT_EQ(td_varget_float(id, 0, start, count, im.values.data()), TD_NOERR);
    EXPECT_EQ(td_varget_byte(id, 1, start, count, im.planes.data()), TD_NOERR);
    EXPECT_EQ(td_close(id), TD_NOERR);
    return im;
}

std::string text_of(const Bytes& b)
{
    return {b.begin(), b.end()};
}

// Writes a whole scene into an open dataset through the public calls.
int write_all(int id, const Image& im)
{
    int rows = 0, columns = 0;
    if (const int s = td_diminq(id, 0, nullptr, &rows); s != TD_NOERR)
        return s;
    if (const int s = td_diminq(id, 1, nullptr, &columns); s != TD_NOERR)
        return s;
    const std::uint32_t start[2]{0, 0}, count[2]{std::uint32_t(rows), std::uint32_t(columns)};
    if (const int s = td_varput_float(id, 0, start, count, im.values.data()); s != TD_NOERR)
        return s;
    return td_varput_byte(id, 1, start, count, im.planes.data());
}

std::vector<std::string> entries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct stat status_of(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
}

// Another local user this process can become, when it runs as root.
struct OtherUser {
    uid_t uid;
    gid_t gid;
};
std::optional<OtherUser> other_user()
{
    const passwd* p = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    if (p == nullptr)
        return std::nullopt;
    return OtherUser{p->pw_uid, p->pw_gid};
}
bool become(const OtherUser& u)
{
    return setgroups(0, nullptr) == 0 && setgid(u.gid) == 0 && setuid(u.uid) == 0;
}

// Runs `body` in a child process; what it returns (empty: passed, else
// what failed, or "skip: why") comes back through a pipe.
std::string in_child(const std::function<std::string()>& body)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string result = body();
        (void)!write(fds[1], result.data(), result.size());
        _exit(0);
    }
    close(fds[1]);
    std::string result;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status))
        return "child ended by signal " + std::to_string(WTERMSIG(status));
    return result;
}

class Safety : public tdtest::LibraryTest {
protected:
    const tdw::DatasetDescription old_scene = scene(0);
    const tdw::DatasetDescription new_scene = scene(5);
    const std::string old_bytes = text_of(tdw::build_dataset(old_scene));
    const std::string new_bytes = text_of(tdw::build_dataset(new_scene));
    const Image new_image = image_of(new_scene);
};

// ------------------------------------------------ a close killed at any time

// What stands in the way of replacing the dataset.
enum class Obstacle { none, hard_link, folder_not_writable, writer_not_owner };

TEST_F(Safety, CloseKilledAtAnyMomentLeavesTheDatasetWhole)
{
    const struct {
        const char* what;
        Obstacle obstacle;
    } cases[] = {
        {"own file", Obstacle::none},
        {"second hard link", Obstacle::hard_link},
        {"folder not writable", Obstacle::folder_not_writable},
        {"writer not the owner", Obstacle::writer_not_owner},
    };
    const auto user = other_user();
    if (user) {
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0); // the other user passes through
    }
    std::mt19937 rng(12345);
    std::vector<std::string> skipped;
    int folder_number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.obstacle == Obstacle::writer_not_owner && !user) {
            skipped.push_back(c.what);
            continue;
        }
        const bool refused = c.obstacle != Obstacle::none;
        const bool as_other =
            user && (c.obstacle == Obstacle::folder_not_writable || c.obstacle == Obstacle::writer_not_owner);
        int intact = 0, unchanged = 0, renewed = 0, killed_before = 0, killed_closing = 0, left = 0;
        double close_seconds = 0, run_seconds = 0;
        for (int trial = 0; trial < trials(); ++trial) {
            const std::string folder = dir.file("t" + std::to_string(folder_number++));
            const std::string path = folder + "/d.tdf";
            ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
            tdw::write_bytes(path, Bytes(old_bytes.begin(), old_bytes.end()));
            switch (c.obstacle) {
            case Obstacle::none:
                break;
            case Obstacle::hard_link:
                ASSERT_EQ(link(path.c_str(), (folder + "/second.tdf").c_str()), 0);
                break;
            case Obstacle::folder_not_writable:
                if (as_other) {
                    ASSERT_EQ(chown(path.c_str(), user->uid, user->gid), 0);
                }
                ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
                break;
            case Obstacle::writer_not_owner:
                ASSERT_EQ(chmod(path.c_str(), 0666), 0);
                ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
                break;
            }

            // The child tells when it starts to close.  The first trial runs
            // to its end and times the whole run and the close; later ones
            // are killed at a random moment, odd ones within the close,
            // even ones anywhere in the run (open, expansion, write, close).
            int ready[2];
            ASSERT_EQ(pipe(ready), 0);
            std::fflush(nullptr);
            const auto forked = Clock::now();
            const pid_t pid = fork();
            if (pid == 0) {
                close(ready[0]);
                if (as_other && (setenv("TMPDIR", "/tmp", 1) != 0 || !become(*user)))
                    _exit(120);
                int id = -1;
                if (td_open(path.c_str(), TD_WRITE, &id) != TD_NOERR)
                    _exit(121);
                if (write_all(id, new_image) != TD_NOERR)
                    _exit(122);
                (void)!::write(ready[1], "c", 1);
                _exit(td_close(id));
            }
            close(ready[1]);
            char signal_byte = 0;
            auto closing_at = forked;
            if (trial == 0 || trial % 2 == 1) {
                (void)!read(ready[0], &signal_byte, 1);
                closing_at = Clock::now();
            }
            if (trial > 0) {
                const double window = trial % 2 == 1 ? close_seconds : run_seconds;
                std::uniform_real_distribution<double> moment(0, window * 1.1);
                std::this_thread::sleep_until(closing_at + std::chrono::duration<double>(moment(rng)));
                kill(pid, SIGKILL);
            }
            int wstatus = 0;
            ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
            if (trial == 0) {
                close_seconds = std::chrono::duration<double>(Clock::now() - closing_at).count();
                run_seconds = std::chrono::duration<double>(Clock::now() - forked).count();
            }
            const bool closing = signal_byte == 'c' || read(ready[0], &signal_byte, 1) == 1;
            close(ready[0]);
            ASSERT_TRUE(closing || WIFSIGNALED(wstatus)) << "the child failed: " << WEXITSTATUS(wstatus);
            (void)chmod(folder.c_str(), 0755);

            const std::string now = tdtest::read_file(path);
            const bool is_old = now == old_bytes, is_new = now == new_bytes;
            intact += is_old || (is_new && !refused);
            unchanged += is_old;
            renewed += is_new;
            if (WIFSIGNALED(wstatus)) {
                ++(closing ? killed_closing : killed_before);
            } else {
                EXPECT_EQ(WEXITSTATUS(wstatus), refused ? TD_EUNCOMPFILE : TD_NOERR);
                EXPECT_TRUE(refused ? is_old : is_new);
            }
            if (c.obstacle == Obstacle::hard_link) {
                EXPECT_EQ(tdtest::read_file(folder + "/second.tdf"), old_bytes);
            }
            // A side file is anonymous until complete; a kill in the moment
            // between its naming and the rename can leave it, complete.
            for (const std::string& name : entries(folder)) {
                if (name == "d.tdf" || name == "second.tdf")
                    continue;
                ++left;
                EXPECT_TRUE(name.starts_with(".tdf-")) << name;
                EXPECT_EQ(tdtest::read_file(folder + "/" + name), new_bytes) << name;
            }
        }
        EXPECT_EQ(intact, trials());
        if (refused) {
            EXPECT_EQ(left, 0);
        }
        std::cout << "[ trials ] " << c.what << ": " << trials() << " trials, " << killed_before
                  << " killed before the close, " << killed_closing << " while closing, " << intact
                  << " datasets intact (" << unchanged << " as before, " << renewed
                  << " with the complete new content), " << left << " side files left\n";
    }
    if (!skipped.empty())
        GTEST_SKIP() << "needs root to act as a second user: " << skipped.front();
}

// ------------------------------------------- full file systems, no inodes

// Mounts a small private tmpfs on `folder` in a mount namespace of this
// (child) process alone.
bool mount_scratch(const std::string& folder, const char* options)
{
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tdftest", folder.c_str(), "tmpfs", 0, options) == 0;
}

// Fills the file system of `folder` with files `fill-N` until a write or a
// new file fails; returns how many files it made.
int fill(const std::string& folder, bool with_files)
{
    int n = 0;
    for (;; ++n) {
        const std::string name = folder + "/fill-" + std::to_string(n);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0)
            return n;
        if (!with_files) {
            std::vector<char> chunk(4096, 'x');
            while (write(fd, chunk.data(), chunk.size()) > 0) {
            }
            close(fd);
            return n + 1;
        }
        close(fd);
    }
}

TEST_F(Safety, FullFileSystemsLeaveTheDatasetWhole)
{
    enum class Full { space, inodes, temporary_copy, block_write };
    const struct {
        const char* what;
        Full full;
        const char* tmpfs;
        int status; // of the close, or of the write that expands
    } cases[] = {
        {"no space for the new file", Full::space, "size=2m", TD_EWRITEDATA},
        {"no free inode", Full::inodes, "size=4m,nr_inodes=16", TD_EUNCOMPFILE},
        {"no space for the temporary copy", Full::temporary_copy, "size=64k", TD_EWRITEDATA},
        {"a block write cut short in the copy", Full::block_write, "size=4m", TD_EWRITEDATA},
    };
    std::vector<std::string> skipped;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string scratch = dir.file(std::string("fs-") + std::to_string(int(c.full)));
        ASSERT_EQ(mkdir(scratch.c_str(), 0700), 0);
        const std::string path = (c.full == Full::temporary_copy ? dir.path() : scratch) + "/d.tdf";
        const std::string result = in_child([&]() -> std::string {
            // Without a private tmpfs (not root), a limit on the size of
            // files fails the same writes; no inode can be taken away so.
            const bool mounted = mount_scratch(scratch, c.tmpfs);
            if (!mounted && c.full == Full::inodes)
                return "skip: no private mount namespace for a tmpfs";
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit small{65536, RLIM_INFINITY}, unlimited{RLIM_INFINITY, RLIM_INFINITY};
            tdw::write_bytes(path, Bytes(old_bytes.begin(), old_bytes.end()));
            int id = -1;
            if (c.full == Full::temporary_copy) {
                if (setenv("TMPDIR", scratch.c_str(), 1) != 0 ||
                    (mounted ? fill(scratch, false) < 1 : setrlimit(RLIMIT_FSIZE, &small) != 0))
                    return "cannot fill the temporary folder";
                // Reading needs no temporary copy; the library's own write,
                // which expands the dataset, fails for want of room.
                if (td_open(path.c_str(), TD_WRITE, &id) != TD_NOERR)
                    return "open failed";
                std::vector<float> row(1000);
                const std::uint32_t start[2]{0, 0}, count[2]{1, 1000};
                if (const int s = td_varget_float(id, 0, start, count, row.data()); s != TD_NOERR)
                    return "the read gave " + std::to_string(s);
                if (const int s = write_all(id, new_image); s != c.status)
                    return "the expanding write gave " + std::to_string(s);
                if (td_close(id) != TD_NOERR || tdtest::read_file(path) != old_bytes)
                    return "dataset changed";
                return "";
            }
            if (td_open(path.c_str(), TD_WRITE, &id) != TD_NOERR || write_all(id, new_image) != TD_NOERR)
                return "open or write failed";
            if (c.full == Full::block_write) {
                // Rows 20 to 49 of the copy lie across the limit: the write
                // fails part-way and takes back what it wrote.
                const std::vector<float> other(30 * 1000, 20.0f);
                const std::uint32_t start[2]{20, 0}, count[2]{30, 1000};
                if (setrlimit(RLIMIT_FSIZE, &small) != 0)
                    return "cannot limit the file size";
                if (const int s = td_varput_float(id, 0, start, count, other.data()); s != c.status)
                    return "the write gave " + std::to_string(s);
                (void)setrlimit(RLIMIT_FSIZE, &unlimited);
                if (td_close(id) != TD_NOERR)
                    return "the close failed";
                return tdtest::read_file(path) == new_bytes ? "" : "the failed write changed the dataset";
            }
            const std::vector<std::string> before = entries(scratch);
            if (mounted ? fill(scratch, c.full == Full::inodes) < 1 : setrlimit(RLIMIT_FSIZE, &small) != 0)
                return "cannot fill the file system";
            const std::vector<std::string> filled = entries(scratch);
            if (const int s = td_close(id); s != c.status)
                return "the close gave " + std::to_string(s);
            if (tdtest::read_file(path) != old_bytes || entries(scratch) != filled)
                return "dataset changed or side file left";
            // Room again: the dataset, still open, closes with its new content.
            for (const std::string& name : filled)
                if (std::find(before.begin(), before.end(), name) == before.end())
                    unlink((scratch + "/" + name).c_str());
            (void)setrlimit(RLIMIT_FSIZE, &unlimited);
            if (const int s = td_close(id); s != TD_NOERR)
                return "the second close gave " + std::to_string(s);
            return tdtest::read_file(path) == new_bytes ? "" : "new content missing";
        });
        if (result.starts_with("skip: "))
            skipped.push_back(std::string(c.what) + ": " + result.substr(6));
        else
            EXPECT_EQ(result, "");
    }
    if (!skipped.empty())
        GTEST_SKIP() << skipped.front();
}

// ------------------------------------------------------ each refusal, once

// Each way a changed dataset can lose its identity or its data makes the
// close refuse, the file (and any other name of it) left as it was and
// nothing left beside it.  The side file's own check just before the rename
// is tried on its own: a hard link made while the new file is written.
TEST_F(Safety, EachRefusalLeavesTheDatasetWhole)
{
    enum class Change { second_link, replaced, folder_not_writable, link_while_writing };
    const struct {
        const char* what;
        Change change;
    } cases[] = {
        {"a second hard link made before the close", Change::second_link},
        {"the file replaced under its name", Change::replaced},
        {"the folder not writable", Change::folder_not_writable},
        {"a second hard link made while the new file is written", Change::link_while_writing},
    };
    const auto user = other_user();
    if (user) {
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0); // the other user passes through
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = dir.file("r" + std::to_string(int(c.change)));
        const std::string path = folder + "/d.tdf", other = folder + "/other.tdf";
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        tdw::write_bytes(path, Bytes(old_bytes.begin(), old_bytes.end()));
        const std::string replacing = "not the dataset that was opened";
        std::vector<std::string> names{"d.tdf"};

        const std::string result = in_child([&]() -> std::string {
            if (c.change == Change::link_while_writing) {
                struct stat original {};
                td::SideFile side;
                if (stat(path.c_str(), &original) != 0 || side.create(path, original) != TD_NOERR)
                    return "no side file";
                if (link(path.c_str(), other.c_str()) != 0 || side.stream().write("new", 3) != 3)
                    return "cannot link or write";
                return side.replace(path, original) == TD_EUNCOMPFILE && !side.placed() ? "" : "replaced";
            }
            if (c.change == Change::folder_not_writable) {
                if (user && (chown(path.c_str(), user->uid, user->gid) != 0 || !become(*user)))
                    return "cannot act as another user";
                if (chmod(folder.c_str(), 0555) != 0 && !user)
                    return "cannot protect the folder";
            }
            int id = -1;
            if (td_open(path.c_str(), TD_WRITE, &id) != TD_NOERR || write_all(id, new_image) != TD_NOERR)
                return "open or write failed";
            if (c.change == Change::second_link && link(path.c_str(), other.c_str()) != 0)
                return "cannot link";
            if (c.change == Change::replaced) {
                tdw::write_bytes(other, Bytes(replacing.begin(), replacing.end()));
                if (rename(other.c_str(), path.c_str()) != 0)
                    return "cannot replace";
            }
            if (const int s = td_close(id); s != TD_EUNCOMPFILE)
                return "the close gave " + std::to_string(s);
            return td_close(id) == TD_EUNCOMPFILE ? "" : "the second close went through";
        });
        (void)chmod(folder.c_str(), 0755);
        EXPECT_EQ(result, "");
        EXPECT_EQ(tdtest::read_file(path), c.change == Change::replaced ? replacing : old_bytes);
        if (c.change == Change::second_link || c.change == Change::link_while_writing) {
            EXPECT_EQ(tdtest::read_file(other), old_bytes);
            names.push_back("other.tdf");
        }
        EXPECT_EQ(entries(folder), names);
    }
}

// ------------------------------------------------- readers beside a writer

// Conversions that run while the dataset is written back again and again
// see the old dataset or the new one, whole (the planes tell them apart).
TEST_F(Safety, ConversionsBesideAWriterReadWholeDatasets)
{
    const std::string path = dir.file("d.tdf");
    const std::vector<std::string> args = {"-1", "255,0,0", "-3", "0,0,255", path};
    std::string gifs[2];
    for (int i = 0; i < 2; ++i) {
        tdw::write_bytes(path, tdw::build_dataset(i == 0 ? old_scene : new_scene));
        const auto r = tdtest::run_command(tdtest::tdftogif_path(), args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        gifs[i] = r.out;
    }
    ASSERT_TRUE(gifs[0] != gifs[1]);
    // The writer writes the dataset back, alternating the two contents,
    // until it is killed; a byte on the pipe for each write-back.
    const Image old_image = image_of(old_scene);
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    std::fflush(nullptr);
    const pid_t writer = fork();
    if (writer == 0) {
        close(done[0]);
        for (int i = 0;; ++i) {
            int id = -1;
            if (td_open(path.c_str(), TD_WRITE, &id) != TD_NOERR ||
                write_all(id, i % 2 == 0 ? old_image : new_image) != TD_NOERR || td_close(id) != TD_NOERR)
                _exit(1);
            (void)!::write(done[1], "w", 1);
        }
    }
    close(done[1]);
    int whole = 0;
    for (int i = 0; i < 2 * trials(); ++i) {
        const auto r = tdtest::run_command(tdtest::tdftogif_path(), args);
        whole += r.exit_code == 0 && (r.out == gifs[0] || r.out == gifs[1]);
    }
    kill(writer, SIGKILL);
    int wstatus = 0;
    ASSERT_EQ(waitpid(writer, &wstatus, 0), writer);
    EXPECT_TRUE(WIFSIGNALED(wstatus)) << "the writer failed";
    int write_backs = 0;
    char buffer[256];
    for (ssize_t n; (n = read(done[0], buffer, sizeof buffer)) > 0;)
        write_backs += static_cast<int>(n);
    close(done[0]);
    EXPECT_EQ(whole, 2 * trials());
    const std::string now = tdtest::read_file(path);
    EXPECT_TRUE(now == old_bytes || now == new_bytes);
    std::cout << "[ trials ] " << 2 * trials() << " conversions beside " << write_backs
              << " write-backs: " << whole << " whole; the writer killed, the dataset "
              << (now == old_bytes || now == new_bytes ? "intact" : "DAMAGED") << "\n";
}

// --------------------------------------- read-write opens that change nothing

TEST_F(Safety, ReadWriteOpenThatChangesNothingLeavesTheFileAlone)
{
    for (const bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        tdw::DatasetDescription d = scene(3);
        d.rows = 20;
        d.compressed = compressed;
        const std::string path = write(compressed ? "c.tdf" : "p.tdf", d);
        const timespec long_ago[2] = {{978307200, 0}, {978307200, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), long_ago, 0), 0);
        const std::string bytes = tdtest::read_file(path);
        const struct stat before = status_of(path);

        const int id = open_ok(path, TD_WRITE);
        std::vector<float> row(1000);
        for (std::uint32_t r = 0; r < 20; ++r) {
            const std::uint32_t start[2]{r, 0}, count[2]{1, 1000};
            ASSERT_EQ(td_varget_float(id, 0, start, count, row.data()), TD_NOERR);
        }
        ASSERT_EQ(td_close(id), TD_NOERR);
        const struct stat after = status_of(path);
        EXPECT_EQ(tdtest::read_file(path), bytes);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
        EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
    }
}

// ------------------------------------------- flushed before they are named

// Every writer flushes a new file before it takes the name and the folder
// after, so that a crash leaves the old file or the whole new one: the
// library's write-back and the converter's output, both of its ways.
TEST_F(Safety, NewFilesAreFlushedBeforeTheirNamesAndTheFolderAfter)
{
    const auto write_back = [this](bool compressed) {
        return [this, compressed](const std::string& path) {
            tdw::DatasetDescription d = scene(1);
            d.rows = 20;
            d.compressed = compressed;
            tdw::write_dataset(path, d);
            tdtest::forget_syncs();
            const int id = open_ok(path, TD_WRITE);
            const std::vector<float> row(1000, 12.5f);
            const std::uint32_t start[2]{3, 0}, count[2]{1, 1000};
            return td_varput_float(id, 0, start, count, row.data()) == TD_NOERR && td_close(id) == TD_NOERR;
        };
    };
    const auto output = [](bool anonymous, bool earlier) {
        return [=](const std::string& path) {
            if (earlier)
                tdw::write_bytes(path, {'o', 'l', 'd'});
            tdtest::forget_syncs();
            tdf::output_file file;
            std::FILE* stream = nullptr;
            return file.prepare(path.c_str(), "", anonymous) == tdf::output_status::ok &&
                   file.open_stream(stream) == tdf::output_status::ok && std::fputs("new", stream) >= 0 &&
                   file.commit() == tdf::output_status::ok;
        };
    };
    const struct {
        const char* what;
        std::function<bool(const std::string&)> write;
    } cases[] = {
        {"write-back, plain", write_back(false)},
        {"write-back, compressed", write_back(true)},
        {"output, named, over an earlier one", output(false, true)},
        {"output, anonymous, new", output(true, false)},
        {"output, anonymous, over an earlier one", output(true, true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = dir.file(std::to_string(&c - cases));
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        ASSERT_TRUE(c.write(folder + "/f"));
        const int file = tdtest::last_sync_of(folder + "/f");
        EXPECT_GE(file, 0) << "the new file was not flushed";
        EXPECT_GT(tdtest::last_sync_of(folder), file) << "the folder was not flushed after it";
    }
}

// ---------------------------------------- side files and temporary copies

// With a umask that hides nothing, a side file is private from its creation
// and has the dataset's mode and owner before any byte is written; it has
// no name until it is put in place.  The temporary copy is private too and
// goes where TMPDIR says.
TEST_F(Safety, SideFilesAndTemporaryCopiesArePrivate)
{
    const mode_t old_umask = umask(0);
    const std::string path = dir.file("d.tdf");
    tdw::write_bytes(path, {0xD5});
    for (const mode_t mode : {0600, 0640, 0444}) {
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        const struct stat dataset = status_of(path);
        td::SideFile side;
        ASSERT_EQ(side.create(path, dataset), TD_NOERR);
        struct stat st {};
        ASSERT_EQ(fstat(side.stream().descriptor(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(st.st_uid, dataset.st_uid);
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"d.tdf"});
    }

    const struct {
        const char* tmpdir; // nullptr: unset
        std::string expected_folder;
    } copies[] = {{nullptr, "/tmp/"}, {"", "/tmp/"}, {"copies", dir.file("copies/")}, {"missing", ""}};
    ASSERT_EQ(mkdir(dir.file("copies").c_str(), 0700), 0);
    const char* saved = std::getenv("TMPDIR");
    const std::string saved_value = saved ? saved : "";
    for (const auto& c : copies) {
        SCOPED_TRACE(c.tmpdir ? c.tmpdir : "unset");
        if (c.tmpdir == nullptr)
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", *c.tmpdir ? dir.file(c.tmpdir).c_str() : "", 1);
        td::Stream copy = td::Stream::temporary();
        EXPECT_EQ(bool(copy), !c.expected_folder.empty());
        if (!copy)
            continue;
        char target[4096] = {};
        const std::string link = "/proc/self/fd/" + std::to_string(copy.descriptor());
        ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_TRUE(std::string(target).starts_with(c.expected_folder)) << target;
        EXPECT_TRUE(std::string(target).ends_with("(deleted)")) << target;
        struct stat st {};
        ASSERT_EQ(fstat(copy.descriptor(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
    EXPECT_EQ(entries(dir.file("copies")), std::vector<std::string>{});
    if (saved)
        setenv("TMPDIR", saved_value.c_str(), 1);
    else
        unsetenv("TMPDIR");
    umask(old_umask);
}

// ----------------------------------------------------- the two commands

class Commands : public ::testing::Test {
protected:
    static const std::string& tdfinfo()
    {
        static const std::string path = TDFINFO_EXECUTABLE;
        return path;
    }
    tdtest::TempDir dir;
};

TEST_F(Commands, OutputNamingTheInputIsRefusedBeforeAnythingChanges)
{
    const std::string path = dir.file("s.tdf");
    tdw::write_dataset(path, tdtest::description_of(tdw::kInfrared));
    ASSERT_EQ(symlink("s.tdf", dir.file("sym.tdf").c_str()), 0);
    ASSERT_EQ(link(path.c_str(), dir.file("hard.tdf").c_str()), 0);
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    const std::string bytes = tdtest::read_file(path);
    const std::vector<std::string> names = entries(dir.path());
    const struct {
        std::vector<std::string> args;
        std::string line;
        bool stdout_to_input;
    } cases[] = {
        {{"-o", "s.tdf", "s.tdf"}, "tdftogif: s.tdf: output file is the input dataset\n", false},
        {{"-o", "sym.tdf", "s.tdf"}, "tdftogif: sym.tdf: output file is the input dataset\n", false},
        {{"-o", "hard.tdf", "s.tdf"}, "tdftogif: hard.tdf: output file is the input dataset\n", false},
        {{"-o", "sub/../s.tdf", "sym.tdf"},
         "tdftogif: sub/../s.tdf: output file is the input dataset\n",
         false},
        {{"s.tdf"}, "tdftogif: standard output: output file is the input dataset\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const struct stat before = status_of(path);
        tdtest::CommandOptions options;
        options.cwd = dir.path();
        if (c.stdout_to_input) {
            options.stdout_path = path;
            options.append_stdout = true;
        }
        const auto r = tdtest::run_command(tdtest::tdftogif_path(), c.args, options);
        EXPECT_EQ(r.exit_code, 256 - 4);
        EXPECT_EQ(r.err, c.line);
        EXPECT_EQ(tdtest::read_file(path), bytes);
        EXPECT_EQ(status_of(path).st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        EXPECT_EQ(entries(dir.path()), names);
    }
}

TEST_F(Commands, InputsThatAreNotRegularFilesAreRefusedAtOnce)
{
    const std::string dataset = dir.file("s.tdf");
    tdw::write_dataset(dataset, tdtest::description_of(tdw::kInfrared));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("fifo", dir.file("to-fifo").c_str()), 0);
    ASSERT_EQ(symlink("s.tdf", dir.file("to-dataset").c_str()), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socket_path = dir.file("socket");
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socket_path.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const struct {
        std::string input;
        int status;
    } cases[] = {{dir.file("fifo"), TD_EACCESS}, {dir.file("to-fifo"), TD_EACCESS},
                 {dir.path(), TD_EACCESS},       {"/dev/null", TD_EACCESS},
                 {socket_path, TD_EACCESS},      {dir.file("to-dataset"), 0}};
    for (const auto& c : cases) {
        for (const std::string& program : {tdtest::tdftogif_path(), tdfinfo()}) {
            SCOPED_TRACE(program + " " + c.input);
            tdtest::CommandOptions options;
            options.time_limit_seconds = 20;
            const auto r = tdtest::run_command(program, {c.input}, options);
            EXPECT_FALSE(r.timed_out);
            EXPECT_EQ(r.exit_code, c.status);
            const std::string name = program == tdfinfo() ? "tdfinfo" : "tdftogif";
            EXPECT_EQ(r.err, c.status ? name + ": " + c.input + ": cannot access dataset\n" : "");
        }
    }
    close(sock);
}

TEST_F(Commands, FailureLinesAreOneLine)
{
    const struct {
        std::string raw, escaped;
    } cases[] = {
        {"plain name.tdf", "plain name.tdf"},
        {"a\nb", "a\\nb"},
        {"tab\there\r", "tab\\there\\r"},
        {std::string("nul\0bell\a", 9) + "\x1b\x7f", "nul\\x00bell\\x07\\x1b\\x7f"},
        {"back\\slash", "back\\\\slash"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tdf::escape_line(c.raw), c.escaped) << c.escaped;

    const std::string name = dir.file("two\nlines.tdf");
    for (const std::string& program : {tdtest::tdftogif_path(), tdfinfo()}) {
        const auto r = tdtest::run_command(program, {name});
        const std::string command = program == tdfinfo() ? "tdfinfo" : "tdftogif";
        EXPECT_EQ(r.exit_code, TD_EACCESS);
        EXPECT_EQ(r.err, command + ": " + dir.file("two\\nlines.tdf") + ": cannot access dataset\n");
    }
}

} // namespace

// ------------------------------------------------ the converter's output

namespace {

// A small infrared scene whose GIF is some tens of kilobytes; `noise`
// makes a larger, hard-to-compress one.
tdw::DatasetDescription quicklook_scene(int rows, bool noise)
{
    tdw::DatasetDescription d;
    d.data_id = tdw::kInfrared;
    d.rows = static_cast<std::int16_t>(rows);
    d.columns = 1000;
    d.value = [noise](int r, int c) {
        return noise ? (r * 7919 + c * 104729) % 2000 + 1 : 900 + (r + c) % 200;
    };
    return d;
}

struct FileState {
    bool exists = false;
    std::string bytes;
    struct stat st {};
    bool operator==(const FileState& o) const
    {
        return exists == o.exists && bytes == o.bytes && st.st_ino == o.st.st_ino &&
               st.st_mode == o.st.st_mode && st.st_mtim.tv_sec == o.st.st_mtim.tv_sec &&
               st.st_mtim.tv_nsec == o.st.st_mtim.tv_nsec;
    }
};

FileState state_of(const std::string& path)
{
    FileState f;
    f.exists = lstat(path.c_str(), &f.st) == 0;
    if (f.exists)
        f.bytes = tdtest::read_file(path);
    return f;
}

} // namespace

// Whatever fails, and at whatever step, an earlier output stays exactly as
// it was and no file is made: step 2 (the output is the input), the
// settings (colour map, range, ticks: before and after the rows are read),
// a damaged dataset.
TEST_F(Commands, FailedConversionsLeaveTheOutputAsItWas)
{
    const std::string dataset = dir.file("s.tdf");
    tdw::write_dataset(dataset, quicklook_scene(40, false));
    tdw::DatasetDescription cut = quicklook_scene(40, false);
    tdw::write_bytes(dir.file("cut.tdf"), tdw::build_truncated(cut, 1000 * 2 * 20));
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0755), 0);
    const std::string out = dir.file("out/q.gif");
    const std::string old = "an earlier quicklook";
    const struct {
        std::vector<std::string> args; // before the input
        std::string input;
        int status;
        std::string line;
    } cases[] = {
        {{"-m", "Prism"}, dataset, 250, "tdftogif: Prism: invalid color map\n"},
        {{"-l", "10", "-h", "10"}, dataset, 253, "tdftogif: min >= max: invalid data extents\n"},
        {{"-t", "0.00001"}, dataset, 249, "tdftogif: make_tics: ticint too small for min, max\n"},
        {{}, dir.file("cut.tdf"), 32, "tdftogif: avhrr_ch4: error reading data\n"},
    };
    for (const bool earlier : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.line + (earlier ? " over an earlier output" : " without one"));
            (void)unlink(out.c_str());
            if (earlier) {
                tdw::write_bytes(out, Bytes(old.begin(), old.end()));
                ASSERT_EQ(chmod(out.c_str(), 0640), 0);
            }
            const FileState before = state_of(out);
            std::vector<std::string> args = c.args;
            args.insert(args.end(), {"-o", out, c.input});
            const auto r = tdtest::run_command(tdtest::tdftogif_path(), args);
            EXPECT_EQ(r.exit_code, c.status);
            EXPECT_EQ(r.err, c.line);
            EXPECT_TRUE(state_of(out) == before);
            EXPECT_EQ(entries(dir.file("out")),
                      earlier ? std::vector<std::string>{"q.gif"} : std::vector<std::string>{});
        }
    }
}

// A complete image replaces the output in one step and keeps what the file
// was: its mode and owner, a symbolic link stays a link to the replaced
// target; a new file has the mode fopen gives it; FIFOs and devices are
// written directly.
TEST_F(Commands, OutputsGetTheWholeImageAndKeepWhatTheyWere)
{
    const std::string dataset = dir.file("s.tdf");
    tdw::write_dataset(dataset, quicklook_scene(40, false));
    const std::string gif = tdtest::run_command(tdtest::tdftogif_path(), {dataset}).out;
    ASSERT_GT(gif.size(), 1000u);
    const auto user = other_user();
    const uid_t owner = user ? user->uid : geteuid();
    const struct {
        const char* what;
        std::function<void(const std::string&)> setup; // given the output name
        std::string written;                           // the file that must hold the image
        mode_t mode;
        uid_t uid;
    } cases[] = {
        {"new file, umask 027", [](const std::string&) {}, "q.gif", 0640, geteuid()},
        {"replaced file keeps its mode and owner",
         [&](const std::string& o) {
             tdw::write_bytes(o, {'o', 'l', 'd'});
             ASSERT_EQ(chmod(o.c_str(), 0604), 0);
             ASSERT_EQ(lchown(o.c_str(), owner, static_cast<gid_t>(-1)), 0);
         },
         "q.gif", 0604, owner},
        {"link to a file",
         [&](const std::string& o) {
             tdw::write_bytes(dir.file("target.gif"), {'o', 'l', 'd'});
             ASSERT_EQ(chmod(dir.file("target.gif").c_str(), 0600), 0);
             ASSERT_EQ(symlink("../target.gif", o.c_str()), 0);
         },
         "../target.gif", 0600, geteuid()},
        {"link to no file yet", [](const std::string& o) { ASSERT_EQ(symlink("sub/new.gif", o.c_str()), 0); },
         "sub/new.gif", 0640, geteuid()},
    };
    const mode_t old_umask = umask(027);
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = dir.file("o" + std::to_string(n++));
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((folder + "/sub").c_str(), 0755), 0);
        const std::string out = folder + "/q.gif";
        c.setup(out);
        const std::vector<std::string> names = entries(folder);
        const auto r = tdtest::run_command(tdtest::tdftogif_path(), {"-o", out, dataset});
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const std::string written = folder + "/" + c.written;
        EXPECT_EQ(tdtest::read_file(written), gif);
        const struct stat st = status_of(written);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(st.st_uid, c.uid);
        struct stat link {};
        ASSERT_EQ(lstat(out.c_str(), &link), 0);
        EXPECT_EQ(S_ISLNK(link.st_mode), c.written != "q.gif");
        std::vector<std::string> expected = names;
        if (std::find(names.begin(), names.end(), "q.gif") == names.end())
            expected.push_back("q.gif");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(entries(folder), expected);
        for (const std::string& f : {folder + "/sub", dir.path()})
            for (const std::string& name : entries(f))
                EXPECT_FALSE(name.starts_with(".tdftogif-")) << "temporary file left: " << name;
    }
    umask(old_umask);

    // Not regular files: written directly, as they are.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string from_fifo;
    std::thread reader([&] { from_fifo = tdtest::read_file(fifo); });
    auto r = tdtest::run_command(tdtest::tdftogif_path(), {"-o", fifo, dataset});
    reader.join();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(from_fifo, gif);
    r = tdtest::run_command(tdtest::tdftogif_path(), {"-o", "/dev/stdout", dataset});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, gif);
    r = tdtest::run_command(tdtest::tdftogif_path(), {"-o", "/dev/null", dataset});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
}

// An output whose folder cannot take a new file, or which this user could
// not write over, is refused at step 2 (before the colour map is looked
// at), and left as it was.  In a sticky folder the owner of the output or
// of the folder passes that step.
TEST_F(Commands, OutputsThatCannotBeReplacedAreRefusedAtOnce)
{
    const auto user = other_user();
    if (geteuid() == 0 && !user)
        GTEST_SKIP() << "needs a second user to meet permissions as root";
    const std::string dataset = dir.file("s.tdf");
    tdw::write_dataset(dataset, quicklook_scene(10, false));
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(dataset.c_str(), 0644), 0);
    const uid_t me = user ? user->uid : geteuid();
    const struct {
        const char* what;
        mode_t folder_mode;
        bool earlier;
        mode_t file_mode;
        bool others_folder, others_output; // belong to another user
        bool refused = true;
    } cases[] = {
        {"folder not writable, no output yet", 0555, false, 0, false, false},
        {"folder not writable, a writable output", 0555, true, 0666, false, false},
        {"output not writable", 0755, true, 0444, false, false},
        {"sticky folder, another user's output", 01777, true, 0666, true, true},
        {"sticky folder, own output", 01777, true, 0666, true, false, false},
        {"own sticky folder, another user's output", 01777, true, 0666, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if ((c.others_folder || c.others_output) && !user)
            continue; // files cannot be given away
        const std::string folder = dir.file(std::string("f") + std::to_string(&c - cases));
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        ASSERT_EQ(chown(folder.c_str(), c.others_folder ? 0 : me, static_cast<gid_t>(-1)), 0);
        const std::string out = folder + "/q.gif";
        if (c.earlier) {
            tdw::write_bytes(out, {'o', 'l', 'd'});
            ASSERT_EQ(chown(out.c_str(), c.others_output ? 0 : me, static_cast<gid_t>(-1)), 0);
            ASSERT_EQ(chmod(out.c_str(), c.file_mode), 0);
        }
        ASSERT_EQ(chmod(folder.c_str(), c.folder_mode), 0);
        const FileState before = state_of(out);
        const std::string result = in_child([&]() -> std::string {
            if (user && !become(*user))
                return "cannot become the other user";
            const auto r = tdtest::run_command(tdtest::tdftogif_path(), {"-m", "Prism", "-o", out, dataset});
            const std::string line = c.refused ? "tdftogif: " + out + ": can't create output file\n"
                                               : "tdftogif: Prism: invalid color map\n";
            if (r.exit_code != (c.refused ? 252 : 250) || r.err != line)
                return "status " + std::to_string(r.exit_code) + ", " + r.err;
            return "";
        });
        EXPECT_EQ(result, "");
        EXPECT_TRUE(state_of(out) == before);
        EXPECT_EQ(entries(folder),
                  c.earlier ? std::vector<std::string>{"q.gif"} : std::vector<std::string>{});
        (void)chmod(folder.c_str(), 0755);
    }
}

// A file system too full for the new image: the run fails with -4 and the
// folder holds what it held, the earlier output whole or no file.  Both
// ways of making the new file: anonymous (the command) and named (the
// writer in this process, as on file systems without anonymous files).
TEST_F(Safety, FullFileSystemsLeaveTheOutputAsItWas)
{
    const std::string dataset = dir.file("noise.tdf");
    tdw::write_dataset(dataset, quicklook_scene(300, true));
    const struct {
        const char* what;
        bool command; // the command, else the named way in-process
        bool earlier;
        std::size_t bytes; // written in-process
        bool fits;
    } cases[] = {
        {"command, an earlier output", true, true, 0, false},
        {"command, no earlier output", true, false, 0, false},
        {"named, an earlier output", false, true, 256 * 1024, false},
        {"named, no earlier output", false, false, 256 * 1024, false},
        {"named, room enough", false, true, 4 * 1024, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string scratch = dir.file(std::string("full-") + std::to_string(&c - cases));
        ASSERT_EQ(mkdir(scratch.c_str(), 0755), 0);
        const std::string result = in_child([&]() -> std::string {
            if (!mount_scratch(scratch, "size=96k"))
                return "skip: no private mount namespace for a tmpfs";
            const std::string out = scratch + "/q.gif";
            const std::string old(20000, 'o');
            if (c.earlier)
                tdw::write_bytes(out, Bytes(old.begin(), old.end()));
            const std::vector<std::string> before = entries(scratch);
            if (c.command) {
                const auto r = tdtest::run_command(tdtest::tdftogif_path(), {"-o", out, dataset});
                if (r.exit_code != 252 || r.err != "tdftogif: " + out + ": can't write output file\n")
                    return "status " + std::to_string(r.exit_code) + ", " + r.err;
            } else {
                const std::string payload(c.bytes, 'n');
                {
                    tdf::output_file file;
                    std::FILE* stream = nullptr;
                    if (file.prepare(out.c_str(), dataset.c_str(), false) != tdf::output_status::ok ||
                        file.open_stream(stream) != tdf::output_status::ok)
                        return "not prepared";
                    std::fwrite(payload.data(), 1, payload.size(), stream);
                    const tdf::output_status s = file.commit();
                    if (s != (c.fits ? tdf::output_status::ok : tdf::output_status::not_written))
                        return "commit gave " + std::to_string(int(s));
                }
                if (c.fits)
                    return tdtest::read_file(out) == payload && entries(scratch) == before ? ""
                                                                                           : "not replaced";
            }
            if (entries(scratch) != before)
                return "a file was left";
            if (c.earlier && tdtest::read_file(out) != old)
                return "the earlier output changed";
            return "";
        });
        if (result.starts_with("skip: "))
            GTEST_SKIP() << result.substr(6);
        EXPECT_EQ(result, "");
    }
}
