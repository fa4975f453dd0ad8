#include "engine/rules/LineShape.h"

#include <algorithm>
#include <initializer_list>

#include "engine/rules/DxfRules.h"

namespace dxfkonv {

namespace {

// Whether s, its ASCII letters upper-cased, contains `upperNeedle`, which
// starts with a letter: looked for where its first letter stands.
bool findUpper(std::string_view s, std::string_view upperNeedle)
{
    if (s.size() < upperNeedle.size())
        return false;
    const std::size_t last = s.size() - upperNeedle.size();
    for (const char first : {upperNeedle[0], static_cast<char>(upperNeedle[0] | 0x20)}) {
        for (std::size_t i = 0; i <= last; ++i) {
            const void* at = std::memchr(s.data() + i, first, last + 1 - i);
            if (at == nullptr)
                break;
            i = static_cast<std::size_t>(static_cast<const char*>(at) - s.data());
            if (ContainsUpper(s.substr(i, upperNeedle.size()), upperNeedle))
                return true;
        }
    }
    return false;
}

}  // namespace

void LineShape::add(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size() && !long_) {
        if (const std::size_t spaces = runOf(s.data() + i, s.size() - i, ' '); spaces != 0) {
            (core_.empty() ? leading_ : trailing_) += spaces;
            i += spaces;
            continue;
        }
        // The spaces counted as trailing were inside the core.
        if (core_.size() + trailing_ >= longest_) {
            long_ = true;
            break;
        }
        core_.append(static_cast<std::size_t>(trailing_), ' ');
        trailing_ = 0;
        core_ += s[i++];
    }
}

void WordWatch::add(std::string_view s)
{
    if (found_ || s.empty())
        return;
    const std::size_t overlap = word_.size() - 1;
    seam_.append(s.substr(0, std::min(s.size(), overlap)));
    found_ = findUpper(seam_, word_) || findUpper(s, word_);
    if (s.size() >= overlap)
        seam_.assign(s.substr(s.size() - overlap));
    else if (seam_.size() > overlap)
        seam_.erase(0, seam_.size() - overlap);
}

}  // namespace dxfkonv
