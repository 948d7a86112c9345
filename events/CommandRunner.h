// Runs the user's --on-event command for each event line, without ever
// holding up detection: an event sink.
//
// Lines are queued for one worker thread, which runs "/bin/sh -c COMMAND"
// per line with the line (and a newline) on the command's standard input
// and its standard output sent to the watcher's standard error, so that the
// watcher's own output stays pure JSON lines; the command inherits no other
// open file of the watcher. Commands run one at a time, in
// the order of the lines. A command still running after 30 seconds is
// killed with everything it started; a failure is reported on stderr. When
// commands fall so far behind that 8 lines wait, further lines are dropped
// with a report instead of piling up. When the watcher ends, the waiting
// lines get 30 seconds in all; what is left then is reported and dropped.
// Reports go to the message callback, from the worker thread.
#pragma once

#include "events/EventSink.h"
#include "io/BoundedQueue.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

class CommandRunner : public EventSink {
public:
    CommandRunner(std::string command, std::function<void(const std::string&)> report);
    // Runs the lines still waiting, for at most 30 seconds in all, then returns.
    ~CommandRunner();
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    void submit(const std::string& line);
    void line(const EventLine& line) override { submit(line.json); }

private:
    using Clock = std::chrono::steady_clock;

    void work();
    void run(const std::string& line, Clock::time_point deadline) const;

    const std::string command;
    const std::function<void(const std::string&)> report;
    BoundedQueue<std::string> waiting;
    // Set once, when the watcher ends: the time left for the waiting lines.
    std::atomic<Clock::rep> finalDeadline{Clock::time_point::max().time_since_epoch().count()};
    std::thread worker;
};
