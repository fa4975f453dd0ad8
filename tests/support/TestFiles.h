// Real files and directories for tests, and ways to make the system fail.
#pragma once

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <functional>
#include <string>
#include <vector>

namespace dxfkonv::test {

// A fresh directory, removed with everything in it when it goes.
class TempDir {
public:
    // Who may enter it: its owner, under the system's temporary directory;
    // or everybody, under /tmp, so that a child that gave up root still
    // reaches it. (On Windows, under the user's temporary directory.)
    enum class Access { kOwner, kEverybody };

    explicit TempDir(Access access = Access::kOwner);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }  // UTF-8
    // A name in it, joined as the platform joins them.
    std::string file(const std::string& name) const
    {
#ifdef _WIN32
        return path_ + "\\" + name;
#else
        return path_ + "/" + name;
#endif
    }
    // The names in the directory (or in a directory below it), sorted;
    // none when it cannot be read.
    std::vector<std::string> names(const std::string& sub = "") const;

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
std::string sampleFile(const std::string& name);  // content of a file in samples/
// Content of a file in tests/data/: what a conversion must write, byte for
// byte, fixed once and checked by hand.
std::string expectedFile(const std::string& name);

#ifndef _WIN32
// The user and group that tests run as when they give up root.
inline constexpr uid_t kNobody = 65534;

// Makes this process (a child of the test) the user `uid` of group `gid`
// with exactly the supplementary `groups`, for good: no way back to root.
// Calls only what a child between fork and exec may call. False when the
// system refused.
bool becomeUser(uid_t uid, gid_t gid, const std::vector<gid_t>& groups = {});

// Runs fn in a child process that has no privileges (the user nobody when
// this process is root) and returns what fn returned, or -1 if the child
// died. Files the child must reach have to be open to everybody.
int runUnprivileged(const std::function<int()>& fn);

// While alive, the process may not write files beyond `bytes` (writes past
// it fail with EFBIG instead of killing the process).
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long savedSoft_;
    void (*savedHandler_)(int);
};

#endif

}  // namespace dxfkonv::test
