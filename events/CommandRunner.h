// Runs the user's --on-event command for each event line, without ever
// holding up detection.
//
// Lines are queued for one worker thread, which runs "/bin/sh -c COMMAND"
// per line with the line (and a newline) on the command's standard input
// and its standard output sent to the watcher's standard error, so that the
// watcher's own output stays pure JSON lines. Commands run one at a time, in
// the order of the lines. A command still running after 30 seconds is
// killed with everything it started; a failure is reported on stderr. When
// commands fall so far behind that 8 lines wait, further lines are dropped
// with a report instead of piling up. When the watcher ends, the waiting
// lines get 30 seconds in all; what is left then is reported and dropped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

class CommandRunner {
public:
    explicit CommandRunner(std::string command);
    // Runs the lines still waiting, for at most 30 seconds in all, then returns.
    ~CommandRunner();
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    void submit(const std::string& line);

private:
    using Clock = std::chrono::steady_clock;

    void work();
    void run(const std::string& line, Clock::time_point deadline) const;

    const std::string command;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> waiting;
    bool closing = false;
    Clock::time_point finalDeadline = Clock::time_point::max();
    std::thread worker;
};
