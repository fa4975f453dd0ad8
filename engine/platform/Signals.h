// How signals end a conversion: in order, with nothing left behind.
//
// On Windows the console's events stand for the signals: Ctrl-C for
// SIGINT, Ctrl-Break for SIGBREAK, a closed console, a logoff or a
// shutdown for SIGTERM. A work file there vanishes with its process
// whatever ends it, so nothing is left to remove; and a program that a
// stop ended exits with the status Ctrl-C gives (0xC000013A).
#pragma once

#include <exception>

namespace dxfkonv {

// Removes the named work files of passes under way. Only what a signal
// handler may call is called, so a program can call it from one before it
// ends; where the file system allows, a work file has no name until just
// before the replace, and nothing is left to remove.
void RemoveUnfinishedWorkFiles() noexcept;

// Makes SIGINT, SIGTERM and SIGHUP remove the named work files of passes
// under way before they end the program as they would have (the shell then
// sees the status 128 + the signal's number). One the program was started
// with ignored (nohup, a background job) stays ignored.
void RemoveWorkFilesOnSignals();

// What a pass throws when a signal has asked the passes to stop (see
// StopPassesOnSignals()): its drawing is untouched, its work file gone.
// No failure of the drawing's own.
class Interrupted : public std::exception {
public:
    explicit Interrupted(int signal) : signal_(signal) {}
    const char* what() const noexcept override { return "interrupted by a signal"; }
    int signal() const noexcept { return signal_; }

private:
    int signal_;
};

// Makes SIGINT, SIGTERM and SIGHUP ask the passes under way to stop, so a
// program can end in order: each pass throws Interrupted at its next block
// read, the last steps already under way in a batch end as usual, and the
// program then reports what was done and calls EndBySignal(). A second one
// of these signals ends the program at once, as RemoveWorkFilesOnSignals()
// does. One the program was started with ignored stays ignored.
void StopPassesOnSignals();
// The signal that asked the passes to stop; 0 while none has.
int StopSignal() noexcept;
// Ends the program by `signal` as if no handler had caught it, so the
// shell sees a death by that signal (status 128 + its number).
[[noreturn]] void EndBySignal(int signal);

// Makes a write beyond the file-size limit (SIGXFSZ) or into a pipe nobody
// reads any more (SIGPIPE) fail with its error ("Disk full." for the
// limit) instead of ending the program, perhaps in the middle of a pass.
void IgnoreSignalsOfFailedWrites();

}  // namespace dxfkonv
