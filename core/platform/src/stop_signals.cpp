#include "platform/stop_signals.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace corvane {

namespace {

volatile std::sig_atomic_t g_requested = 0;
int g_pipe[2] = {-1, -1};
int g_deferrals = 0;

void onStopSignal(int signal) {
    const int saved = errno;
    if (g_requested == 0)
        g_requested = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void installStopSignals() {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_pipe[0] = g_pipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // These fail only for a signal that does not exist or cannot be caught.
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        (void)::sigaction(signal, &action, nullptr);
    (void)std::signal(SIGPIPE, SIG_IGN);
}

int stopRequested() {
    return g_requested;
}

int stopExitStatus() {
    return 128 + g_requested;
}

int stopSignalDescriptor() {
    return g_pipe[0];
}

StopDeferral::StopDeferral() {
    ++g_deferrals;
}

StopDeferral::~StopDeferral() {
    --g_deferrals;
}

bool stopIsDeferred() {
    return g_deferrals > 0;
}

} // namespace corvane
