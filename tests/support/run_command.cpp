// run_command.cpp - child processes and scratch directories for tests.
#include "run_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tdtest {

namespace {

std::string slurp_and_remove(const std::string& path)
{
    std::string text = read_file(path);
    std::remove(path.c_str());
    return text;
}

} // namespace

CommandResult run_command(const std::string& program, const std::vector<std::string>& args,
                          const CommandOptions& options)
{
    TempDir scratch;
    const std::string out_path = options.stdout_path.empty() ? scratch.file("stdout") : options.stdout_path;
    const std::string err_path = scratch.file("stderr");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                     O_WRONLY | O_CREAT | (options.append_stdout ? O_APPEND : O_TRUNC), 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!options.cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());

    std::vector<std::string> argv_strings;
    argv_strings.push_back(program);
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_strings)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        bool overridden = false;
        for (const auto& extra : options.env) {
            auto eq = extra.find('=');
            if (entry.compare(0, eq + 1, extra, 0, eq + 1) == 0)
                overridden = true;
        }
        if (!overridden)
            env_strings.push_back(entry);
    }
    env_strings.insert(env_strings.end(), options.env.begin(), options.env.end());
    std::vector<char*> envp;
    for (auto& e : env_strings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    CommandResult result;
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    int wstatus = 0;
    rusage usage{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.time_limit_seconds);
    for (;;) {
        const pid_t done = wait4(pid, &wstatus, options.time_limit_seconds > 0 ? WNOHANG : 0, &usage);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            throw std::runtime_error("waitpid failed");
        if (done == 0) {
            if (std::chrono::steady_clock::now() >= deadline && !result.timed_out) {
                kill(pid, SIGKILL);
                result.timed_out = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    result.exit_code = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.peak_kib = usage.ru_maxrss;
    if (options.stdout_path.empty())
        result.out = slurp_and_remove(out_path);
    result.err = slurp_and_remove(err_path);
    return result;
}

const std::string& tdftogif_path()
{
    static const std::string path = [] {
        const char* from_env = std::getenv("TDFTOGIF");
        return std::string(from_env ? from_env : TDFTOGIF_EXECUTABLE);
    }();
    return path;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tdftest.XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace tdtest
