#include "tests/hardening/HardeningSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "bench/DrawingMaker.h"
#include "engine/IoError.h"

namespace dxfkonv::hardening {

namespace fs = std::filesystem;

// ---- files -------------------------------------------------------------

bool exists(const std::string& path)
{
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> workFileNames(const std::vector<std::string>& names)
{
    std::vector<std::string> result;
    for (const auto& n : names)
        if (n.rfind(kWorkFileName, 0) == 0)
            result.push_back(n);
    return result;
}

std::string makeDrawing(std::size_t bytes, std::uint32_t seed)
{
    return bench::makeDrawing(bytes, seed);
}

// ---- users ---------------------------------------------------------------

using test::kNobody;

bool runningAsRoot() { return ::geteuid() == 0; }
uid_t actorUid() { return runningAsRoot() ? kNobody : ::geteuid(); }
gid_t actorGid() { return runningAsRoot() ? kNobody : ::getegid(); }

void giveToActor(const std::string& path)
{
    if (runningAsRoot() && ::lchown(path.c_str(), kNobody, kNobody) != 0)
        throw std::runtime_error("cannot chown " + path);
}

// ---- child processes ------------------------------------------------------

std::string describe(const Outcome& o)
{
    switch (o.kind) {
    case Outcome::kConverted: return "converted";
    case Outcome::kNotFound: return "not found";
    case Outcome::kIoError: return "IoError " + std::to_string(o.code) + " \"" + o.text + "\"";
    case Outcome::kRefused: return "refused " + std::to_string(o.code) + " \"" + o.text + "\"";
    case Outcome::kOtherError: return "other exception \"" + o.text + "\"";
    case Outcome::kDied: return "child died, signal " + std::to_string(o.signal);
    }
    return "?";
}

Outcome runHere(const std::function<PassReport()>& pass)
{
    Outcome o;
    try {
        const PassReport r = pass();
        o.kind = r.found ? Outcome::kConverted : Outcome::kNotFound;
    } catch (const IoError& e) {
        o.kind = Outcome::kIoError;
        o.code = e.code();
        o.text = e.what();
    } catch (const Refusal& e) {
        o.kind = Outcome::kRefused;
        o.code = e.code();
        o.text = e.what();
    } catch (const std::exception& e) {
        o.kind = Outcome::kOtherError;
        o.text = e.what();
    }
    return o;
}

namespace {

void writeAllTo(int fd, const void* data, std::size_t n)
{
    const char* p = static_cast<const char*>(data);
    while (n != 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k <= 0)
            ::_exit(120);
        p += k;
        n -= static_cast<std::size_t>(k);
    }
}

bool readAllFrom(int fd, void* data, std::size_t n)
{
    char* p = static_cast<char*>(data);
    while (n != 0) {
        const ssize_t k = ::read(fd, p, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

}  // namespace

Outcome runInChild(const std::function<PassReport()>& pass, const ChildOptions& options)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (options.dropPrivileges && runningAsRoot() && !test::becomeUser(kNobody, kNobody))
            ::_exit(121);
        if (options.fileSizeLimit != RLIM_INFINITY) {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit lim{};
            ::getrlimit(RLIMIT_FSIZE, &lim);
            lim.rlim_cur = options.fileSizeLimit;
            if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
                ::_exit(122);
        }
        if (options.openFilesLimit != RLIM_INFINITY) {
            rlim_t limit = options.openFilesLimit;
            if (limit == 0) {
                const int lowest = ::dup(0);
                ::close(lowest);
                limit = static_cast<rlim_t>(lowest);
            }
            struct rlimit lim{};
            ::getrlimit(RLIMIT_NOFILE, &lim);
            lim.rlim_cur = limit;
            if (::setrlimit(RLIMIT_NOFILE, &lim) != 0)
                ::_exit(123);
        }
        if (options.processLimit != RLIM_INFINITY) {
            struct rlimit lim{};
            ::getrlimit(RLIMIT_NPROC, &lim);
            lim.rlim_cur = options.processLimit;
            if (::setrlimit(RLIMIT_NPROC, &lim) != 0)
                ::_exit(124);
        }
        ::alarm(options.timeoutSeconds);
        const Outcome o = runHere(pass);
        const int header[3] = {static_cast<int>(o.kind), o.code, static_cast<int>(o.text.size())};
        writeAllTo(pipeFds[1], header, sizeof header);
        writeAllTo(pipeFds[1], o.text.data(), o.text.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    Outcome o;
    int header[3] = {0, 0, 0};
    if (readAllFrom(pipeFds[0], header, sizeof header)) {
        o.kind = static_cast<Outcome::Kind>(header[0]);
        o.code = header[1];
        o.text.resize(static_cast<std::size_t>(std::max(header[2], 0)));
        if (!readAllFrom(pipeFds[0], o.text.data(), o.text.size()))
            o.kind = Outcome::kDied;
    }
    ::close(pipeFds[0]);
    int status = 0;
    struct rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    o.maxRssKiB = usage.ru_maxrss;
    if (WIFSIGNALED(status)) {
        o.kind = Outcome::kDied;
        o.signal = WTERMSIG(status);
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        o.kind = Outcome::kDied;
        o.text = "exit status " + std::to_string(WEXITSTATUS(status));
    }
    return o;
}

long currentRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

PassReport ConvertInOverlappingBatch(const Drawing& drawing, const ConversionSwitches& switches, FileSystem& fs)
{
    PassReport report;
    std::exception_ptr failure;
    {
        Batch batch([&](const Batch::Outcome& outcome) {
            report = outcome.report;
            failure = outcome.failure;
        });
        const PassReport handed = Convert(drawing, switches, {}, fs, &batch);
        if (!handed.pending)
            return handed;
    }
    if (failure)
        std::rethrow_exception(failure);
    return report;
}

}  // namespace dxfkonv::hardening
