// The lines of the code-page run and where the pass declares the code page
// itself: each line read whole, cut at every byte and byte by byte, and
// the lines the pass writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PieceCuts.h"
#include "engine/rules/CodePageRun.h"

using namespace dxfkonv;
using dxfkonv::testing::EveryCutting;

TEST(CodePageRun, LinesEveryWay)
{
    const struct {
        bool atCode;
        bool afterCodePage;  // the run's last code line was a 3
        std::string line;
        bool endMarked;
        Code code;
        bool ends;
        bool replaced;
        bool codePage;
        const char* standIn;  // where replaced: the code page the line declares
    } cases[] = {
        {true, false, "  3", false, Code::Part, false, false, true, "3"},
        {true, false, " 3 ", false, Code::Part, false, false, true, "3"},
        {true, false, " 30", false, Code::Other, false, false, false, "30"},
        {true, false, "  9", false, Code::Header, false, false, false, "9"},
        {true, false, "  0", false, Code::Zero, true, false, false, "0"},
        {true, false, "  1", false, Code::Text, false, false, false, "1"},
        {true, true, "ANSI", false, Code::Other, false, true, false, "ANSI"},
        {false, true, "dos852", false, Code::Other, false, true, false, "DOS852"},
        {false, true, "", false, Code::Other, false, true, false, ""},
        {false, true, "  UNDEFINED ", false, Code::Other, false, true, false, "UNDEFINED"},
        {false, false, "dos852", false, Code::Other, false, false, false, "dos852"},
        {false, false, "ANSI_852", false, Code::Other, false, true, false, "ANSI_852"},
        {false, false, "xAnSiy", false, Code::Other, false, true, false, "XANSIY"},
        {false, false, "  ANS I", false, Code::Other, false, false, false, "ANS I"},
        {false, false, "$ACADVER", true, Code::Other, true, false, false, "$ACADVER"},
        {false, true, "ANSI_1250$", true, Code::Other, true, false, false, "ANSI_1250$"},
        {true, false, "$", true, Code::Other, true, false, false, "$"},
        {false, false, "a line of more than sixteen bytes, ANSI at its end", false, Code::Other, false, true,
         false, "\x01"},
    };
    const CodeTails& tails = CodeTailsFor({true, true});
    for (const auto& c : cases) {
        for (const auto& cutting : EveryCutting(c.line)) {
            CodePageRunLine line(c.atCode, c.afterCodePage);
            for (const std::string_view piece : cutting.pieces)
                line.add(piece);
            const CodePageRunLine::Verdict verdict = line.end(tails);
            const std::string at = "'" + c.line + "' " + cutting.how;
            EXPECT_EQ(line.endMarked(), c.endMarked) << at;
            EXPECT_EQ(verdict.code, c.code) << at;
            EXPECT_EQ(verdict.ends, c.ends) << at;
            EXPECT_EQ(verdict.replaced, c.replaced) << at;
            EXPECT_EQ(verdict.codePage, c.codePage) << at;
            if (c.replaced && std::string_view(c.standIn) != "\x01")
                EXPECT_EQ(DeclaredCodePage(line.standIn()), c.standIn) << at;
            else
                EXPECT_EQ(line.standIn(), c.standIn) << at;
        }
    }
}

// A "$" says at once that the line stays: the pass holds it back no
// longer.
TEST(CodePageRun, EndMarkedWhereTheDollarComes)
{
    const std::string line = "  $DWGCODEPAGE and more";
    CodePageRunLine reader(false, true);
    std::size_t read = 0;
    while (!reader.endMarked())
        reader.add(std::string_view(line).substr(read++, 1));
    EXPECT_EQ(read, 3u);
}

namespace {

// The structure where the pass waits for a group code 0's value.
enum class State { FirstSectionDue, CodePageDue, Neither };

Structure structureIn(State state)
{
    Structure structure(true, true);
    if (state == State::FirstSectionDue)
        return structure;
    structure.follow(Code::Zero, "SECTION");
    structure.follow(Code::Name, "HEADER");
    if (state == State::Neither) {
        structure.follow(Code::Header, "$DWGCODEPAGE");
        structure.codePageRunStarts();
    }
    return structure;
}

}  // namespace

TEST(CodePageRun, WhatGoesBeforeAGroupCodeZero)
{
    const struct {
        State state;
        std::string value;
        bool mayDecide;  // at the end of the value
        BeforeZero before;
    } cases[] = {
        {State::CodePageDue, "ENDSEC", true, BeforeZero::CodePage},
        {State::CodePageDue, "  ENDSEC  ", true, BeforeZero::CodePage},
        {State::CodePageDue, "ENDSECT", false, BeforeZero::Nothing},
        {State::CodePageDue, "endsec", false, BeforeZero::Nothing},
        {State::CodePageDue, "END SEC", false, BeforeZero::Nothing},
        {State::CodePageDue, "ENDS", true, BeforeZero::Nothing},
        {State::CodePageDue, "SECTION", true, BeforeZero::Nothing},
        {State::CodePageDue, "LINE", false, BeforeZero::Nothing},
        {State::FirstSectionDue, "SECTION", true, BeforeZero::HoldBack},
        {State::FirstSectionDue, " SECTION ", true, BeforeZero::HoldBack},
        {State::FirstSectionDue, "SECT", true, BeforeZero::Nothing},
        {State::FirstSectionDue, "SECTION\t", false, BeforeZero::Nothing},
        {State::FirstSectionDue, "ENDSEC", true, BeforeZero::Nothing},
        {State::FirstSectionDue, "", true, BeforeZero::Nothing},
        {State::Neither, "ENDSEC", true, BeforeZero::Nothing},
        {State::Neither, "SECTION", true, BeforeZero::Nothing},
    };
    for (const auto& c : cases) {
        const Structure structure = structureIn(c.state);
        EXPECT_EQ(WhatGoesBeforeZero(structure, c.value), c.before) << c.value;
        for (const auto& cutting : EveryCutting(c.value)) {
            ZeroValueReader reader;
            for (const std::string_view piece : cutting.pieces)
                reader.add(piece);
            EXPECT_EQ(reader.mayDecide(), c.mayDecide) << "'" << c.value << "' " << cutting.how;
            EXPECT_EQ(reader.end(structure), c.before) << "'" << c.value << "' " << cutting.how;
        }
    }
}

TEST(CodePageRun, DeclarationsThePassWrites)
{
    const struct {
        bool latinToWindows;
        std::vector<std::string_view> codePage;
        std::vector<std::string_view> header;
    } cases[] = {
        {true,
         {"  9", "$DWGCODEPAGE", "  3", "ANSI_1250"},
         {"  0", "SECTION", "  2", "HEADER", "  9", "$DWGCODEPAGE", "  3", "ANSI_1250", "  0", "ENDSEC"}},
        {false,
         {"  9", "$DWGCODEPAGE", "  3", "ANSI_852"},
         {"  0", "SECTION", "  2", "HEADER", "  9", "$DWGCODEPAGE", "  3", "ANSI_852", "  0", "ENDSEC"}},
    };
    for (const auto& c : cases) {
        const CodePageLines codePage = CodePageDeclaration(c.latinToWindows);
        EXPECT_EQ(std::vector<std::string_view>(codePage.begin(), codePage.end()), c.codePage);
        const HeaderLines header = HeaderDeclaration(c.latinToWindows);
        EXPECT_EQ(std::vector<std::string_view>(header.begin(), header.end()), c.header);
    }
}
