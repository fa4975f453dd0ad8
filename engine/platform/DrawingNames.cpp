#include "engine/platform/FileSystem.h"

namespace dxfkonv {

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool IsDrawingName(const std::string& name)
{
    static constexpr char kExtension[] = ".dxf";
    constexpr std::size_t n = sizeof kExtension - 1;
    if (name.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (lowerAscii(name[name.size() - n + i]) != kExtension[i])
            return false;
    return true;
}

}  // namespace dxfkonv
