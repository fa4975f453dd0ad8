// The POSIX side of the tests' helpers: other users and file-size limits.
#include "TestFiles.h"

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

namespace dxfkonv::test {

bool becomeUser(uid_t uid, gid_t gid, const std::vector<gid_t>& groups)
{
    // The groups and the group first: once the user is set, they cannot be.
    return setgroups(groups.size(), groups.data()) == 0 && setgid(gid) == 0 && setuid(uid) == 0;
}

int runUnprivileged(const std::function<int()>& fn)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (geteuid() == 0 && !becomeUser(kNobody, kNobody))
            _exit(255);
        _exit(fn());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

FileSizeLimit::FileSizeLimit(unsigned long bytes)
{
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    savedSoft_ = limit.rlim_cur;
    limit.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = savedSoft_;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, savedHandler_);
}

}  // namespace dxfkonv::test
