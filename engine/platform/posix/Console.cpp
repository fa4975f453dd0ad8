#include "engine/platform/Console.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace dxfkonv {

bool IsTerminal(StandardStream stream)
{
    return ::isatty(stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

int WriteText(StandardStream stream, const std::string& text)
{
    std::FILE* file = stream == StandardStream::kOutput ? stdout : stderr;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0)
        return 0;
    return errno != 0 ? errno : EIO;
}

}  // namespace dxfkonv
