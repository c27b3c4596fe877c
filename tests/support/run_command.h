// run_command.h - runs a program as a child process and collects what it
// wrote and how it ended, for tests of the real executables.
#pragma once

#include <string>
#include <vector>

namespace tdtest {

struct CommandResult {
    int exit_code = -1;     // 0 to 255; -1 when the child did not exit normally
    std::string out;        // standard output, byte for byte
    std::string err;        // standard error
    bool timed_out = false; // killed after CommandOptions::time_limit_seconds
    long peak_kib = 0;      // the child's peak resident size (ru_maxrss)
};

struct CommandOptions {
    // Where standard output goes; empty: captured into CommandResult::out.
    std::string stdout_path;
    // Standard output appended to stdout_path rather than replacing it.
    bool append_stdout = false;
    // Extra environment entries "NAME=value" (the rest is inherited).
    std::vector<std::string> env;
    // Working directory; empty: the current one.
    std::string cwd;
    // Seconds after which the child is killed (SIGKILL); 0: no limit.
    int time_limit_seconds = 0;
};

CommandResult run_command(const std::string& program, const std::vector<std::string>& args,
                          const CommandOptions& options = {});

// Path of the tdftogif executable under test.
const std::string& tdftogif_path();

// A fresh empty directory for one test, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole contents of a file (empty when it cannot be read); whether it exists.
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

} // namespace tdtest
