// tdfbatch_state_test.cpp - what tdfbatch keeps between runs and the names
// it derives: the manifest read back exactly (any bytes in a path or a
// message), lines it cannot read passed over, shards merged without losing
// another shard's records; the shard hash and the quicklook names.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <sys/stat.h>

#include "archive_walk.h"
#include "atomic_file.h"
#include "browse_page.h"
#include "manifest.h"
#include "progress.h"
#include "run_command.h"
#include "sync_log.h"

namespace {

tdb::Record dataset(const std::string& path, const std::string& message)
{
    tdb::Record r;
    r.path = path;
    r.size = 123456789012ULL;
    r.mtime_ns = 1733700000123456789LL;
    r.inode = 42;
    r.config = 0xfedcba9876543210ULL;
    r.ok = message.empty();
    r.exit_status = r.ok ? 0 : 46;
    r.message = message;
    r.seconds = 1.25;
    r.gif_bytes = r.ok ? 4567 : -1;
    r.gif_mtime_ns = 1733700001000000000LL;
    r.thumbnail = r.ok;
    r.summary = {"hesk-14", "scan time", "compressed", 1709269500, 512, 300};
    return r;
}

void expect_same(const tdb::Record& a, const tdb::Record& b)
{
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.dataset, b.dataset);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.mtime_ns, b.mtime_ns);
    EXPECT_EQ(a.inode, b.inode);
    if (!a.dataset)
        return;
    EXPECT_EQ(a.config, b.config);
    EXPECT_EQ(a.ok, b.ok);
    EXPECT_EQ(a.exit_status, b.exit_status);
    EXPECT_EQ(a.signal, b.signal);
    EXPECT_EQ(a.message, b.message);
    EXPECT_DOUBLE_EQ(a.seconds, b.seconds);
    EXPECT_EQ(a.gif_bytes, b.gif_bytes);
    EXPECT_EQ(a.gif_mtime_ns, b.gif_mtime_ns);
    EXPECT_EQ(a.thumbnail, b.thumbnail);
    EXPECT_EQ(a.summary.satellite, b.summary.satellite);
    EXPECT_EQ(a.summary.kind, b.summary.kind);
    EXPECT_EQ(a.summary.storage, b.summary.storage);
    EXPECT_EQ(a.summary.time, b.summary.time);
    EXPECT_EQ(a.summary.rows, b.summary.rows);
    EXPECT_EQ(a.summary.columns, b.summary.columns);
}

TEST(TdfbatchManifest, ReadsBackEveryRecordExactly)
{
    tdtest::TempDir dir;
    tdb::Records records;
    const std::string paths[] = {"plain/pass-01.tdf",
                                 "tab\there/new\nline.tdf",
                                 "back\\slash\\x41.tdf",
                                 "ctrl\x01\x7f\r.tdf",
                                 "utf8/p\xc3\xa4ss \xe2\x80\x94 1.tdf",
                                 "bad\xff utf8"};
    for (const std::string& path : paths)
        records[path] = dataset(path, path == paths[1] ? "mcsst: error\treading\\data\n" : "");
    tdb::Record other;
    other.path = "notes.txt";
    other.dataset = false;
    records[other.path] = other;
    records["no time"] = dataset("no time", "");
    records["no time"].summary = {};
    const std::string file = dir.file("manifest");
    std::ofstream(file, std::ios::binary) << tdb::format_manifest(records);

    tdb::Records back;
    ASSERT_EQ(tdb::read_manifest(file, back), 0);
    ASSERT_EQ(back.size(), records.size());
    for (const auto& [path, record] : records) {
        ASSERT_EQ(back.count(path), 1u) << path;
        expect_same(record, back.at(path));
    }
}

TEST(TdfbatchManifest, PassesOverWhatItCannotRead)
{
    tdtest::TempDir dir;
    const std::string good = tdb::format_manifest({{"a.tdf", dataset("a.tdf", "")}});
    const std::string line = good.substr(good.find('\n') + 1);
    const struct {
        const char* name;
        std::string text;
        std::size_t records;
    } cases[] = {
        {"intact", good, 1},
        {"another format", "tdfbatch-manifest 2\n" + line, 0},
        {"no first line", line, 0},
        {"cut line", good + line.substr(0, line.size() / 2) + "\n", 1},
        {"bad escape", good + "b\\q.tdf\to\t1\t2\t3\n", 1},
        {"bad number", good + "c.tdf\to\t1\tx\t3\n", 1},
        {"extra field", good + line.substr(0, line.size() - 1) + "\tmore\n", 1},
    };
    for (const auto& c : cases) {
        std::ofstream(dir.file("m"), std::ios::binary | std::ios::trunc) << c.text;
        tdb::Records back;
        EXPECT_EQ(tdb::read_manifest(dir.file("m"), back), 0) << c.name;
        EXPECT_EQ(back.size(), c.records) << c.name;
    }
    tdb::Records none;
    EXPECT_EQ(tdb::read_manifest(dir.file("missing"), none), 0);
    EXPECT_TRUE(none.empty());
}

