// A colour's value line read whole, cut in two at every byte, and one byte
// at a time: each way comes to the same line out, with the 256-colour table
// from TARNIX to AutoCAD.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/rules/ColourNumber.h"

using namespace dxfkonv;

namespace {

using Verdict = ColourNumberReader::Verdict;

struct Case {
    std::string value;
    const char* out;         // nullptr: the line stays as written
    bool renumbered;
    std::size_t staysAfter;  // bytes read when the line is known to stay
};

const std::vector<Case>& cases()
{
    static const std::vector<Case> all = {
        {"5", "4", true, 0},
        {"     5", "4", true, 0},
        {"5     ", "4", true, 0},
        {"+5", "4", true, 0},
        {"-5", "-4", true, 0},
        {"-5 ", "-4", true, 0},
        {"   -5   ", "-4", true, 0},
        {"-7", "-32", true, 0},
        {"-5\t", "4", true, 0},  // a tab is no space: the sign goes
        {"5\t", "4", true, 0},
        {"\t5", "0", false, 0},
        {" \t-5", "0", false, 0},
        {"-0", "0", false, 0},
        {"-00", "0", false, 0},
        {"0", "0", false, 0},
        {"", "0", false, 0},
        {"   ", "0", false, 0},
        {"+", "0", false, 0},
        {"-", "0", false, 0},
        {"+-5", "0", false, 0},
        {"- 5", "0", false, 0},
        {"5 5", "4", true, 0},
        {"-5 5", "4", true, 0},
        {"0005", "4", true, 0},
        {"016", "16", false, 0},
        {std::string(99, '0') + "5", "4", true, 0},
        {"$1A", "26", false, 0},
        {"$1a", "26", false, 0},
        {"x1A", "26", false, 0},
        {"X1a", "26", false, 0},
        {"0x1A", "26", false, 0},
        {"0X1a", "26", false, 0},
        {"  $b  ", "91", true, 0},
        {"-$b", "0", false, 0},  // no prefix after a sign
        {"+0x5", "0", false, 0},
        {"-0x5", "0", false, 0},
        {"-x5", "0", false, 0},
        {"$-5", "0", false, 0},
        {"00x5", "0", false, 0},
        {"0x0x5", "0", false, 0},
        {"$", "0", false, 0},
        {"x", "0", false, 0},
        {"0x", "0", false, 0},
        {"$g", "0", false, 0},
        {"1e2", "7", true, 0},
        {"$1e", "30", false, 0},
        {"5x", "4", true, 0},
        {"12a", "171", true, 0},
        {"-12a", "171", true, 0},
        {"-5.0", "4", true, 0},
        {"BYLAYER", "0", false, 0},
        {"255", "255", false, 0},
        {"-255", "-255", false, 0},
        {"$FF", "255", false, 0},
        {"0xff", "255", false, 0},
        {"256", nullptr, false, 3},
        {"-256", nullptr, false, 4},
        {"  256  ", nullptr, false, 5},
        {"256abc", nullptr, false, 3},
        {"00000256", nullptr, false, 8},
        {"  -300", nullptr, false, 6},
        {"$100", nullptr, false, 4},
        {"0x100", nullptr, false, 5},
        {"$1e2", nullptr, false, 4},
        {"2147483647", nullptr, false, 4},
        {"2147483648", nullptr, false, 4},
        {"-2147483648", nullptr, false, 5},
        {"4294967296", nullptr, false, 3},
        {"$FFFFFFFFF", nullptr, false, 4},
        {[] {
             std::string digits;
             for (int i = 0; i < 10; ++i)
                 digits += "1234567890";
             return digits;
         }(),
         nullptr, false, 4},
    };
    return all;
}

const ColourMap& map()
{
    return ColourMapFor("sa", false);
}

// What the reader makes of the line given in `pieces`; also checks that
// its verdict, once given, holds.
struct Read {
    std::string out;  // "=" where the line stays
    bool renumbered;
};

Read readInPieces(const std::vector<std::string_view>& pieces)
{
    ColourNumberReader reader;
    for (const std::string_view piece : pieces) {
        const Verdict before = reader.verdict();
        reader.add(piece);
        if (before != Verdict::Open) {
            EXPECT_EQ(reader.verdict(), before);
        }
    }
    ColourText text;
    const ColourLine line = reader.end(map(), text);
    EXPECT_EQ(line.number.empty(), reader.verdict() == Verdict::Stays);
    return {line.number.empty() ? "=" : std::string(line.number), line.renumbered};
}

std::string expected(const Case& c)
{
    return c.out ? c.out : "=";
}

std::string shown(const std::string& value)
{
    return "'" + value.substr(0, 20) + (value.size() > 20 ? "...'" : "'");
}

}  // namespace

