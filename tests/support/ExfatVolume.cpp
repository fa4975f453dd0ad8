#include "ExfatVolume.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace dxfkonv::test {

namespace {

constexpr off_t kImageSize = off_t{64} << 20;

// Runs the program `args[0]` (looked up in PATH, and in the
// administrator's directories, where its tools are) with `args`, its
// standard output into `out` when given, its errors nowhere; true when it
// exited with 0.
bool run(const std::vector<std::string>& args, std::string* out = nullptr)
{
    int pipeFds[2] = {-1, -1};
    if (out && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(out ? pipeFds[1] : null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const char* dir : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"})
            ::execv((dir + args[0]).c_str(), argv.data());
        ::execvp(args[0].c_str(), argv.data());
        ::_exit(127);
    }
    if (out) {
        ::close(pipeFds[1]);
        char buffer[256];
        ssize_t got;
        while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
            if (got > 0)
                out->append(buffer, static_cast<std::size_t>(got));
        ::close(pipeFds[0]);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

ExfatVolume::ExfatVolume()
{
    if (::geteuid() != 0) {
        whyNot_ = "an exFAT volume needs root (loop devices and mounting)";
        return;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        whyNot_ = "an exFAT volume needs /dev/fuse";
        return;
    }
    const std::string image = dir_.file("exfat.img");
    const int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool sized = fd >= 0 && ::ftruncate(fd, kImageSize) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!sized) {
        whyNot_ = "no image file for an exFAT volume could be made";
        return;
    }
    if (!run({"mkfs.exfat", image})) {
        whyNot_ = "mkfs.exfat (exfatprogs) is missing or failed";
        return;
    }
    std::string loop;
    if (!run({"losetup", "--find", "--show", image}, &loop) || loop.empty()) {
        whyNot_ = "no loop device could be attached (losetup)";
        return;
    }
    while (!loop.empty() && (loop.back() == '\n' || loop.back() == '\r'))
        loop.pop_back();
    mountPoint_ = dir_.file("mnt");
    const bool made = ::mkdir(mountPoint_.c_str(), 0755) == 0;
    mounted_ = made && run({"mount.exfat-fuse", loop, mountPoint_});
    // Detached at once: the system frees the loop device by itself when
    // the volume is unmounted, so nothing is left even if the test dies.
    run({"losetup", "--detach", loop});
    if (!mounted_) {
        whyNot_ = "mount.exfat-fuse (exfat-fuse) is missing or failed";
        mountPoint_.clear();
    }
}

ExfatVolume::~ExfatVolume()
{
    if (!mounted_)
        return;
    // A file the test left open keeps the volume busy: then it goes as
    // soon as nothing holds it.
    if (::umount2(mountPoint_.c_str(), 0) != 0 && !run({"fusermount", "-u", mountPoint_}))
        ::umount2(mountPoint_.c_str(), MNT_DETACH);
}

}  // namespace dxfkonv::test