TEST(TdfbatchManifest, ShardsReplaceOnlyTheirOwnRecords)
{
    tdtest::TempDir dir;
    const tdb::Shard first{0, 2}, second{1, 2};
    // Paths of each shard, as the hash puts them.
    std::vector<std::string> of_first, of_second;
    for (int n = 0; of_first.size() < 3 || of_second.size() < 3; ++n) {
        const std::string path = "pass-" + std::to_string(n) + ".tdf";
        (first.holds(path) ? of_first : of_second).push_back(path);
    }
    tdb::Records mine, merged;
    for (const std::string& p : of_first)
        mine[p] = dataset(p, "");
    ASSERT_EQ(tdb::update_manifest(dir.file("manifest"), dir.file("lock"), mine, first, merged), 0);
    mine.clear();
    for (const std::string& p : of_second)
        mine[p] = dataset(p, "");
    ASSERT_EQ(tdb::update_manifest(dir.file("manifest"), dir.file("lock"), mine, second, merged), 0);
    EXPECT_EQ(merged.size(), 6u);
    // The first shard again, with one dataset gone and one failing now.
    mine.clear();
    mine[of_first[1]] = dataset(of_first[1], "failed");
    mine[of_first[2]] = dataset(of_first[2], "");
    ASSERT_EQ(tdb::update_manifest(dir.file("manifest"), dir.file("lock"), mine, first, merged), 0);
    tdb::Records back;
    ASSERT_EQ(tdb::read_manifest(dir.file("manifest"), back), 0);
    EXPECT_EQ(back.size(), 5u);
    EXPECT_EQ(back.count(of_first[0]), 0u);
    EXPECT_FALSE(back.at(of_first[1]).ok);
    for (const std::string& p : of_second)
        EXPECT_TRUE(back.count(p) == 1 && back.at(p).ok) << p;
    EXPECT_TRUE(tdtest::read_file(dir.file(".manifest.tdfbatch-part")).empty());
}

// The manifest, the page and the report replace their file whole, keeping
// its mode; a quicklook made under a temporary name takes its place.  Each
// is flushed before its rename, and the folder after (a quicklook's folder
// at the next checkpoint).
TEST(TdfbatchFiles, ReplacedWholeFlushedAndKeepingTheirMode)
{
    tdtest::TempDir dir;
    const std::string path = dir.file("f");
    const struct {
        const char* way;
        bool locked, committed;
    } ways[] = {{"atomically", false, false}, {"under the lock", true, false}, {"committed", false, true}};
    for (const auto& [way, locked, committed] : ways) {
        SCOPED_TRACE(way);
        std::ofstream(path) << "old";
        ASSERT_EQ(chmod(path.c_str(), 0604), 0);
        tdtest::forget_syncs();
        if (committed) {
            std::ofstream(dir.file(".f.part")) << "new";
            ASSERT_EQ(tdb::commit_file(dir.file(".f.part"), path), 0);
            EXPECT_FALSE(tdtest::file_exists(dir.file(".f.part")));
        } else {
            ASSERT_EQ(tdb::write_file_atomically(path, "new", locked), 0);
            struct stat st {};
            ASSERT_EQ(stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0604u);
            EXPECT_GT(tdtest::last_sync_of(dir.path()), tdtest::last_sync_of(path));
        }
        EXPECT_EQ(tdtest::read_file(path), "new");
        EXPECT_GE(tdtest::last_sync_of(path), 0);
    }
}

TEST(TdfbatchNames, ShardHashAndQuicklookNames)
{
    // FNV-1a 64 test vectors: the shard rule must not change between versions.
    EXPECT_EQ(tdb::fnv1a64(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(tdb::fnv1a64("a"), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(tdb::fnv1a64("foobar"), 0x85944171f73967e8ULL);
    EXPECT_TRUE((tdb::Shard{0, 1}.holds("anything")));
    EXPECT_EQ((tdb::Shard{0xaf63dc4c8601ec8cULL % 7, 7}.holds("a")), true);
    const struct {
        const char* path;
        const char* gif;
    } names[] = {
        {"pass.tdf", "pass.gif"},
        {"2024/061/pass 01.TDF", "2024/061/pass 01.gif"},
        {"pass.dat", "pass.dat.gif"},
        {"pass", "pass.gif"},
        {".tdf", ".gif"},
        {"pass.tdf.gz", "pass.tdf.gz.gif"},
    };
    for (const auto& n : names)
        EXPECT_EQ(tdb::quicklook_name(n.path), n.gif) << n.path;
}

// A path or message holding "</script>" stays inside the page's data: the
// page has its two script elements only.
TEST(TdfbatchPage, DataCannotEndItsScriptElement)
{
    const std::string path = "a</script><script>alert(1)</script>.tdf";
    const std::string page = tdb::browse_page({{path, dataset(path, "</script>")}}, {"archive", "now"});
    std::size_t ends = 0;
    for (std::size_t at = page.find("</script>"); at != std::string::npos;
         at = page.find("</script>", at + 1))
        ++ends;
    EXPECT_EQ(ends, 2u);
    EXPECT_NE(page.find("[\"a\\u003c/script>\\u003cscript>alert(1)\\u003c/script>.tdf\""), std::string::npos);
}

// The time left on the progress line, to the second.
TEST(TdfbatchProgress, TimeLeft)
{
    const std::pair<double, const char*> cases[] = {{0.4, "0s"},       {59.4, "59s"},
                                                    {59.6, "1m00s"},   {3599.4, "59m59s"},
                                                    {3599.6, "1h00m"}, {90061.0, "25h01m"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(tdb::duration_text(seconds), text) << seconds;
}

} // namespace
