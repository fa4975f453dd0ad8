// The start of the input: what its first bytes are, and whether its first
// line is a group code, read whole, cut at every byte and byte by byte.
#include <gtest/gtest.h>

#include <string>

#include "PieceCuts.h"
#include "engine/rules/FirstLine.h"

using namespace dxfkonv;
using dxfkonv::testing::EveryCutting;

TEST(FirstLine, InputStart)
{
    const struct {
        std::string head;
        InputStart start;
    } cases[] = {
        {"", InputStart::Empty},
        {std::string("AutoCAD Binary DXF\r\n\x1A\0", 22), InputStart::Binary},
        {"AutoCAD Binary DXF\r\n", InputStart::Unmarked},  // cut short: an ordinary (refused) first line
        {std::string("AutoCAD Binary DXF\r\n\x1A\x01", 22), InputStart::Unmarked},
        {"\xEF\xBB\xBF  0\r\nSECTION\r\n", InputStart::Marked},
        {"\xEF\xBB\xBF", InputStart::Marked},
        {"\xEF\xBB", InputStart::Unmarked},
        {"  0\r\nSECTION\r\n", InputStart::Unmarked},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadInputStart(c.head), c.start) << c.head;
}

TEST(FirstLine, GroupCodeEveryWay)
{
    const struct {
        std::string line;
        bool groupCode;
        std::uint64_t leading;
        const char* core;
        std::uint64_t trailing;
    } cases[] = {
        {"0", true, 0, "0", 0},
        {"  0", true, 2, "0", 0},
        {"999   ", true, 0, "999", 3},
        {"  -1 ", true, 2, "-1", 1},
        {"-", false, 0, "-", 0},
        {" - 1", false, 1, "- 1", 0},
        {"--1", false, 0, "--1", 0},
        {"+5", false, 0, "+5", 0},
        {"1 2", false, 0, "1 2", 0},
        {"0a", false, 0, "0a", 0},
        {"\t0", false, 0, "\t0", 0},
        {"0\x01", false, 0, "0\x01", 0},
        {"SECTION", false, 0, "SECTION", 0},
        {"", false, 0, "", 0},
        {"    ", false, 4, "", 0},
    };
    for (const auto& c : cases) {
        for (const auto& cutting : EveryCutting(c.line)) {
            FirstLineReader reader;
            for (const std::string_view piece : cutting.pieces)
                reader.add(piece);
            EXPECT_EQ(reader.groupCode(), c.groupCode) << "'" << c.line << "' " << cutting.how;
            EXPECT_EQ(reader.shape().leading(), c.leading) << "'" << c.line << "' " << cutting.how;
            EXPECT_EQ(reader.shape().core(), c.core) << "'" << c.line << "' " << cutting.how;
            EXPECT_EQ(reader.shape().trailing(), c.trailing) << "'" << c.line << "' " << cutting.how;
        }
    }
}

// A group code longer than the pass holds is no group code, unless the
// pass took the whole line in one piece.
TEST(FirstLine, LongestGroupCode)
{
    const struct {
        std::size_t digits;
        std::size_t longestWhole;
        bool groupCode;
    } cases[] = {
        {(64 << 10) - 1, 0, true},
        {64 << 10, 0, true},
        {(64 << 10) + 1, 0, false},
        {(64 << 10) + 1, (64 << 10) + 1, true},
    };
    for (const auto& c : cases) {
        const std::string line = "  " + std::string(c.digits, '7') + " ";
        FirstLineReader reader(c.longestWhole);
        reader.add(std::string_view(line).substr(0, 1000));
        reader.add(std::string_view(line).substr(1000));
        EXPECT_EQ(reader.groupCode(), c.groupCode) << c.digits << " digits";
    }
}
