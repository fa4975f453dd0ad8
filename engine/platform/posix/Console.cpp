#include "engine/platform/Console.h"

#include <unistd.h>

namespace dxfkonv {

bool IsTerminal(StandardStream stream)
{
    return ::isatty(stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

}  // namespace dxfkonv
