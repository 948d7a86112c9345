#include "io/Shutdown.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <utility>

namespace {

// The handler does nothing but store to this flag: no allocation, no
// output, nothing that a second signal arriving inside it could break.
volatile std::sig_atomic_t stopSignalled = 0;

extern "C" void onStopSignal(int) {
    stopSignalled = 1;
}

void handle(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls resume: the loop polls the flag anyway, and
    // library code (the toolkit, the decoders) need not cope with EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

std::function<void()> exitFinish; // empty while no guard lives

extern "C" void finishOnExit() {
    if (!exitFinish) return;
    const std::function<void()> finish = std::move(exitFinish);
    exitFinish = nullptr;
    finish();
    // The remaining exit handlers and destructors belong to a toolkit that
    // has just lost its display; ending here keeps them from running.
    std::fflush(nullptr);
    std::_Exit(255);
}

} // namespace

ExitGuard::ExitGuard(std::function<void()> finish) {
    static const bool registered = std::atexit(finishOnExit) == 0;
    (void)registered;
    exitFinish = std::move(finish);
}

ExitGuard::~ExitGuard() {
    exitFinish = nullptr;
}

void installStopSignals() {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) handle(signalNumber, onStopSignal);
}

bool stopRequested() {
    return stopSignalled != 0;
}

void ignoreBrokenPipe() {
    handle(SIGPIPE, SIG_IGN);
}
