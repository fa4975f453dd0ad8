#include "engine/rules/FirstLine.h"

#include "engine/rules/DxfRules.h"

namespace dxfkonv {

InputStart ReadInputStart(std::string_view head)
{
    if (head == kBinarySentinel)
        return InputStart::Binary;
    if (head.empty())
        return InputStart::Empty;
    return head.starts_with(kUtf8Mark) ? InputStart::Marked : InputStart::Unmarked;
}

bool FirstLineReader::groupCode() const
{
    return shape_.coreKept() && IsGroupCode(shape_.core());
}

}  // namespace dxfkonv
