#include "events/CommandRunner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <initializer_list>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr size_t maxWaiting = 8;
constexpr auto timeLimit = std::chrono::seconds(30);
constexpr int pollMilliseconds = 20;

using Clock = std::chrono::steady_clock;

// The child starts with its standard streams only, default signal handling
// and an empty mask (the watcher ignores SIGPIPE), in a process group of its
// own so that a time-out can end a whole pipeline, and so that Ctrl+C on the
// terminal reaches only the watcher, which lets the command of the last line
// finish.
pid_t spawnShell(const std::string& command, int stdinFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    // Only the standard streams: whatever else is open (files, sockets of
    // the video source, whoever forgot close-on-exec) stays the watcher's.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    const char* const argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char* const*>(argv), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// Writes as much of text as the command takes before it ends or the time
// runs out; a command that does not read its input is not waited for.
void feed(int fd, const std::string& text, Clock::time_point deadline) {
    size_t done = 0;
    while (done < text.size() && Clock::now() < deadline) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, pollMilliseconds);
        } else if (!(n < 0 && errno == EINTR)) {
            return; // the command closed its input or ended
        }
    }
}

// Waits for the command; kills its process group at the deadline. Returns
// what went wrong, "" when nothing did.
std::string await(pid_t pid, Clock::time_point deadline) {
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return "";
        if (Clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return "still running at its time limit, stopped";
        }
        poll(nullptr, 0, pollMilliseconds);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) return "failed with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
    return "";
}

} // namespace

CommandRunner::CommandRunner(std::string command, std::function<void(const std::string&)> report)
    : command(std::move(command)), report([report](const std::string& what) { report("event command " + what); }),
      waiting(maxWaiting), worker(&CommandRunner::work, this) {}

CommandRunner::~CommandRunner() {
    finalDeadline = (Clock::now() + timeLimit).time_since_epoch().count();
    waiting.close();
    worker.join();
}

void CommandRunner::submit(const std::string& line) {
    if (!waiting.push(line, BoundedQueue<std::string>::WhenFull::Refuse))
        report("falling behind: a line was not passed on");
}

void CommandRunner::work() {
    while (const std::optional<std::string> line = waiting.pop()) {
        const Clock::time_point end{Clock::duration(finalDeadline.load())};
        const Clock::time_point deadline = std::min(Clock::now() + timeLimit, end);
        if (Clock::now() >= deadline) {
            report("not run for " + std::to_string(waiting.size() + 1) + " lines: the watcher is ending");
            return;
        }
        run(*line, deadline);
        waiting.done();
    }
}

void CommandRunner::run(const std::string& line, Clock::time_point deadline) const {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        report("could not be started (no pipe)");
        return;
    }
    const pid_t pid = spawnShell(command, fds[0]);
    close(fds[0]);
    if (pid < 0) {
        close(fds[1]);
        report("could not be started");
        return;
    }
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    feed(fds[1], line + "\n", deadline);
    close(fds[1]);
    const std::string failure = await(pid, deadline);
    if (!failure.empty()) report(failure);
}
