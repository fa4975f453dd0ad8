#include "ui/win32/Paths.h"

#include <algorithm>

namespace dxfkonv::win32 {

namespace {

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Where the root ends in a path with "\" separators only: after "C:\" or
// after "\\server\share\"; 0 for a path without a root.
std::size_t rootLength(const std::string& path)
{
    if (path.size() >= 2 && isLetter(path[0]) && path[1] == ':')
        return path.size() > 2 && path[2] == kSeparator ? 3 : 2;
    if (path.size() >= 2 && path[0] == kSeparator && path[1] == kSeparator) {
        const std::size_t server = path.find(kSeparator, 2);
        if (server == std::string::npos)
            return path.size();
        const std::size_t share = path.find(kSeparator, server + 1);
        return share == std::string::npos ? path.size() : share + 1;
    }
    return 0;
}

std::string withBackslashes(std::string path)
{
    std::replace(path.begin(), path.end(), '/', kSeparator);
    return path;
}

}  // namespace

std::string NormalisePath(const std::string& path)
{
    const std::string slashed = withBackslashes(path);
    const bool unc = slashed.size() >= 2 && slashed[0] == kSeparator && slashed[1] == kSeparator;
    std::string result = unc ? std::string(2, kSeparator) : std::string();
    for (std::size_t i = result.size(); i < slashed.size(); ++i) {
        if (slashed[i] == kSeparator && !result.empty() && result.back() == kSeparator)
            continue;
        result.push_back(slashed[i]);
    }
    const std::size_t root = rootLength(result);
    if (root == 2 && !unc)
        result.push_back(kSeparator);  // "C:" is the drive's root
    else if (unc && root == result.size() && result.back() != kSeparator)
        result.push_back(kSeparator);
    while (result.size() > std::max<std::size_t>(rootLength(result), 1) && result.back() == kSeparator)
        result.pop_back();
    return result;
}

std::string RootOf(const std::string& path)
{
    const std::string normal = NormalisePath(path);
    return normal.substr(0, rootLength(normal));
}

std::vector<std::string> PathChain(const std::string& directory)
{
    const std::string path = NormalisePath(directory);
    const std::size_t root = rootLength(path);
    std::vector<std::string> chain;
    if (root == 0)
        return {path};
    chain.push_back(path.substr(0, root));
    for (std::size_t at = path.find(kSeparator, root); at != std::string::npos;
         at = path.find(kSeparator, at + 1))
        chain.push_back(path.substr(0, at));
    if (path.size() > root)
        chain.push_back(path);
    return chain;
}

std::string LastComponent(const std::string& path)
{
    const std::string normal = NormalisePath(path);
    const std::size_t root = rootLength(normal);
    if (normal.size() <= root)
        return normal;
    const std::size_t last = normal.rfind(kSeparator);
    return last == std::string::npos || last < root ? normal.substr(root) : normal.substr(last + 1);
}

}  // namespace dxfkonv::win32
