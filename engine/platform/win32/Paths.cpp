#include <string>

#include "engine/platform/FileSystem.h"

namespace dxfkonv {

namespace {

bool separator(char c) { return c == '\\' || c == '/'; }

}  // namespace

PathParts SplitPath(const std::string& path)
{
    const std::size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) {
        // "C:plan.dxf" is a name in the current directory of drive C:.
        if (path.size() > 2 && path[1] == ':')
            return {path.substr(0, 2), path.substr(2)};
        return {std::string(), path};
    }
    std::string directory = path.substr(0, cut);
    // A root keeps its separator: "\", "C:\", "\\?\C:\".
    if (directory.empty() || directory.back() == ':')
        directory.push_back(path[cut]);
    return {std::move(directory), path.substr(cut + 1)};
}

std::string JoinPath(const std::string& directory, const std::string& name)
{
    if (directory.empty() || separator(directory.back()) || (directory.size() == 2 && directory[1] == ':'))
        return directory + name;
    return directory + '\\' + name;
}

}  // namespace dxfkonv
