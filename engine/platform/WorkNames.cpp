#include "engine/platform/WorkNames.h"

#include "engine/platform/FileSystem.h"
#include "engine/rules/DxfRules.h"

namespace dxfkonv {

std::string workName(int i)
{
    return i == 0 ? std::string(kWorkFileName) : std::string(kWorkFileName).append(".").append(std::to_string(i));
}

std::string backupLinkName(int i)
{
    const std::string name = std::string(kWorkFileName) + ".zal";
    return i == 0 ? name : name + std::to_string(i);
}

bool holdsWorkFileContent(std::string_view head, std::size_t capacity)
{
    if (head.empty())
        return true;
    std::string_view line = head;
    const std::size_t lf = line.find('\n');
    if (lf == std::string_view::npos && line.size() == capacity)
        return false;
    line = line.substr(0, lf);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);  // a work file's lines end in CR LF
    return IsGroupCode(Trimmed(line));
}

}  // namespace dxfkonv
