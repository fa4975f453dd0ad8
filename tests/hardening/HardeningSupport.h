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

#include "TestFiles.h"
#include "engine/Convert.h"
#include "engine/FileOps.h"
#include "engine/LinePass.h"

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
    enum Kind { kConverted, kNotFound, kIoError, kOtherError, kDied } kind = kDied;
    int code = 0;          // IoError number
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

enum class Op : int {
    kOpen, kRead, kPread, kWrite, kFsync, kClose, kFstat, kStat, kLstat, kAccess,
    kFchmod, kFchown, kFutimens, kLink, kRename, kUnlink, kRealpath, kCount
};
const char* opName(Op op);

// Passes every call to the system, counting calls per operation; fails the
// calls `fault` picks (its result is the errno to fail with, 0 for none),
// and can cut reads and writes short or interrupt them.
class FaultyOps final : public FileOps {
public:
    std::function<int(Op op, int nth)> fault;   // nth counts from 1 per operation
    std::function<void(Op op, int nth)> before; // runs ahead of each call
    std::size_t maxRead = 0;   // 0: no limit
    std::size_t maxWrite = 0;  // 0: no limit
    bool interruptEveryOther = false;  // every other read/write fails with EINTR first

    int calls(Op op) const
    {
        std::lock_guard lock(mutex_);
        return counts_[static_cast<int>(op)];
    }

    int open(const std::string& path, int flags, mode_t mode) override;
    ssize_t read(int fd, void* buffer, std::size_t n) override;
    ssize_t pread(int fd, void* buffer, std::size_t n, off_t offset) override;
    ssize_t write(int fd, const void* data, std::size_t n) override;
    int fsync(int fd) override;
    int close(int fd) override;
    int fstat(int fd, struct stat* st) override;
    int stat(const std::string& path, struct stat* st) override;
    int lstat(const std::string& path, struct stat* st) override;
    int access(const std::string& path, int mode) override;
    int fchmod(int fd, mode_t mode) override;
    int fchown(int fd, uid_t owner, gid_t group) override;
    int futimens(int fd, const struct timespec times[2]) override;
    int link(const std::string& from, const std::string& to) override;
    int rename(const std::string& from, const std::string& to) override;
    int unlink(const std::string& path) override;
    std::string realpath(const std::string& path) override;

private:
    // Counts the call; true (errno set) when it is to fail.
    bool failing(Op op);

    FileOps& real_ = SystemFileOps();
    mutable std::mutex mutex_;
    std::array<int, static_cast<int>(Op::kCount)> counts_{};
    std::atomic<int> ioCalls_ = 0;
};

}  // namespace dxfkonv::hardening
