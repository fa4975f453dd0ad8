#include "engine/rules/CodePageRun.h"

#include <cstring>

namespace dxfkonv {

void CodePageRunLine::add(std::string_view piece)
{
    shape_.add(piece);
    value_.add(piece);
    endMarked_ = endMarked_ || std::memchr(piece.data(), kRunEndMark, piece.size()) != nullptr;
}

CodePageRunLine::Verdict CodePageRunLine::end(const CodeTails& tails) const
{
    Verdict verdict;
    if (atCode_) {
        verdict.code = ClassifyCode(shape_.standIn(), tails);
        verdict.codePage = shape_.standIn() == kCodePageCode;
    }
    verdict.ends = endMarked_ || verdict.code == Code::Zero;
    verdict.replaced = !verdict.ends && (value_.found() || (!atCode_ && afterCodePage_));
    return verdict;
}

BeforeZero ZeroValueReader::end(const Structure& structure) const
{
    if (structure.codePageDue() && shape_.standIn() == kSectionEnd)
        return BeforeZero::CodePage;
    if (structure.firstSectionDue() && shape_.standIn() == kSectionStart)
        return BeforeZero::HoldBack;
    return BeforeZero::Nothing;
}

CodePageLines CodePageDeclaration(bool latinToWindows)
{
    return {"  9", "$DWGCODEPAGE", "  3", CodePageValue(latinToWindows)};
}

HeaderLines HeaderDeclaration(bool latinToWindows)
{
    const CodePageLines declaration = CodePageDeclaration(latinToWindows);
    return {"  0",          "SECTION",      "  2",          "HEADER", declaration[0],
            declaration[1], declaration[2], declaration[3], "  0",    "ENDSEC"};
}

}  // namespace dxfkonv