TEST(ColourNumber, WholeLine)
{
    for (const Case& c : cases()) {
        ColourText text;
        const ColourLine line = RenumberColourLine(c.value, map(), text);
        EXPECT_EQ(line.number.empty() ? "=" : std::string(line.number), expected(c)) << shown(c.value);
        EXPECT_EQ(line.renumbered, c.renumbered) << shown(c.value);
        const Read read = readInPieces({c.value});
        EXPECT_EQ(read.out, expected(c)) << shown(c.value);
        EXPECT_EQ(read.renumbered, c.renumbered) << shown(c.value);
    }
}

TEST(ColourNumber, CutInTwoAtEveryByte)
{
    for (const Case& c : cases()) {
        const std::string_view value = c.value;
        for (std::size_t cut = 0; cut <= value.size(); ++cut) {
            const Read read = readInPieces({value.substr(0, cut), value.substr(cut)});
            EXPECT_EQ(read.out, expected(c)) << shown(c.value) << " cut at " << cut;
            EXPECT_EQ(read.renumbered, c.renumbered) << shown(c.value) << " cut at " << cut;
        }
    }
}

TEST(ColourNumber, OneByteAtATime)
{
    for (const Case& c : cases()) {
        const std::string_view value = c.value;
        std::vector<std::string_view> bytes;
        for (std::size_t i = 0; i < value.size(); ++i)
            bytes.push_back(value.substr(i, 1));
        const Read read = readInPieces(bytes);
        EXPECT_EQ(read.out, expected(c)) << shown(c.value);
        EXPECT_EQ(read.renumbered, c.renumbered) << shown(c.value);
    }
}

// A line too long to hold is held back only while it may stay: the reader
// says so at the digit that takes the number past 255, not later.
TEST(ColourNumber, StaysAsSoonAsTheNumberPasses255)
{
    for (const Case& c : cases()) {
        ColourNumberReader reader;
        std::size_t read = 0;
        while (read < c.value.size() && reader.verdict() != Verdict::Stays)
            reader.add(std::string_view(c.value).substr(read++, 1));
        EXPECT_EQ(reader.verdict() == Verdict::Stays ? read : 0, c.staysAfter) << shown(c.value);
    }
}

// The byte after the digits tells that a number goes out; only its sign
// waits for the rest of the line.
TEST(ColourNumber, NumberKnownWhereTheDigitsEnd)
{
    const struct {
        const char* value;
        std::size_t knownAfter;  // bytes read; 0: only at the end of the line
    } lines[] = {{"  5 ", 4}, {"-12a", 4}, {"$ffz", 4}, {"0x", 0}, {"7", 0}, {"0 x", 2}, {"\t5", 1}, {"-5\t", 3}};
    for (const auto& l : lines) {
        ColourNumberReader reader;
        std::size_t read = 0;
        const std::string_view value = l.value;
        while (read < value.size() && reader.verdict() == Verdict::Open)
            reader.add(value.substr(read++, 1));
        EXPECT_EQ(reader.verdict() == Verdict::Number ? read : 0, l.knownAfter) << l.value;
    }
}
