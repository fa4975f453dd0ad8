#include "CliProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "TestFiles.h"

extern char** environ;

namespace dxfkonv::test {

ChildSetup runningAs(User user)
{
    ChildSetup setup;
    setup.as = std::move(user);
    return setup;
}

pid_t start(std::vector<std::string> args, const int (&streams)[3], const ChildSetup& setup)
{
    args.insert(args.begin(), DXFKONV_CLI);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    for (int fd = 0; fd < 3; ++fd) {
        if (streams[fd] < 0 || dup2(streams[fd], fd) < 0)
            _exit(126);
    }
    for (const int fd : streams)
        if (fd > 2)
            close(fd);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ})
        ::signal(signal, SIG_DFL);
    if (setup.hangUpIgnored)
        ::signal(SIGHUP, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (setup.fileSizeLimit) {
        struct rlimit limit{};
        if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(126);
        limit.rlim_cur = *setup.fileSizeLimit;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(126);
    }
    if (setup.openFilesLimit) {
        const struct rlimit limit{*setup.openFilesLimit, *setup.openFilesLimit};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(126);
    }
    if (setup.addressSpaceLimit) {
        const struct rlimit limit{*setup.addressSpaceLimit, *setup.addressSpaceLimit};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(126);
    }
    if (setup.as && !becomeUser(setup.as->uid, setup.as->gid, setup.as->groups))
        _exit(126);
    execve(DXFKONV_CLI, argv.data(), environ);
    _exit(127);
}

int waitFor(pid_t pid, struct rusage* usage)
{
    int status = 0;
    while (wait4(pid, &status, 0, usage) < 0 && errno == EINTR) {
    }
    return status;
}

}  // namespace dxfkonv::test
