#include "engine/platform/Signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace dxfkonv {

namespace {

// The signal that asked the passes to stop, 0 while none has.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void endOnSignal(int signal)
{
    RemoveUnfinishedWorkFiles();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// The first signal asks the passes to stop; the next one does not wait.
extern "C" void stopOnSignal(int signal)
{
    if (gStopSignal.exchange(signal) != 0)
        endOnSignal(signal);
}

void handleEndingSignals(void (*handler)(int))
{
    struct sigaction action{};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;  // what the program waits for goes on
    sigemptyset(&action.sa_mask);
    for (const int signal : kEndingSignals)
        sigaddset(&action.sa_mask, signal);
    for (const int signal : kEndingSignals) {
        struct sigaction before{};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

void RemoveWorkFilesOnSignals() { handleEndingSignals(endOnSignal); }

void StopPassesOnSignals() { handleEndingSignals(stopOnSignal); }

int StopSignal() noexcept { return gStopSignal.load(); }

void EndBySignal(int signal)
{
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);  // not reached: these signals end a program
}

void IgnoreSignalsOfFailedWrites()
{
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace dxfkonv
