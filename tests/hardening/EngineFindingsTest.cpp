// Inputs that once made the engine write a drawing it could not read back
// the same way; kept so they stay sound.

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "engine/pass/LinePass.h"
#include "engine/rules/Switches.h"

namespace dxfkonv {
namespace {

// Lines as CR LF ends them; a lone CR or LF inside counts as a break.
bool onlyCrLfLineEnds(std::string_view s)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && (i + 1 >= s.size() || s[i + 1] != '\n'))
            return false;
        if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r'))
            return false;
    }
    return true;
}

// "%%10" and "%%13" decode to the bytes LF and CR; written into the text
// line as they are, they would split it in two when the file is read
// again, and every group code after it would be taken for a value.
TEST(FoundByHardening, DecodedLineBreakStaysInsideItsLine)
{
    const ConversionSwitches lw;  // recode "lw", 256 colours "sa"
    const std::string input = "  1\r\nA%%10B%%13C\r\n 62\r\n     5\r\n  0\r\nEOF\r\n";
    const std::string out = ConvertBuffer(input, lw);
    // The text stays one line, the bytes become spaces.
    EXPECT_TRUE(onlyCrLfLineEnds(out));
    EXPECT_EQ(out, "  1\r\nA B C\r\n 62\r\n4\r\n  0\r\nEOF\r\n");
}

// A "lw" pass turns a text that starts with "%%26" into one that starts
// with the byte 0x1A. A later pass that leaves texts alone (colours only)
// must not take that byte for the DOS end-of-file mark and lose the rest.
TEST(FoundByHardening, TextStartingWithCtrlZSurvivesALaterPass)
{
    const ConversionSwitches lw;
    const std::string input = "  1\r\n%%26abc\r\n 62\r\n     5\r\n  0\r\nEOF\r\n";
    const std::string first = ConvertBuffer(input, lw);
    ASSERT_EQ(first, "  1\r\n\x1A" "abc\r\n 62\r\n4\r\n  0\r\nEOF\r\n");

    ConversionSwitches coloursOnly;
    coloursOnly.recodeTexts = false;
    coloursOnly.colourDirection = kAutocadToTarnix;
    const std::string second = ConvertBuffer(first, coloursOnly);
    // 0x1A ends the input only where a group code is due.
    EXPECT_EQ(second, "  1\r\n\x1A" "abc\r\n 62\r\n5\r\n  0\r\nEOF\r\n");
}

}  // namespace
}  // namespace dxfkonv
