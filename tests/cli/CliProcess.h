// dxfkonv-cli started as a shell starts it, for the tests of the command
// line: a real process, with the limits and the user a test asks for.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace dxfkonv::test {

// Who the command line runs as, when not as this process (needs root).
struct User {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
};

// What a child sets up between fork and exec, besides its streams.
struct ChildSetup {
    std::optional<User> as;                     // who the command line runs as
    std::optional<rlim_t> fileSizeLimit;        // as `ulimit -f` sets it, in bytes
    std::optional<rlim_t> openFilesLimit;       // as `ulimit -n` sets it
    std::optional<rlim_t> addressSpaceLimit;    // as `ulimit -v` sets it, in bytes
    bool hangUpIgnored = false;                 // as nohup starts a program
};

ChildSetup runningAs(User user);

// Starts dxfkonv-cli with `args` on the streams given. Whatever this
// process does with signals, the child starts as a shell starts a program:
// every signal at its default, none blocked.
pid_t start(std::vector<std::string> args, const int (&streams)[3], const ChildSetup& setup = {});

// Waits for the child to end: its status, and what it used when `usage`
// is given.
int waitFor(pid_t pid, struct rusage* usage = nullptr);

}  // namespace dxfkonv::test
