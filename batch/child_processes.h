// child_processes.h - the conversions run as child processes, several at
// once, each in a process group of its own under a time limit, with what
// it writes on standard error kept for its failure line.
//
// The children die with tdfbatch (a kill of tdfbatch kills them too), and
// an interrupt (SIGINT, SIGTERM, SIGHUP) is noted for the caller rather
// than ending the process, so that it can stop its children and tidy up.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tdb {

struct ChildCommand {
    std::vector<std::string> argv;           // argv[0]: the program's path
    std::chrono::milliseconds time_limit{0}; // 0: none
    bool capture_stdout = false;             // else standard output goes to /dev/null
};

struct ChildOutcome {
    std::uint64_t tag = 0;
    bool started = true; // false: the program could not be run (start_error says why)
    int start_error = 0;
    bool exited = false; // ended by exit (exit_status), else by a signal
    int exit_status = 0; // 0 to 255
    int signal = 0;
    bool timed_out = false; // killed at its time limit
    double seconds = 0.0;
    std::string err; // the last 8 KiB of its standard error
    std::string out; // its standard output, when captured (at most 1 MiB)
};

class ChildPool {
public:
    ChildPool();
    ~ChildPool(); // kills and reaps every child still running
    ChildPool(const ChildPool&) = delete;
    ChildPool& operator=(const ChildPool&) = delete;

    std::size_t running() const;
    // Starts a child; a program that cannot be run gives an outcome with
    // started false at the next wait.
    void start(const ChildCommand& command, std::uint64_t tag);
    // Waits until a child ends, an interrupt arrives or `timeout` passes;
    // gives the outcomes of the children that ended.
    std::vector<ChildOutcome> wait(std::chrono::milliseconds timeout);
    // Kills every child (SIGKILL to its process group) and waits for them.
    std::vector<ChildOutcome> kill_all();

    // The signal of an interrupt received since the pool was made, or 0.
    static int interrupt_signal();

private:
    struct Child;
    std::vector<std::unique_ptr<Child>> children_;
    std::vector<ChildOutcome> finished_;
};

// Runs one program to its end (with a time limit) and gives its outcome.
ChildOutcome run_child(const ChildCommand& command);

} // namespace tdb
