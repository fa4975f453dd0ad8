// A library the benchmark preloads into the processes it times to make
// every flush as slow as on a network share: fsync, fdatasync, syncfs and
// sync_file_range(SYNC_FILE_RANGE_WAIT_AFTER) wait DXFKONV_FLUSH_DELAY_US
// microseconds (default 2000) before they do what they do. Linux only.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace {

void wait()
{
    static const long delay = [] {
        const char* text = std::getenv("DXFKONV_FLUSH_DELAY_US");
        return text ? std::strtol(text, nullptr, 10) : 2000L;
    }();
    timespec left{delay / 1000000, (delay % 1000000) * 1000};
    while (::nanosleep(&left, &left) != 0) {
    }
}

template <typename F>
F next(const char* name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int fsync(int fd)
{
    static const auto real = next<int (*)(int)>("fsync");
    wait();
    return real(fd);
}

int fdatasync(int fd)
{
    static const auto real = next<int (*)(int)>("fdatasync");
    wait();
    return real(fd);
}

int syncfs(int fd)
{
    static const auto real = next<int (*)(int)>("syncfs");
    wait();
    return real(fd);
}

int sync_file_range(int fd, off64_t offset, off64_t nbytes, unsigned int flags)
{
    static const auto real = next<int (*)(int, off64_t, off64_t, unsigned int)>("sync_file_range");
    if (flags & SYNC_FILE_RANGE_WAIT_AFTER)
        wait();
    return real(fd, offset, nbytes, flags);
}

}  // extern "C"
