#pragma once

// Ctrl-C (SIGINT), a closed terminal (SIGHUP) and a polite kill (SIGTERM) become a request to
// stop, which the program's long operations look at: they end the tool they run and remove
// what they made before the program ends. SIGPIPE is ignored: output that cannot be written
// is lost output, not a reason to stop.

namespace corvane {

// Takes over the three signals and ignores SIGPIPE, for the rest of the process.
void installStopSignals();
// The signal that asked to stop; 0 while none did.
int stopRequested();
// The exit status of a program ended by a stop request: 128 and the signal's number, as
// shells report it.
int stopExitStatus();
// A descriptor that becomes readable, and stays so, once a stop is requested; -1 before
// installStopSignals().
int stopSignalDescriptor();

// While one lives, a stop request is left to the code that made it, which looks at it between
// its steps; the user interface then does not end the program at once.
class StopDeferral {
public:
    StopDeferral();
    ~StopDeferral();
    StopDeferral(const StopDeferral&) = delete;
    StopDeferral& operator=(const StopDeferral&) = delete;
};
bool stopIsDeferred();

} // namespace corvane
