// Helpers of the hardening tests: scratch directories, child processes
// (with fewer privileges, limits, or to be killed), and a file layer that
// fails chosen calls.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "FaultyOps.h"
#include "TestFiles.h"
#include "engine/replace/Convert.h"
#include "engine/platform/posix/FileOps.h"
#include "engine/pass/LinePass.h"

namespace dxfkonv::hardening {

// ---- files -------------------------------------------------------------

// A fresh directory that everybody may enter (so a child that gave up root
// still reaches it); removed with its content when it goes.
class ScratchDir : public test::TempDir {
public:
    ScratchDir() : TempDir(Access::kEverybody) {}
    std::string operator/(const std::string& name) const { return file(name); }
};

using test::readFile;
using test::writeFile;
bool exists(const std::string& path);  // anything at all, a dangling link too
// The names in `names` that a pass may leave behind when it should not:
// the work file and its numbered and backup variants.
std::vector<std::string> workFileNames(const std::vector<std::string>& names);

// A realistic drawing of about `bytes` bytes: header with $DWGCODEPAGE,
// layers, texts with escapes, lines, colours.
std::string makeDrawing(std::size_t bytes, std::uint32_t seed = 1);

// ---- users ---------------------------------------------------------------

// Whoever the tests act as in an unprivileged child: nobody (65534) when
// this process is root, the current user otherwise.
bool runningAsRoot();
uid_t actorUid();
gid_t actorGid();
// Hands a path to the actor (only needed, and only possible, as root).
void giveToActor(const std::string& path);

// ---- child processes ------------------------------------------------------

// What became of a pass run in a child process.
struct Outcome {
    enum Kind { kConverted, kNotFound, kIoError, kRefused, kOtherError, kDied } kind = kDied;
    int code = 0;          // IoError or Refusal number
    std::string text;      // IoError text (what())
    int signal = 0;        // for kDied
    long maxRssKiB = 0;    // the child's peak resident memory
};
std::string describe(const Outcome& o);

struct ChildOptions {
    bool dropPrivileges = false;  // become nobody (when root) before the pass
    rlim_t fileSizeLimit = RLIM_INFINITY;   // RLIMIT_FSIZE, SIGXFSZ ignored
    rlim_t openFilesLimit = RLIM_INFINITY;  // RLIMIT_NOFILE (0: just above the lowest free fd)
    rlim_t processLimit = RLIM_INFINITY;    // RLIMIT_NPROC (0: no new thread can start)
    unsigned timeoutSeconds = 60;           // the child is killed (SIGALRM) after this long
};

// Runs `pass` in a forked child with the options applied and reports how it
// ended. The child runs nothing but `pass` and the reporting.
Outcome runInChild(const std::function<PassReport()>& pass, const ChildOptions& options = {});

// Runs a pass here, catching its error the same way.
Outcome runHere(const std::function<PassReport()>& pass);

// Converts a drawing in a batch whose drawings overlap, as the command
// line does, and hands back its outcome, thrown as an error where it
// failed: whatever the last steps came to on the batch's thread.
PassReport ConvertInOverlappingBatch(const Drawing& drawing, const ConversionSwitches& switches, FileSystem& fs);

// AddressSanitizer keeps freed memory in quarantine and adds shadow
// memory, so peak memory says nothing about the engine under it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kPeakMemoryMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kPeakMemoryMeaningful = false;
#else
inline constexpr bool kPeakMemoryMeaningful = true;
#endif
#else
inline constexpr bool kPeakMemoryMeaningful = true;
#endif

// The resident memory of this process now, in KiB.
long currentRssKiB();

// ---- a file layer that fails on request ------------------------------------

using test::FaultyOps;
using test::Op;
using test::opName;

}  // namespace dxfkonv::hardening
