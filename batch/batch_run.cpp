// batch_run.cpp - the plan of a run and the loop that carries it out.
#include "batch_run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive_walk.h"
#include "atomic_file.h"
#include "browse_page.h"
#include "child_processes.h"
#include "converter_probe.h"
#include "dataset_summary.h"
#include "failure_line.h"
#include "manifest.h"
#include "progress.h"
#include "run_report.h"

namespace tdb {

namespace {

using clock = std::chrono::steady_clock;

constexpr const char* kStateFolder = ".tdfbatch";
constexpr int kThumbnailPixels = 240;
constexpr auto kCheckpointEvery = std::chrono::seconds(10);

void failure_line(const std::string& name, const std::string& message)
{
    tdf::write_failure_line("tdfbatch", name.c_str(), message.c_str());
}

unsigned processors()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1;
}

std::string shard_name(const Shard& shard)
{
    return std::to_string(shard.index) + "-of-" + std::to_string(shard.count);
}

// The hidden name under which a file is made before it takes its place.
std::string temporary_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + ".tdfbatch-part";
}

struct FileState {
    bool exists = false;
    std::int64_t bytes = -1;
    std::int64_t mtime_ns = 0;
};

FileState file_state(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return {true, static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::string utc_now()
{
    const std::time_t now = std::time(nullptr);
    std::tm calendar{};
    char text[40] = "";
    if (gmtime_r(&now, &calendar) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &calendar);
    return text;
}

std::string folder_title(const std::string& output)
{
    char resolved[PATH_MAX];
    std::string path = ::realpath(output.c_str(), resolved) != nullptr ? resolved : output;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const auto slash = path.rfind('/');
    return slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

// A lock that only one run of a shard holds at a time.
class ShardLock {
public:
    explicit ShardLock(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666))
    {
        if (fd_ < 0)
            error_ = errno;
        else if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
            error_ = errno;
    }
    ~ShardLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ShardLock(const ShardLock&) = delete;
    ShardLock& operator=(const ShardLock&) = delete;
    int error() const { return error_; }

private:
    int fd_;
    int error_ = 0;
};

// The quicklooks being made, noted before each child starts, so that a run
// killed on the spot has its temporary files removed by the next one.
class Journal {
public:
    explicit Journal(std::string path) : path_(std::move(path)) {}
    ~Journal()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Removes the temporary files that an earlier run left, then starts afresh.
    int open(const std::string& output)
    {
        if (FILE* in = std::fopen(path_.c_str(), "r")) {
            char* line = nullptr;
            std::size_t capacity = 0;
            ssize_t n;
            while ((n = ::getline(&line, &capacity, in)) > 0) {
                std::string file(line, static_cast<std::size_t>(n));
                if (!file.empty() && file.back() == '\n')
                    file.pop_back();
                if (!file.empty() && file.find("..") == std::string::npos)
                    ::unlink(join_path(output, temporary_of(file)).c_str());
            }
            std::free(line);
            std::fclose(in);
        }
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
        return fd_ < 0 ? errno : 0;
    }
    // Notes an output path (relative to the output folder) before it is made.
    void note(const std::string& file)
    {
        if (fd_ < 0 || file.find('\n') != std::string::npos)
            return;
        const std::string line = file + "\n";
        [[maybe_unused]] const ssize_t n = ::write(fd_, line.data(), line.size());
    }
    // Forgets everything noted but `keep`.
    template <typename Files>
    void reset(const Files& keep)
    {
        if (fd_ < 0 || ::ftruncate(fd_, 0) != 0)
            return;
        for (const std::string& file : keep)
            note(file);
    }

private:
    std::string path_;
    int fd_ = -1;
};

struct Item {
    std::string path; // relative to the source
    std::string gif;  // relative to the output
    Record record;    // what the manifest will say once done
    Outcome outcome = Outcome::skipped;
    double seconds = 0.0;
};

struct Job {
    std::size_t item = 0;
    bool thumbnail = false;
    std::string target; // relative to the output folder
};

class Run {
public:
    Run(const BatchOptions& options, const Converter& converter, std::uint64_t config)
        : o_(options), converter_(converter), config_(config),
          state_(join_path(options.output, kStateFolder)),
          journal_(join_path(state_, "journal-" + shard_name(options.shard))),
          progress_(!options.quiet && ::isatty(2) == 1)
    {
    }

    int execute();

private:
    std::string manifest_path() const { return join_path(state_, "manifest"); }
    std::string source_path(const std::string& relative) const
    {
        std::string path = join_path(o_.source, relative);
        return path.front() == '-' ? "./" + path : path;
    }
    std::string output_path(const std::string& relative) const { return join_path(o_.output, relative); }

    void plan(const std::vector<SourceFile>& files, const Records& known);
    void start(const Job& job);
    void finish(const ChildOutcome& outcome);
    void finish_quicklook(Item& item, const ChildOutcome& outcome, const std::string& temporary);
    void fail(Item& item, int exit_status, int signal, const std::string& message);
    void checkpoint(bool with_page = false);
    int conclude(int interrupt);

    const BatchOptions& o_;
    const Converter& converter_;
    std::uint64_t config_;
    std::string state_;
    Journal journal_;
    Progress progress_;
    Counts counts_;
    std::vector<Item> items_;
    Records mine_; // this shard's part of the manifest
    std::deque<Job> queue_;
    std::map<std::uint64_t, Job> running_; // by the child's tag
    std::uint64_t next_tag_ = 0;
    FolderSync folders_;
    bool trouble_ = false; // something not tied to a dataset failed
    clock::time_point start_time_ = clock::now();
    clock::time_point last_checkpoint_ = clock::now();
    Records merged_;
    ChildPool pool_;
};

void Run::plan(const std::vector<SourceFile>& files, const Records& known)
{
    items_.reserve(files.size());
    for (const SourceFile& file : files) {
        const auto old = known.find(file.path);
        const bool same = old != known.end() && old->second.size == file.size &&
                          old->second.mtime_ns == file.mtime_ns && old->second.inode == file.inode;
        Record record;
        if (same) {
            record = old->second;
        } else {
            record.path = file.path;
            record.size = file.size;
            record.mtime_ns = file.mtime_ns;
            record.inode = file.inode;
            const Recognition r = read_summary(source_path(file.path), record.summary);
            record.dataset = r != Recognition::not_a_dataset;
        }
        if (!record.dataset) {
            ++counts_.others;
            mine_[file.path] = record;
            continue;
        }
        ++counts_.datasets;
        const FileState gif = file_state(output_path(file.output));
        Item item{file.path, file.output, record};
        if (!converter_.fits)
            item.record.thumbnail = false;
        if (!file.output_taken_by.empty()) {
            item.record.gif_bytes = -1;
            item.record.thumbnail = false;
            items_.push_back(std::move(item));
            fail(items_.back(), -1, 0,
                 "its quicklook " + file.output + " would be that of " + file.output_taken_by +
                     " too; not converted");
            continue;
        }
        const bool up_to_date = !o_.force && same && record.ok && record.config == config_ && gif.exists &&
                                gif.bytes == record.gif_bytes && gif.mtime_ns == record.gif_mtime_ns;
        if (up_to_date) {
            ++counts_.skipped;
            if (o_.index && converter_.fits &&
                (!record.thumbnail || !file_state(output_path(thumbnail_path(file.output))).exists)) {
                item.record.thumbnail = false;
                queue_.push_back({items_.size(), true, thumbnail_path(file.output)});
            }
            mine_[file.path] = item.record;
            items_.push_back(std::move(item));
            continue;
        }
        // To be converted.  Until it is, the manifest keeps what it said.
        if (same)
            mine_[file.path] = old->second;
        item.record.gif_bytes = gif.exists ? gif.bytes : -1;
        item.record.gif_mtime_ns = gif.mtime_ns;
        item.outcome = Outcome::converted;
        queue_.push_back({items_.size(), false, file.output});
        items_.push_back(std::move(item));
        ++counts_.to_convert;
    }
}

void Run::fail(Item& item, int exit_status, int signal, const std::string& message)
{
    item.outcome = Outcome::failed;
    item.record.ok = false;
    item.record.config = config_;
    item.record.exit_status = exit_status;
    item.record.signal = signal;
    item.record.message = message;
    ++counts_.failed;
    mine_[item.path] = item.record;
    progress_.clear();
    failure_line(source_path(item.path), signal == 0 && exit_status >= 0
                                             ? "status " + std::to_string(exit_status) + ": " + message
                                             : message);
}

void Run::start(const Job& job)
{
    Item& item = items_[job.item];
    const std::string temporary = output_path(temporary_of(job.target));
    if (const int error = make_folders(parent_folder(output_path(job.target))); error != 0) {
        if (!job.thumbnail)
            fail(item, -1, 0,
                 "cannot make the folder of " + output_path(job.target) + ": " + std::strerror(error));
        return;
    }
    journal_.note(job.target);
    ::unlink(temporary.c_str());
    ChildCommand command;
    command.argv.push_back(converter_.path);
    command.argv.insert(command.argv.end(), o_.converter_options.begin(), o_.converter_options.end());
    if (job.thumbnail) {
        command.argv.push_back("--fit");
        command.argv.push_back(std::to_string(kThumbnailPixels));
    }
    command.argv.push_back("-o");
    command.argv.push_back(temporary);
    command.argv.push_back(source_path(item.path));
    command.time_limit = std::chrono::seconds(o_.time_limit);
    const std::uint64_t tag = next_tag_++;
    running_[tag] = job;
    pool_.start(command, tag);
}

// tdftogif's failure line without its "tdftogif: ", or a word on how the
// child ended.
std::string child_message(const ChildOutcome& o)
{
    std::string last;
    std::size_t end = o.err.size();
    while (end > 0) {
        const std::size_t begin = o.err.rfind('\n', end - 1);
        const std::size_t from = begin == std::string::npos ? 0 : begin + 1;
        if (from < end) {
            last = o.err.substr(from, end - from);
            break;
        }
        if (begin == std::string::npos)
            break;
        end = begin;
    }
    constexpr std::string_view prefix = "tdftogif: ";
    if (last.rfind(prefix, 0) == 0)
        last.erase(0, prefix.size());
    return last;
}

void Run::finish_quicklook(Item& item, const ChildOutcome& o, const std::string& temporary)
{
    const std::string target = output_path(item.gif);
    item.seconds = o.seconds;
    item.record.seconds = o.seconds;
    if (!o.started) {
        ::unlink(temporary.c_str());
        fail(item, -1, 0, "cannot run " + converter_.path + ": " + std::strerror(o.start_error));
        return;
    }
    if (o.timed_out || !o.exited || o.exit_status != 0) {
        ::unlink(temporary.c_str());
        std::string message = child_message(o);
        if (o.timed_out)
            message = "time limit of " + std::to_string(o_.time_limit) + " s reached, conversion killed" +
                      (message.empty() ? "" : ": " + message);
        else if (!o.exited)
            message = "tdftogif killed by signal " + std::to_string(o.signal) + " (" + strsignal(o.signal) +
                      ")" + (message.empty() ? "" : ": " + message);
        else if (message.empty())
            message = "tdftogif failed without a message";
        fail(item, o.timed_out || !o.exited ? -1 : o.exit_status, o.timed_out ? SIGKILL : o.signal, message);
        return;
    }
    const FileState made = file_state(temporary);
    if (!made.exists || made.bytes == 0) {
        ::unlink(temporary.c_str());
        fail(item, 0, 0, "tdftogif ended with status 0 but wrote no image");
        return;
    }
    // A quicklook never takes the place of a dataset (an output folder that
    // is the source folder, a dataset named like a quicklook).
    DatasetSummary ignored;
    if (file_state(target).exists && read_summary(target, ignored) != Recognition::not_a_dataset) {
        ::unlink(temporary.c_str());
        fail(item, -1, 0, "its quicklook " + target + " is a dataset; not replaced");
        return;
    }
    if (const int error = commit_file(temporary, target); error != 0) {
        fail(item, -1, 0, "cannot write " + target + ": " + std::strerror(error));
        return;
    }
    folders_.add_parent_of(target);
    const FileState gif = file_state(target);
    item.record.ok = true;
    item.record.config = config_;
    item.record.exit_status = 0;
    item.record.signal = 0;
    item.record.message.clear();
    item.record.gif_bytes = gif.bytes;
    item.record.gif_mtime_ns = gif.mtime_ns;
    item.record.thumbnail = false;
    item.outcome = Outcome::converted;
    ++counts_.converted;
    mine_[item.path] = item.record;
    if (o_.index && converter_.fits)
        queue_.push_front({static_cast<std::size_t>(&item - items_.data()), true, thumbnail_path(item.gif)});
}

void Run::finish(const ChildOutcome& o)
{
    const auto it = running_.find(o.tag);
    if (it == running_.end())
        return;
    const Job job = it->second;
    running_.erase(it);
    Item& item = items_[job.item];
    const std::string temporary = output_path(temporary_of(job.target));
    if (!job.thumbnail) {
        finish_quicklook(item, o, temporary);
        return;
    }
    // A reduced quicklook that cannot be made leaves the page showing the
    // full one.
    const bool made = o.started && o.exited && o.exit_status == 0 && file_state(temporary).bytes > 0 &&
                      commit_file(temporary, output_path(job.target)) == 0;
    if (!made)
        ::unlink(temporary.c_str());
    else
        folders_.add_parent_of(output_path(job.target));
    item.record.thumbnail = made;
    if (item.record.ok)
        mine_[item.path] = item.record;
}

// The page, written under the manifest's lock so that runs of several
// shards write it one after the other, the last with everything.
int write_page(const std::string& output, const Records& records)
{
    const std::string path = join_path(output, "index.html");
    const std::string page = browse_page(records, {folder_title(output), utc_now()});
    const int error = write_file_atomically(path, page, true);
    if (error != 0)
        failure_line(path, std::string("cannot write the page: ") + std::strerror(error));
    return error;
}

void Run::checkpoint(bool with_page)
{
    if (const int error = folders_.flush(); error != 0 && !trouble_) {
        failure_line(o_.output, std::string("cannot flush a folder: ") + std::strerror(error));
        trouble_ = true;
    }
    std::function<void(const Records&)> then;
    if (with_page)
        then = [this](const Records& merged) { trouble_ |= write_page(o_.output, merged) != 0; };
    if (const int error =
            update_manifest(manifest_path(), join_path(state_, "lock"), mine_, o_.shard, merged_, then);
        error != 0) {
        progress_.clear();
        failure_line(manifest_path(), std::string("cannot write the manifest: ") + std::strerror(error));
        trouble_ = true;
    }
    std::vector<std::string> in_flight;
    for (const auto& [tag, job] : running_)
        in_flight.push_back(job.target);
    journal_.reset(in_flight);
    last_checkpoint_ = clock::now();
}

int Run::execute()
{
    // Only one run of a shard at a time; others wait for nothing and stop.
    const ShardLock lock(join_path(state_, "shard-" + shard_name(o_.shard) + ".lock"));
    if (lock.error() != 0) {
        failure_line(o_.output, lock.error() == EWOULDBLOCK
                                    ? "another tdfbatch run is converting this shard; not started"
                                    : std::string("cannot lock the shard: ") + std::strerror(lock.error()));
        return kSomeFailed;
    }
    if (const int error = journal_.open(o_.output); error != 0) {
        failure_line(o_.output, std::string("cannot write the journal: ") + std::strerror(error));
        return kSomeFailed;
    }
    Records known;
    if (const int error = read_manifest(manifest_path(), known); error != 0)
        failure_line(manifest_path(),
                     std::string("cannot read the manifest, converting everything: ") + std::strerror(error));

    // The output folder is not walked when it lies inside the source.
    std::vector<WalkProblem> problems;
    const std::vector<SourceFile> files = walk_source(o_.source, o_.shard, o_.output, problems);
    for (const WalkProblem& p : problems) {
        failure_line(join_path(o_.source, p.path),
                     std::string("cannot read the folder: ") + std::strerror(p.error));
        trouble_ = true;
    }
    plan(files, known);

    const unsigned jobs = o_.jobs != 0 ? o_.jobs : processors();
    int interrupt = 0;
    while (!queue_.empty() || !running_.empty()) {
        if ((interrupt = ChildPool::interrupt_signal()) != 0)
            break;
        while (running_.size() < jobs && !queue_.empty()) {
            const Job job = queue_.front();
            queue_.pop_front();
            start(job);
        }
        for (const ChildOutcome& o : pool_.wait(std::chrono::milliseconds(250)))
            finish(o);
        progress_.update(counts_);
        if (clock::now() - last_checkpoint_ >= kCheckpointEvery)
            checkpoint();
    }
    if (interrupt == 0)
        interrupt = ChildPool::interrupt_signal();
    if (interrupt != 0) {
        // The conversions under way are stopped and their files removed;
        // everything finished is kept.
        for (const ChildOutcome& o : pool_.kill_all()) {
            const auto it = running_.find(o.tag);
            if (it != running_.end())
                ::unlink(output_path(temporary_of(it->second.target)).c_str());
        }
        running_.clear();
    }
    return conclude(interrupt);
}

int Run::conclude(int interrupt)
{
    progress_.update(counts_, true);
    checkpoint(o_.index && interrupt == 0);
    progress_.clear();

    if (!o_.report.empty() && interrupt == 0) {
        std::string report;
        for (const Item& item : items_)
            report += report_line(o_.source, o_.output, item.gif, item.record, item.outcome, item.seconds);
        if (const int error = write_file_atomically(o_.report, report); error != 0) {
            failure_line(o_.report, std::string("cannot write the report: ") + std::strerror(error));
            trouble_ = true;
        }
    }
    const double seconds = std::chrono::duration<double>(clock::now() - start_time_).count();
    std::string summary = summary_text(counts_, seconds);
    if (interrupt != 0)
        summary = "interrupted: " + summary;
    std::fprintf(stderr, "tdfbatch: %s\n", summary.c_str());
    std::fflush(stderr);
    if (interrupt != 0) {
        std::signal(interrupt, SIG_DFL);
        std::raise(interrupt);
    }
    return counts_.failed > 0 || trouble_ ? kSomeFailed : kAllDone;
}

std::uint64_t config_hash(const Converter& converter, const std::vector<std::string>& options)
{
    std::string text = converter.version;
    for (const std::string& option : options) {
        text += '\0';
        text += option;
    }
    return fnv1a64(text);
}

int write_page_only(const BatchOptions& o)
{
    const std::string state = join_path(o.output, kStateFolder);
    const std::string manifest = join_path(state, "manifest");
    int status = kAllDone;
    struct stat st {};
    if (::stat(manifest.c_str(), &st) != 0) {
        failure_line(o.output, "no tdfbatch run has recorded anything here");
        return kSomeFailed;
    }
    const int error = with_manifest(manifest, join_path(state, "lock"), [&](const Records& records) {
        if (write_page(o.output, records) != 0)
            status = kSomeFailed;
    });
    if (error != 0) {
        failure_line(manifest, std::string("cannot read the manifest: ") + std::strerror(error));
        return kSomeFailed;
    }
    return status;
}

} // namespace

int run_batch(const BatchOptions& options)
{
    if (options.index_only)
        return write_page_only(options);
    struct stat st {};
    if (::stat(options.source.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        failure_line(options.source, "not a folder");
        return kUsageError;
    }
    const std::string state = join_path(options.output, kStateFolder);
    if (const int error = make_folders(state); error != 0) {
        failure_line(options.output, std::string("cannot make the output folder: ") + std::strerror(error));
        return kSomeFailed;
    }
    Converter converter;
    if (const int error = find_converter(options.converter, converter); error != 0) {
        failure_line(options.converter.empty() ? "tdftogif" : options.converter,
                     std::string("cannot run the converter: ") + std::strerror(error));
        return kSomeFailed;
    }
    Run run(options, converter, config_hash(converter, options.converter_options));
    return run.execute();
}

} // namespace tdb
