#include "engine/rules/DxfRules.h"

#include <algorithm>

#include "engine/IoError.h"

namespace dxfkonv {

bool IsUtf8Version(std::string_view version)
{
    if (version.size() != 6 || version.substr(0, 2) != "AC")
        return false;
    int number = 0;
    for (const char c : version.substr(2)) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    return number >= 1021;
}

namespace {

constexpr CodeTails tailsFor(PassNeeds needs)
{
    CodeTails t{};
    for (const GroupCodeRule& rule : kGroupCodes)
        if (Needed(rule.need, needs))
            t[static_cast<unsigned char>(rule.digits.back())] = true;
    t[' '] = true;
    return t;
}

}  // namespace

const CodeTails& CodeTailsFor(PassNeeds needs)
{
    static constexpr CodeTails tails[4] = {tailsFor({false, false}), tailsFor({false, true}),
                                           tailsFor({true, false}), tailsFor({true, true})};
    return tails[2 * needs.texts + needs.colours];
}

void Structure::note(Code code, std::string_view value)
{
    const Awaited awaited = awaited_;
    awaited_ = Awaited::Nothing;
    switch (code) {
    case Code::Zero: {
        const std::string_view name = Trimmed(value);
        entity_ = kNoEntity;
        for (std::size_t i = 0; entities_ && i < kEntityTexts.size(); ++i)
            if (name == kEntityTexts[i].entity)
                entity_ = static_cast<unsigned char>(i);
        // The first section ends unnamed at the next group 0.
        if (firstSection_ == FirstSection::Open)
            firstSection_ = FirstSection::Settled;
        else if (firstSection_ == FirstSection::Due && name == kSectionStart)
            firstSection_ = FirstSection::Open;
        if (name == kSectionStart || name == kSectionEnd) {
            withoutTexts_ = false;
            if (name == kSectionStart) {
                awaited_ = Awaited::SectionName;
                section_ = Section::Unnamed;
                runInHeader_ = false;
            } else {
                versionDue_ = false;
                section_ = Section::None;
            }
        }
        break;
    }
    case Code::Name: {
        const std::string_view name = Trimmed(value);
        if (awaited == Awaited::SectionName && name == kSectionWithoutTexts)
            withoutTexts_ = true;
        if (section_ == Section::Unnamed)
            section_ = name == kHeaderSection ? Section::Header : Section::Other;
        if (firstSection_ == FirstSection::Open)
            firstSection_ = name == kHeaderSection ? FirstSection::Settled : FirstSection::WithoutHeader;
        break;
    }
    case Code::Header:
        if (versionDue_ && Trimmed(value) == kVersionVariable)
            awaited_ = Awaited::Version;
        break;
    case Code::Text:
        if (awaited == Awaited::Version) {
            versionDue_ = false;
            if (IsUtf8Version(Trimmed(value)))
                startInUtf8();
        }
        break;
    default:
        break;
    }
}

void Structure::startInUtf8()
{
    if (utf8Refused_)
        throw Refusal(kTextsInUtf8);
    utf8_ = true;
}

std::string DeclaredCodePage(std::string_view runLine)
{
    std::string declared(runLine);
    TrimSpaces(declared);
    for (char& c : declared)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return declared;
}

bool IsGroupCode(std::string_view s)
{
    if (!s.empty() && s.front() == '-')
        s.remove_prefix(1);
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view Trimmed(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

void TrimSpaces(std::string& s)
{
    const std::string_view t = Trimmed(s);
    if (t.size() != s.size())
        s = std::string(t);
}

bool ContainsUpper(std::string_view line, std::string_view upperNeedle)
{
    if (line.size() < upperNeedle.size())
        return false;
    const std::size_t last = line.size() - upperNeedle.size();
    for (std::size_t i = 0; i <= last; ++i) {
        std::size_t k = 0;
        for (; k < upperNeedle.size(); ++k) {
            char c = line[i + k];
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
            if (c != upperNeedle[k])
                break;
        }
        if (k == upperNeedle.size())
            return true;
    }
    return false;
}

}  // namespace dxfkonv
