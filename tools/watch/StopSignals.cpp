#include "tools/watch/StopSignals.h"

#include <csignal>
#include <initializer_list>

namespace watch {

namespace {

volatile std::sig_atomic_t stopFlag = 0;

void raiseStopFlag(int) {
    stopFlag = 1;
}

} // namespace

void installStopSignals() {
    struct sigaction action {};
    action.sa_handler = raiseStopFlag;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool stopRequested() {
    return stopFlag != 0;
}

void ignoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace watch
