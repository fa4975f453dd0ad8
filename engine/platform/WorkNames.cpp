#include "engine/platform/WorkNames.h"

#include "engine/platform/FileSystem.h"

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

}  // namespace dxfkonv
