#include "engine/platform/Signals.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace dxfkonv {

namespace {

// The signal that asked the passes to stop, 0 while none has: SIGINT for
// Ctrl-C, SIGBREAK for Ctrl-Break, SIGTERM for a closed console, a logoff
// or a shutdown.
std::atomic<int> gStopSignal{0};

// The status Windows gives a program that Ctrl-C ended (cmd.exe shows
// -1073741510 for it), whichever event it was.
constexpr UINT kControlCExit = 0xC000013A;

int signalOf(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    default: return SIGTERM;
    }
}

bool endsTheProcess(DWORD event) { return event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT; }

// The handler runs on a thread of its own. The first event asks the
// passes to stop; the next one does not wait. A closed console (a
// logoff, a shutdown) ends the process as soon as the handler returns, so
// the handler waits there for the batch to end in order: Windows gives it
// a few seconds.
BOOL WINAPI stopOnEvent(DWORD event)
{
    if (gStopSignal.exchange(signalOf(event)) != 0)
        ::ExitProcess(kControlCExit);
    if (endsTheProcess(event))
        ::Sleep(INFINITE);
    return TRUE;
}

}  // namespace

// A work file has no name the system keeps once its handle is closed: a
// process that dies leaves nothing to remove.
void RemoveUnfinishedWorkFiles() noexcept {}

// The default handling ends the process, whose handles, and so its work
// files, go with it.
void RemoveWorkFilesOnSignals() {}

void StopPassesOnSignals() { ::SetConsoleCtrlHandler(stopOnEvent, TRUE); }

int StopSignal() noexcept { return gStopSignal.load(); }

void EndBySignal(int)
{
    std::fflush(nullptr);
    ::ExitProcess(kControlCExit);
}

// Windows has neither signal: a write to a closed pipe or beyond a limit
// fails with its error.
void IgnoreSignalsOfFailedWrites() {}

}  // namespace dxfkonv
