// child_processes.cpp - fork, exec, poll and reap.
#include "child_processes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tdb {

namespace {

constexpr std::size_t kErrTail = 8192;
constexpr std::size_t kOutLimit = 1 << 20;

// The process-wide part: a pipe that the signal handlers write a byte
// into, so that poll wakes up at once, and the interrupt received.
int wake_pipe[2] = {-1, -1};
volatile std::sig_atomic_t interrupt_received = 0;

extern "C" void on_signal(int sig)
{
    const int saved = errno;
    if (sig != SIGCHLD)
        interrupt_received = sig;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wake_pipe[1], &byte, 1);
    errno = saved;
}

void install_handlers()
{
    if (wake_pipe[0] >= 0)
        return;
    if (::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    for (const int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

void drain_wake_pipe()
{
    std::array<char, 256> buffer{};
    while (::read(wake_pipe[0], buffer.data(), buffer.size()) > 0) {
    }
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

struct ChildPool::Child {
    std::uint64_t tag = 0;
    pid_t pid = -1;
    int err_fd = -1;
    int out_fd = -1;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    bool reaped = false;
    int wait_status = 0;
    bool timed_out = false;
    std::string err;
    std::string out;

    ~Child()
    {
        if (err_fd >= 0)
            ::close(err_fd);
        if (out_fd >= 0)
            ::close(out_fd);
    }

    // Reads what the pipes hold now; false once both are at their end.
    bool read_pipes()
    {
        std::array<char, 4096> buffer{};
        for (int* fd : {&err_fd, &out_fd}) {
            while (*fd >= 0) {
                const ssize_t n = ::read(*fd, buffer.data(), buffer.size());
                if (n > 0) {
                    std::string& text = fd == &err_fd ? err : out;
                    if (fd == &err_fd) {
                        text.append(buffer.data(), static_cast<std::size_t>(n));
                        if (text.size() > 2 * kErrTail)
                            text.erase(0, text.size() - kErrTail);
                    } else if (text.size() < kOutLimit) {
                        text.append(buffer.data(), std::min<std::size_t>(static_cast<std::size_t>(n),
                                                                         kOutLimit - text.size()));
                    }
                    continue;
                }
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    break;
                ::close(*fd); // end of file, or an error
                *fd = -1;
            }
        }
        return err_fd >= 0 || out_fd >= 0;
    }

    ChildOutcome outcome() const
    {
        ChildOutcome o;
        o.tag = tag;
        o.seconds = seconds_since(started);
        o.timed_out = timed_out;
        if (WIFEXITED(wait_status)) {
            o.exited = true;
            o.exit_status = WEXITSTATUS(wait_status);
        } else if (WIFSIGNALED(wait_status)) {
            o.signal = WTERMSIG(wait_status);
        }
        o.err = err.size() > kErrTail ? err.substr(err.size() - kErrTail) : err;
        o.out = out;
        return o;
    }
};

ChildPool::ChildPool()
{
    install_handlers();
}

ChildPool::~ChildPool()
{
    static_cast<void>(kill_all());
}

std::size_t ChildPool::running() const
{
    return children_.size();
}

int ChildPool::interrupt_signal()
{
    return interrupt_received;
}

void ChildPool::start(const ChildCommand& command, std::uint64_t tag)
{
    auto failed = [&](int error) {
        ChildOutcome o;
        o.tag = tag;
        o.started = false;
        o.start_error = error;
        finished_.push_back(std::move(o));
    };
    // Everything the child needs is made before fork: after it, only calls
    // that are safe in a child of a process are made.
    std::vector<char*> argv;
    for (const std::string& arg : command.argv)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int err_pipe[2], out_pipe[2] = {-1, -1}, exec_pipe[2];
    if (::pipe2(err_pipe, O_CLOEXEC) != 0)
        return failed(errno);
    if (command.capture_stdout && ::pipe2(out_pipe, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(err_pipe[0]);
        ::close(err_pipe[1]);
        return failed(error);
    }
    if (::pipe2(exec_pipe, O_CLOEXEC) != 0) {
        const int error = errno;
        for (const int fd : {err_pipe[0], err_pipe[1], out_pipe[0], out_pipe[1]})
            if (fd >= 0)
                ::close(fd);
        return failed(error);
    }
    const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The child: a process group of its own (so that a time limit kills
        // whatever it started), killed when tdfbatch dies, default signals.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        for (const int sig : {SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            ::sigaction(sig, &action, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(null_fd, 0);
        ::dup2(command.capture_stdout ? out_pipe[1] : null_fd, 1);
        ::dup2(err_pipe[1], 2);
        ::execv(argv[0], argv.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t n = ::write(exec_pipe[1], &error, sizeof error);
        ::_exit(127);
    }
    const int fork_error = errno;
    if (null_fd >= 0)
        ::close(null_fd);
    ::close(err_pipe[1]);
    if (out_pipe[1] >= 0)
        ::close(out_pipe[1]);
    ::close(exec_pipe[1]);
    auto child = std::make_unique<Child>();
    child->err_fd = err_pipe[0];
    child->out_fd = out_pipe[0];
    if (pid < 0) {
        ::close(exec_pipe[0]);
        return failed(fork_error);
    }
    ::setpgid(pid, pid); // also here, so that a kill right away reaches the group
    // The exec pipe closes on a successful exec, or carries its errno.
    int exec_error = 0;
    ssize_t n;
    do
        n = ::read(exec_pipe[0], &exec_error, sizeof exec_error);
    while (n < 0 && errno == EINTR);
    ::close(exec_pipe[0]);
    if (n == static_cast<ssize_t>(sizeof exec_error)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return failed(exec_error);
    }
    ::fcntl(child->err_fd, F_SETFL, O_NONBLOCK);
    if (child->out_fd >= 0)
        ::fcntl(child->out_fd, F_SETFL, O_NONBLOCK);
    child->tag = tag;
    child->pid = pid;
    child->started = std::chrono::steady_clock::now();
    if (command.time_limit.count() > 0)
        child->deadline = child->started + command.time_limit;
    children_.push_back(std::move(child));
}

std::vector<ChildOutcome> ChildPool::wait(std::chrono::milliseconds timeout)
{
    using clock = std::chrono::steady_clock;
    const auto until = clock::now() + timeout;
    for (;;) {
        // Reap every child that has ended.
        for (auto& child : children_) {
            if (child->reaped)
                continue;
            int status = 0;
            const pid_t r = ::waitpid(child->pid, &status, WNOHANG);
            if (r == child->pid) {
                child->reaped = true;
                child->wait_status = status;
            }
        }
        // Kill the children past their time limit.
        const auto now = clock::now();
        auto next_deadline = until;
        for (auto& child : children_) {
            if (child->reaped || child->timed_out)
                continue;
            if (now >= child->deadline) {
                child->timed_out = true;
                ::kill(-child->pid, SIGKILL);
            } else {
                next_deadline = std::min(next_deadline, child->deadline);
            }
        }
        // Hand over the ended ones, with what is left in their pipes.
        for (auto it = children_.begin(); it != children_.end();) {
            Child& child = **it;
            if (!child.reaped) {
                ++it;
                continue;
            }
            child.read_pipes(); // a grandchild holding a pipe open is not waited for
            finished_.push_back(child.outcome());
            it = children_.erase(it);
        }
        if (!finished_.empty() || interrupt_received != 0 || clock::now() >= until)
            break;

        std::vector<pollfd> fds;
        fds.push_back({wake_pipe[0], POLLIN, 0});
        for (auto& child : children_)
            for (const int fd : {child->err_fd, child->out_fd})
                if (fd >= 0)
                    fds.push_back({fd, POLLIN, 0});
        const auto wait_ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(next_deadline - clock::now());
        const int ms = static_cast<int>(std::clamp<long long>(wait_ms.count() + 1, 0, 60000));
        if (::poll(fds.data(), fds.size(), ms) > 0) {
            drain_wake_pipe();
            for (auto& child : children_)
                child->read_pipes();
        }
    }
    std::vector<ChildOutcome> done;
    done.swap(finished_);
    return done;
}

std::vector<ChildOutcome> ChildPool::kill_all()
{
    for (auto& child : children_)
        if (!child->reaped)
            ::kill(-child->pid, SIGKILL);
    for (auto& child : children_) {
        if (!child->reaped) {
            int status = 0;
            while (::waitpid(child->pid, &status, 0) < 0 && errno == EINTR) {
            }
            child->reaped = true;
            child->wait_status = status;
        }
        child->read_pipes();
        finished_.push_back(child->outcome());
    }
    children_.clear();
    std::vector<ChildOutcome> done;
    done.swap(finished_);
    return done;
}

ChildOutcome run_child(const ChildCommand& command)
{
    ChildPool pool;
    pool.start(command, 0);
    for (;;) {
        std::vector<ChildOutcome> done = pool.wait(std::chrono::milliseconds(1000));
        if (!done.empty())
            return done.front();
        if (ChildPool::interrupt_signal() != 0) {
            done = pool.kill_all();
            if (!done.empty())
                return done.front();
        }
    }
}

} // namespace tdb
