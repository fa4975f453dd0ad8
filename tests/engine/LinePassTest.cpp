// The line loop: group codes, the code-page header, colours, line ends,
// the end-of-file mark and progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "SwitchSets.h"
#include "MemoryStreams.h"
#include "engine/pass/BackgroundIo.h"
#include "engine/scan/ByteMasks.h"
#include "engine/IoError.h"
#include "engine/pass/LinePass.h"

using namespace dxfkonv;
using namespace dxfkonv::scan;
using dxfkonv::test::PiecewiseSource;
using dxfkonv::test::StringOut;
using dxfkonv::test::coloursOff;
using dxfkonv::test::textsOff;
using Lines = std::vector<std::string>;

namespace {

// The gauge's percentage worked out by hand: 100 done / total, rounded,
// halves to the even percentage.
int percentOf(std::uint64_t done, std::uint64_t total)
{
    const std::uint64_t twice = 200 * done / total;  // twice the percentage, rounded down
    const bool exactHalf = 200 * done % total == 0 && twice % 2 == 1;
    const std::uint64_t down = twice / 2;
    if (exactHalf)
        return static_cast<int>(down % 2 == 0 ? down : down + 1);
    return static_cast<int>(twice % 2 == 1 ? down + 1 : down);
}

std::string joinCrLf(const Lines& lines)
{
    std::string s;
    for (const auto& l : lines)
        s += l + "\r\n";
    return s;
}

// Splits converted output into lines, insisting that every line ends with CR LF.
Lines splitCrLf(const std::string& out)
{
    Lines lines;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "output does not end with CR LF";
        if (end == std::string::npos)
            break;
        lines.push_back(out.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

Lines convert(const Lines& in, const ConversionSwitches& sw = {}, PassReport* report = nullptr)
{
    return splitCrLf(ConvertBuffer(joinCrLf(in), sw, report));
}

}  // namespace

TEST(GroupCodes, TextValueAfterCodeOneIsRecoded)
{
    EXPECT_EQ(convert({"  1", "%%130x"}), (Lines{"  1", "\xE9x"}));
    EXPECT_EQ(convert({"  1", "%%130x"}, textsOff()), (Lines{"  1", "%%130x"}));
    ConversionSwitches wl;
    wl.textDirection = "wl";
    EXPECT_EQ(convert({"1", "\xE9"}, wl), (Lines{"1", "%%130"}));
    // Lines that merely contain 1 or 62 are not group codes.
    EXPECT_EQ(convert({" 10", "%%130", "162", "5"}), (Lines{" 10", "%%130", "162", "5"}));
}

TEST(GroupCodes, ColourValueAfterCodeSixtyTwoIsRenumbered)
{
    EXPECT_EQ(convert({"    62", "     5"}), (Lines{"    62", "4"}));
    EXPECT_EQ(convert({"62", "7"}), (Lines{"62", "32"}));
    EXPECT_EQ(convert({" 62", "     5"}, coloursOff()), (Lines{" 62", "     5"}));
    ConversionSwitches p16;
    p16.palette16 = true;
    EXPECT_EQ(convert({" 62", "10"}, p16), (Lines{" 62", "32"}));
    p16.palette256 = false;
    EXPECT_EQ(convert({" 62", "10"}, p16), (Lines{" 62", "32"}));
    ConversionSwitches as;
    as.colourDirection = "as";
    EXPECT_EQ(convert({" 62", "32"}, as), (Lines{" 62", "7"}));
}

TEST(GroupCodes, ValuesThatLookLikeCodesStayValues)
{
    // A frozen layer's flag 70 = 1 is no text group code: its colour is renumbered.
    EXPECT_EQ(convert({"  70", "     1", "  62", "     5"}), (Lines{"  70", "     1", "  62", "4"}));
    EXPECT_EQ(convert({"  70", "     1", "  62", "     5"}, textsOff()), (Lines{"  70", "     1", "  62", "4"}));
    // A layer named 62 does not renumber the group code after it.
    EXPECT_EQ(convert({"  2", "62", " 10", "0.0"}), (Lines{"  2", "62", " 10", "0.0"}));
    ConversionSwitches p16;
    p16.palette16 = true;
    EXPECT_EQ(convert({"  2", "62", "  6", "CONTINUOUS"}, p16), (Lines{"  2", "62", "  6", "CONTINUOUS"}));
    // A text value "1" is not a group code either.
    EXPECT_EQ(convert({"  1", "1", "  1", "%%130"}), (Lines{"  1", "1", "  1", "\xE9"}));
}

TEST(GroupCodes, CodeAtTheEndOfTheInputGetsAnEmptyValue)
{
    EXPECT_EQ(convert({"  0", "LINE", "  1"}), (Lines{"  0", "LINE", "  1", ""}));
    EXPECT_EQ(convert({"  0", "LINE", " 62"}), (Lines{"  0", "LINE", " 62", "0"}));
}

TEST(ColourValues, NumbersAsWritten)
{
    auto colour = [](const std::string& value, ConversionSwitches sw = {}) {
        return convert({" 62", value}, sw).at(1);
    };
    EXPECT_EQ(colour("     5"), "4");
    EXPECT_EQ(colour("05"), "4");
    EXPECT_EQ(colour("+5"), "4");
    EXPECT_EQ(colour("0"), "0");
    EXPECT_EQ(colour(""), "0");
    EXPECT_EQ(colour("BYLAYER"), "0");
    EXPECT_EQ(colour("$F"), "2");   // hexadecimal 15
    EXPECT_EQ(colour("0x0f"), "2");
    EXPECT_EQ(colour("X7"), "32");
    EXPECT_EQ(colour("-$5"), "0");  // a prefix after a sign reads as 0
    EXPECT_EQ(colour("5x"), "4");
    EXPECT_EQ(colour("100"), "100");
    // Above the one-byte range the line stays exactly as read.
    EXPECT_EQ(colour("   256"), "   256");
    EXPECT_EQ(colour("257"), "257");
    EXPECT_EQ(colour("  -300"), "  -300");
    EXPECT_EQ(colour("99999999999999999999"), "99999999999999999999");
    EXPECT_EQ(colour("$FFFFFFFFF"), "$FFFFFFFFF");
}

TEST(ColourValues, NegativeColourKeepsItsSignAndIsRenumbered)
{
    auto colour = [](const std::string& value) { return convert({" 62", value}).at(1); };
    EXPECT_EQ(colour("    -5"), "-4");
    EXPECT_EQ(colour("-5 "), "-4");
    EXPECT_EQ(colour("-7"), "-32");
    EXPECT_EQ(colour("-0"), "0");
    EXPECT_EQ(colour("-7x"), "32");  // anything but spaces after the digits drops the sign
}

TEST(ColourValues, EveryShapeInEachTable)
{
    // The 256-colour table to AutoCAD, the 16-colour one, and the 256-colour
    // one back; "y" where the report counts the colour as renumbered.
    std::vector<ConversionSwitches> tables(3);
    tables[1].palette16 = true;
    tables[2].colourDirection = "as";
    struct Case {
        const char* value;
        std::array<const char*, 3> out;
        const char* renumbered;
    };
    const Case cases[] = {
        {"7", {"32", "7", "1"}, "yny"},
        {"  1", {"7", "11", "2"}, "yyy"},
        {"-1", {"-7", "-11", "-2"}, "yyy"},
        {"$b", {"91", "3", "10"}, "yyy"},     // hexadecimal 11
        {"0X0B", {"91", "3", "10"}, "yyy"},
        {"xF", {"2", "9", "15"}, "yyn"},
        {" $F ", {"2", "9", "15"}, "yyn"},
        {"$FF", {"255", "255", "255"}, "nnn"},
        {"255", {"255", "255", "255"}, "nnn"},
        {"x", {"0", "0", "0"}, "nnn"},        // a prefix and no digits
        {"0x", {"0", "0", "0"}, "nnn"},
        {"+", {"0", "0", "0"}, "nnn"},
        {"-", {"0", "0", "0"}, "nnn"},
        {"  -0", {"0", "0", "0"}, "nnn"},
        {"-x5", {"0", "0", "0"}, "nnn"},      // no prefix after a sign
        {"12a", {"171", "4", "12"}, "yyn"},
        {"-12a", {"171", "4", "12"}, "yyn"},  // the sign goes with what follows
        {"5 x", {"4", "171", "4"}, "yyy"},
        {"-5 x", {"4", "171", "4"}, "yyy"},
        {"256", {"256", "256", "256"}, "nnn"},  // the line stays as read
        {"$100", {"$100", "$100", "$100"}, "nnn"},
        {"+-5", {"0", "0", "0"}, "nnn"},
    };
    for (const Case& c : cases) {
        for (std::size_t t = 0; t < tables.size(); ++t) {
            for (const std::size_t longLine : {kLongLine, std::size_t{1}}) {
                const std::string input = joinCrLf({" 62", c.value});
                StringOut sink;
                PiecewiseSource source(input, 1);
                const PassReport report = ConvertStreamInPieces(source, sink, input.size(), tables[t], longLine);
                EXPECT_EQ(splitCrLf(sink.text).at(1), c.out[t]) << "'" << c.value << "', table " << t << ", " << longLine;
                EXPECT_EQ(report.coloursRenumbered, c.renumbered[t] == 'y' ? 1u : 0u)
                    << "'" << c.value << "', table " << t;
            }
        }
    }
}

TEST(CodePage, HeaderValueFollowsTheTextDirection)
{
    const Lines header{"  9", "$DWGCODEPAGE", "  3", "ANSI_852", "  9", "$INSBASE"};
    const Lines to1250{"  9", "$DWGCODEPAGE", "  3", "ANSI_1250", "  9", "$INSBASE"};
    const Lines to852{"  9", "$DWGCODEPAGE", "  3", "ANSI_852", "  9", "$INSBASE"};
    EXPECT_EQ(convert(header), to1250);
    EXPECT_EQ(convert(header, textsOff()), to1250);
    ConversionSwitches wl = textsOff();
    wl.textDirection = "wl";
    EXPECT_EQ(convert(to1250, wl), to852);
    PassReport report;
    convert(header, {}, &report);
    EXPECT_EQ(report.codePagesSet, 1u);
    // The whole line is replaced, spaces and case included.
    EXPECT_EQ(convert({"  9", "$dwgcodepage", "  3", "  ansi_1250 ", "  9", "$X"}, wl),
              (Lines{"  9", "$dwgcodepage", "  3", "ANSI_852", "  9", "$X"}));
}

TEST(CodePage, RunCopiesEverythingUpToTheNextDollarLine)
{
    // Inside the run nothing else is converted; the "$" line is examined as usual.
    EXPECT_EQ(convert({"  9", "$DWGCODEPAGE", " 62", "     5", "  1", "%%130", "  9", "$X", " 62", "5"}),
              (Lines{"  9", "$DWGCODEPAGE", " 62", "     5", "  1", "%%130", "  9", "$X", " 62", "4"}));
    // A run that meets no "$" ends with the input and writes each line once.
    EXPECT_EQ(convert({"  9", "$DWGCODEPAGE", "  3", "ANSI_852"}),
              (Lines{"  9", "$DWGCODEPAGE", "  3", "ANSI_1250"}));
    EXPECT_EQ(convert({"  9", "$DWGCODEPAGE"}), (Lines{"  9", "$DWGCODEPAGE"}));
}

TEST(CodePage, OnlyCodesAndHeaderNamesStartTheRun)
{
    // A text mentioning the word is just a text, recoded or not.
    EXPECT_EQ(convert({"  1", "dwgcodepage", "  62", "     5"}), (Lines{"  1", "dwgcodepage", "  62", "4"}));
    EXPECT_EQ(convert({"  1", "dwgcodepage", "  62", "     5"}, textsOff()),
              (Lines{"  1", "dwgcodepage", "  62", "4"}));
    // A layer of that name does not turn hatch patterns into code pages.
    EXPECT_EQ(convert({"  2", "DWGCODEPAGE", "  2", "ANSI31", " 62", "5"}),
              (Lines{"  2", "DWGCODEPAGE", "  2", "ANSI31", " 62", "4"}));
    // A code-position line starts it.
    EXPECT_EQ(convert({"  9", "$X", "$DWGCODEPAGE", "  3", "ANSI_852", "  9", "$X"}),
              (Lines{"  9", "$X", "$DWGCODEPAGE", "  3", "ANSI_1250", "  9", "$X"}));
}

TEST(CodePage, RunEndsAtTheGroupCodeZeroThatEndsTheHeader)
{
    ConversionSwitches sw;
    const Lines lastVariable{"  9", "$DWGCODEPAGE", "  3", "ANSI_852", "  0", "ENDSEC", "  0", "HATCH",
                             "  2", "ANSI31", " 62", "     5", "  1", "%%130"};
    PassReport report;
    EXPECT_EQ(convert(lastVariable, sw, &report),
              (Lines{"  9", "$DWGCODEPAGE", "  3", "ANSI_1250", "  0", "ENDSEC", "  0", "HATCH", "  2", "ANSI31",
                     " 62", "4", "  1", "\xE9"}));
    EXPECT_EQ(report.codePagesSet, 1u);
    EXPECT_EQ(report.textsRecoded, 1u);
    EXPECT_EQ(report.coloursRenumbered, 1u);
    // A value "0" does not end it; a code " 0 " does, also with texts left alone.
    EXPECT_EQ(convert({"  9", "$DWGCODEPAGE", " 70", "0", "  3", "ANSI_852", " 0 ", "ENDSEC", " 62", "5"},
                      textsOff()),
              (Lines{"  9", "$DWGCODEPAGE", " 70", "0", "  3", "ANSI_1250", " 0 ", "ENDSEC", " 62", "4"}));
}

namespace {

Lines objectsSection(const std::string& name, const std::string& path)
{
    return {"  0", "SECTION", "  2", "OBJECTS", "  0", "LAYOUT", "  1", name, "  0", "IMAGEDEF", "  1", path,
            "  0", "ENDSEC", "  0", "SECTION", "  2", "ENTITIES", "  0", "TEXT", "  1", name};
}

}  // namespace

TEST(TextsInPlace, NamesAndDataInTheObjectsSectionStay)
{
    ConversionSwitches wl;
    wl.textDirection = "wl";
    const std::string name = "Pr\xE9sentation1";
    const std::string path = "C:\\V\xFDkresy\\a.png";
    // A drawing whose first section is no HEADER gets one in front of it.
    Lines expected{"  0", "SECTION", "  2", "HEADER", "  9", "$DWGCODEPAGE", "  3", "ANSI_852", "  0", "ENDSEC"};
    for (const std::string& line : objectsSection(name, path))
        expected.push_back(line);
    expected.back() = "Pr%%130sentation1";  // a text after the section is a text again
    PassReport report;
    EXPECT_EQ(convert(objectsSection(name, path), wl, &report), expected);
    EXPECT_EQ(report.textsRecoded, 1u);
    // Only a section's name opens it: a layer or a pair later in the section does not.
    const Lines notNames{"  0", "LAYER", "  2", "OBJECTS", "  1", "%%130", "  0", "SECTION", "  5", "1A",
                         "  2", "OBJECTS", "  1", "%%130"};
    EXPECT_EQ(convert(notNames),
              (Lines{"  0", "LAYER", "  2", "OBJECTS", "  1", "\xE9", "  0", "SECTION", "  2", "HEADER", "  9",
                     "$DWGCODEPAGE", "  3", "ANSI_1250", "  0", "ENDSEC", "  0", "SECTION", "  5", "1A", "  2",
                     "OBJECTS", "  1", "\xE9"}));
}

TEST(TextsInPlace, AllPartsOfAMultiLineTextAreRecoded)
{
    const std::string part = "%%130" + std::string(245, 'a');
    const std::string recoded = "\xE9" + std::string(245, 'a');
    PassReport report;
    EXPECT_EQ(convert({"  0", "MTEXT", "  3", part, "  3", part, "  1", "%%130", "  0", "TEXT", "  3", "%%130"},
                      {}, &report),
              (Lines{"  0", "MTEXT", "  3", recoded, "  3", recoded, "  1", "\xE9", "  0", "TEXT", "  3", "%%130"}));
    EXPECT_EQ(report.textsRecoded, 3u);
    // Group 3 elsewhere but in an ATTDEF (its prompt), and with texts left alone, stays.
    EXPECT_EQ(convert({"  0", "STYLE", "  3", "%%130.shx", "  0", "ATTDEF", "  3", "%%130"}),
              (Lines{"  0", "STYLE", "  3", "%%130.shx", "  0", "ATTDEF", "  3", "\xE9"}));
    EXPECT_EQ(convert({"  0", "MTEXT", "  3", "%%130"}, textsOff()), (Lines{"  0", "MTEXT", "  3", "%%130"}));
}

namespace {

// The number of the error a pass over `input` refuses it with, 0 when it
// converts it; the same however the input arrives.
int refusal(const std::string& input, const ConversionSwitches& sw = {})
{
    int whole = 0;
    try {
        ConvertBuffer(input, sw);
    } catch (const Refusal& e) {
        whole = e.code();
    }
    PiecewiseSource source(input, 1);
    StringOut out;
    int trickled = 0;
    try {
        ConvertStream(source, out, input.size(), sw);
    } catch (const Refusal& e) {
        trickled = e.code();
        EXPECT_EQ(out.text, "") << "written before the refusal";
    }
    EXPECT_EQ(whole, trickled);
    return whole;
}

std::string header(const std::string& version)
{
    return joinCrLf({"  0", "SECTION", "  2", "HEADER", "  9", "$ACADVER", "  1", version, "  9", "$DWGCODEPAGE",
                     "  3", "ANSI_1250", "  0", "ENDSEC", "  0", "SECTION", "  2", "ENTITIES", "  0", "TEXT", "  1",
                     "\xC3\xA9", " 62", "5", "  0", "ENDSEC", "  0", "EOF"});
}

}  // namespace

TEST(RefusedInput, BinaryDxfWhateverTheSwitches)
{
    const std::string sentinel("AutoCAD Binary DXF\r\n\x1A\0", 22);
    ConversionSwitches nothing = textsOff();
    nothing.palette256 = false;
    for (const ConversionSwitches& sw : {ConversionSwitches{}, nothing}) {
        EXPECT_EQ(refusal(sentinel + "\0\x02\x10\0SECTION\0", sw), kNotAsciiDxf);
        EXPECT_EQ(refusal(sentinel, sw), kNotAsciiDxf);
        // Shorter than the mark: a text file, though no DXF file either;
        // the mark anywhere else is a value.
        EXPECT_EQ(refusal(sentinel.substr(0, 21), sw), kNotAsciiDxf);
        EXPECT_EQ(refusal("  0\r\n" + sentinel, sw), 0);
    }
    EXPECT_STREQ(Refusal(kNotAsciiDxf).what(), "Not an ASCII DXF file.");
}

TEST(RefusedInput, TextsInUtf8WhenTheyAreToBeWrittenAsEscapes)
{
    ConversionSwitches wl;
    wl.textDirection = "wl";
    const struct {
        std::string input;
        int refused;
    } cases[] = {
        {header("AC1021"), kTextsInUtf8},
        {header("AC1024"), kTextsInUtf8},
        {header("  AC1032 "), kTextsInUtf8},
        {"\xEF\xBB\xBF" + header("AC1009"), kTextsInUtf8},
        {"\xEF\xBB\xBF" + joinCrLf({"  0", "EOF"}), kTextsInUtf8},
        {header("AC1018"), 0},
        {header("AC1009"), 0},
        {header("ac1021"), 0},  // versions are written in upper case
        {header("AC10210"), 0},
        // Only the header's $ACADVER tells; after it ends there is nothing more to check.
        {joinCrLf({"  0", "SECTION", "  2", "HEADER", "  0", "ENDSEC", "  9", "$ACADVER", "  1", "AC1021"}), 0},
        {joinCrLf({"  9", "$ACADVER", " 70", "1", "  1", "AC1021"}), 0},
        // Read also where it follows the code-page header's run.
        {joinCrLf({"  9", "$DWGCODEPAGE", "  3", "ANSI_1252", "  9", "$ACADVER", "  1", "AC1027"}), kTextsInUtf8},
        {joinCrLf({"  1", "AC1021"}), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(refusal(c.input, wl), c.refused) << c.input;
        // Decoded "lw" its escapes become UTF-8; with texts left alone
        // such a file converts as before.
        EXPECT_EQ(refusal(c.input), 0) << c.input;
        EXPECT_EQ(refusal(c.input, textsOff()), 0) << c.input;
    }
    std::string expected = ConvertBuffer(header("AC1009"), textsOff());
    expected.replace(expected.find("AC1009"), 6, "AC1032");
    PassReport report;
    EXPECT_EQ(ConvertBuffer(header("AC1032"), textsOff(), &report), expected);
    EXPECT_EQ(report.coloursRenumbered, 1u);
}

TEST(LineEnds, EveryLineEndsWithCrLf)
{
    const ConversionSwitches sw;
    EXPECT_EQ(ConvertBuffer("0\nb\n", sw), "0\r\nb\r\n");
    EXPECT_EQ(ConvertBuffer("0\r\nb", sw), "0\r\nb\r\n");
    EXPECT_EQ(ConvertBuffer("0\r\na\rb\r\n", sw), "0\r\nab\r\n");  // a lone CR is dropped
    EXPECT_EQ(ConvertBuffer("0\r\na\r\r\nb\r", sw), "0\r\na\r\nb\r\n");
    EXPECT_EQ(ConvertBuffer("0\r\r\r", sw), "0\r\n");
    EXPECT_EQ(ConvertBuffer("", sw), "");
    EXPECT_EQ(ConvertBuffer("0\n\n\n", sw), "0\r\n\r\n\r\n");
}

TEST(LineEnds, EndOfFileMarkEndsTheInputOnlyAtTheStartOfAPair)
{
    const ConversionSwitches sw;
    EXPECT_EQ(ConvertBuffer("  0\r\nEOF\r\n\x1a", sw), "  0\r\nEOF\r\n");
    EXPECT_EQ(ConvertBuffer("  0\r\nEOF\r\n\x1a\r\n  0\r\nLINE\r\n", sw), "  0\r\nEOF\r\n");
    EXPECT_EQ(ConvertBuffer("  0\r\nAB\x1a" "CD\r\n", sw), "  0\r\nAB\x1a" "CD\r\n");
    // The value read after a group code is never cut by it.
    EXPECT_EQ(ConvertBuffer("  1\r\n\x1a" "X\r\n", sw), "  1\r\n\x1a" "X\r\n");
    // Nor is a line whose mark falls at a 128-byte boundary.
    std::string longLine(123, 'a');  // after "999" CR LF the mark is at offset 128
    longLine += '\x1a';
    longLine += "tail";
    EXPECT_EQ(ConvertBuffer("999\r\n" + longLine + "\r\n  0\r\nEOF\r\n", sw),
              "999\r\n" + longLine + "\r\n  0\r\nEOF\r\n");
    // A line starting with the mark ends the input where a group code is
    // due, at any offset; in a value's place it is a value.
    const std::string firstLine = std::string(125, ' ') + "0";
    EXPECT_EQ(ConvertBuffer(firstLine + "\r\n\x1a" "abc\r\n", sw), firstLine + "\r\n\x1a" "abc\r\n");
    EXPECT_EQ(ConvertBuffer(firstLine + "\r\nv\r\n\x1a" "abc\r\n", sw), firstLine + "\r\nv\r\n");
    // So a text that decodes to a leading 0x1A survives a later pass.
    ConversionSwitches coloursOnly;
    coloursOnly.recodeTexts = false;
    const std::string decoded = ConvertBuffer("  1\r\n%%26abc\r\n 62\r\n5\r\n", sw);
    EXPECT_EQ(decoded, "  1\r\n\x1a" "abc\r\n 62\r\n4\r\n");
    EXPECT_EQ(ConvertBuffer(decoded, coloursOnly), "  1\r\n\x1a" "abc\r\n 62\r\n5\r\n");
}

TEST(LineEnds, LongLinesAndLinesAcrossReadBlocks)
{
    const ConversionSwitches sw;
    // The first read takes 1 MiB: put a lone CR on its last byte.
    std::string big(3 * 1024 * 1024 + 17, 'q');
    big[1024 * 1024 - 1 - 5] = '\r';
    std::string expected = big;
    expected.erase(1024 * 1024 - 1 - 5, 1);
    EXPECT_EQ(ConvertBuffer("  1\r\n" + big + "\r\n  0\r\n", sw), "  1\r\n" + expected + "\r\n  0\r\n");
    // A CR LF split by the edge.
    const std::string pad = "0\r\n" + std::string(1024 * 1024 - 4, 'p');
    EXPECT_EQ(ConvertBuffer(pad + "\r\nz", sw), pad + "\r\nz\r\n");
}

TEST(Report, CountsWhatChanged)
{
    ConversionSwitches sw;
    PassReport report;
    convert({"  0", "TEXT", "  1", "%%130", "  1", "plain", " 62", "5", " 62", "200", "  1", "\xB0x\xB1"}, sw, &report);
    EXPECT_EQ(report.lines, 12u);
    EXPECT_EQ(report.textsRecoded, 2u);
    EXPECT_EQ(report.coloursRenumbered, 1u);
    EXPECT_EQ(report.charsLost, 2u);
    EXPECT_EQ(report.lostCharLines, (std::vector<std::uint64_t>{12}));
    EXPECT_TRUE(report.changedAnything());
}

TEST(Progress, ShareOfTheInputConsumed)
{
    // Four 64-byte pairs (62 bytes + CR LF each) make 512 bytes.
    const std::string code = std::string(60, ' ') + "70";
    const std::string value = std::string(61, ' ') + "1";
    std::string input;
    for (int i = 0; i < 4; ++i)
        input += code + "\r\n" + value + "\r\n";
    ASSERT_EQ(input.size(), 512u);
    std::vector<int> seen;
    ConvertBuffer(input, {}, nullptr, [&](int p) { seen.push_back(p); });
    // Every 64 bytes another eighth: 12.5, 37.5 ... round to even.
    EXPECT_EQ(seen, (std::vector<int>{12, 25, 38, 50, 62, 75, 88, 100}));

    // A file under 128 bytes never moves the gauge, and neither does an
    // empty one; one of 128 bytes does.
    seen.clear();
    ConvertBuffer("  0\r\nEOF\r\n", {}, nullptr, [&](int p) { seen.push_back(p); });
    ConvertBuffer("", {}, nullptr, [&](int p) { seen.push_back(p); });
    ConvertBuffer(" 10\r\n" + std::string(121, '7') + "\r\n", {}, nullptr, [&](int p) { seen.push_back(p); });
    ConvertBuffer(" 10\r\n" + std::string(120, '7') + "\r\n", {}, nullptr, [&](int p) { seen.push_back(p); });
    EXPECT_EQ(seen, (std::vector<int>{4, 100}));
}

TEST(Progress, EveryLineCountsATextsCodeToo)
{
    // 300 bytes: "  1" + CR LF, its value 200 bytes long (the pair ends at
    // 205); then 95 bytes to the end, which has no line end.
    std::string input = "  1\r\n" + std::string(198, 'v') + "\r\n";
    ASSERT_EQ(input.size(), 205u);
    input += std::string(95, 'w');
    std::vector<int> seen;
    ConvertBuffer(input, {}, nullptr, [&](int p) { seen.push_back(p); });
    EXPECT_EQ(seen, (std::vector<int>{2, 68, 100}));  // 1.7 %, 68.3 %, then the end
}

TEST(Progress, StaysWhereItIsAtTheEndOfFileMark)
{
    // 200 bytes of pairs, then the mark and 100 bytes that are not read.
    std::string input;
    while (input.size() < 200)
        input += " 10\r\n" + std::string(13, '7') + "\r\n";
    ASSERT_EQ(input.size(), 200u);
    input += "\x1A" + std::string(99, 'z');
    std::vector<int> seen;
    ConvertBuffer(input, {}, nullptr, [&](int p) { seen.push_back(p); });
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 67);  // 200 of 300 bytes
}

TEST(Progress, EveryNewPercentageAtTheLineWhereItIsReached)
{
    // Lines that are neither texts nor colours: each line is one pass of
    // the loop, so the gauge can be worked out line by line. Long and short
    // drawings, so that some percentages are passed over and others take
    // many lines to reach.
    std::mt19937 rng(8122026);
    for (std::size_t lineCount : {6u, 40u, 900u, 20000u}) {
        std::string input;
        std::vector<int> expected;
        std::vector<std::size_t> lineEnds;
        for (std::size_t i = 0; i < lineCount; ++i) {
            input += (i % 2 == 0 ? std::string(" 10") : std::string(rng() % 30, '7')) + "\r\n";
            lineEnds.push_back(input.size());
        }
        int last = -1;
        for (std::size_t end : lineEnds) {
            const int percent = percentOf(end, input.size());
            if (input.size() >= 128 && percent != last)
                expected.push_back(last = percent);
        }
        std::vector<int> seen;
        ConvertBuffer(input, {}, nullptr, [&](int p) { seen.push_back(p); });
        EXPECT_EQ(seen, expected) << lineCount << " lines";
    }
}

TEST(Progress, ALargeDrawingMovesItInStepsOfOnePercent)
{
    // About 4 MB of ordinary pairs with a text and a colour now and then.
    std::string input;
    for (int i = 0; input.size() < (4u << 20); ++i) {
        input += " 10\r\n12.5\r\n 20\r\n-3.25\r\n";
        if (i % 50 == 0)
            input += "  1\r\nTEXT\r\n 62\r\n     5\r\n";
    }
    std::vector<int> seen;
    ConvertBuffer(input, {}, nullptr, [&](int p) { seen.push_back(p); });
    std::vector<int> all(101);
    for (int i = 0; i <= 100; ++i)
        all[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(seen, all);
}

namespace {

// Lines a drawing may hold, awkward ones included.
std::string randomDrawing(std::mt19937& rng, std::size_t lines)
{
    static const char* const pieces[] = {
        "  0", "  1", " 62", "62", "1", "  9", " 70", "     1", "     5", "    -5", "-7x", "256", "$F",
        "%%130", "%%%c", "%%c12", "%%", "\xE9\xA7\xB0", "$DWGCODEPAGE", "dwgcodepage", "ANSI_852", "ANSI31",
        "$INSBASE", "", " ", "EOF", "TEXT", "999", "\x1a", "a\032b", "x\ry", "  1 ", " 9  ", "  62 ", "162",
        "x62", "6 2", " 11", "Gc", "\n1", " 0 ", "  2", "  3", "SECTION", "OBJECTS", "ENDSEC", "MTEXT",
        "$ACADVER", "AC1018", "AC1027", "SEQEND", "ENDBLK", "MTEXTX", " SECTION", "MT", "SE", "E"};
    // Lines of an ordinary drawing, which pass through untouched.
    static const char* const plain[] = {" 10", " 20", "  8", "  5", "100", "12.5", "-3.25", "LINE", "0",
                                        " 21", " 31", " 72", "  2", " 39", " 71", "1001", "AcDbLine", "Z"};
    static const char* const ends[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\r\r\n"};
    // Some drawings are mostly plain, so that long runs of them occur.
    const unsigned plainShare = rng() % 2 == 0 ? 0 : 90;
    // A DXF file starts with a group code.
    static const char* const firsts[] = {"  0", "  1", " 62", "  9", "999", "-1 "};
    std::string s = std::string(firsts[rng() % std::size(firsts)]) + (rng() % 2 == 0 ? "\r\n" : "\n");
    for (std::size_t i = 1; i < lines; ++i) {
        if (rng() % 100 < plainShare) {
            s += plain[rng() % std::size(plain)];
            s += "\r\n";
            continue;
        }
        s += pieces[rng() % std::size(pieces)];
        s += ends[rng() % std::size(ends)];
    }
    return s;
}

// A dry run's sink: throws everything away, and notes whether it was
// given anything at all.
class DiscardingSink : public ByteSink {
public:
    void write(const char*, std::size_t n) override { given += n; }
    bool discards() const override { return true; }
    std::size_t given = 0;
};

// The defaults and three others that between them turn each switch.
std::vector<ConversionSwitches> switchVariants()
{
    std::vector<ConversionSwitches> variants(4);
    variants[1].textDirection = "wl";
    variants[1].palette16 = true;
    variants[2].recodeTexts = false;
    variants[2].colourDirection = "as";
    variants[3].palette256 = false;
    return variants;
}

void expectSameReport(const PassReport& got, const PassReport& expected)
{
    ASSERT_EQ(got.lines, expected.lines);
    ASSERT_EQ(got.textsRecoded, expected.textsRecoded);
    ASSERT_EQ(got.coloursRenumbered, expected.coloursRenumbered);
    ASSERT_EQ(got.codePagesSet, expected.codePagesSet);
    ASSERT_EQ(got.charsLost, expected.charsLost);
    ASSERT_EQ(got.lostCharLines, expected.lostCharLines);
}

}  // namespace

TEST(Paths, FastPathAndSlowPathAgree)
{
    std::mt19937 rng(20261208);
    const std::vector<ConversionSwitches> variants = switchVariants();
    // Refused inputs are refused alike.
    auto refusedWith = [](auto&& pass) {
        try {
            pass();
            return 0;
        } catch (const Refusal& e) {
            return e.code();
        }
    };
    const std::string starts[] = {"", std::string("AutoCAD Binary DXF\r\n\x1A\0", 22), "\xEF\xBB\xBF"};
    for (int round = 0; round < 300; ++round) {
        const std::string input = (round % 10 == 9 ? starts[static_cast<std::size_t>(round / 10) % 3] : "")
                                  + randomDrawing(rng, 1 + rng() % (round % 3 == 0 ? 600 : 60));
        const ConversionSwitches& sw = variants[static_cast<std::size_t>(round) % variants.size()];
        PassReport whole;
        std::vector<int> wholeProgress;
        std::string expected;
        const int refused = refusedWith(
            [&] { expected = ConvertBuffer(input, sw, &whole, [&](int p) { wholeProgress.push_back(p); }); });
        for (std::size_t step : {1u, 2u, 7u}) {
            // A few bytes a read: almost no line lies whole in a read block, and
            // the slow path, one line at a time, does the work.
            PiecewiseSource source(input, step);
            StringOut out;
            std::vector<int> progress;
            PassReport trickled;
            ASSERT_EQ(refusedWith([&] {
                          trickled = ConvertStream(source, out, input.size(), sw,
                                                   [&](int p) { progress.push_back(p); });
                      }),
                      refused)
                << "round " << round << " step " << step;
            if (refused != 0)
                continue;
            ASSERT_EQ(out.text, expected) << "round " << round << " step " << step;
            ASSERT_EQ(progress, wholeProgress) << "round " << round << " step " << step;
            ASSERT_NO_FATAL_FAILURE(expectSameReport(trickled, whole));
        }
        if (refused != 0)
            continue;
        // A dry run reports the same without putting any output together.
        PiecewiseSource source(input, input.size() + 1);
        DiscardingSink dry;
        const PassReport report = ConvertStream(source, dry, input.size(), sw);
        ASSERT_EQ(dry.given, 0u) << "round " << round;
        ASSERT_NO_FATAL_FAILURE(expectSameReport(report, whole));
    }
}

TEST(Paths, BlocksMarkedOnTheReadingThreadAgree)
{
    // Drawings of a few read blocks, in reads of odd sizes: the marks made
    // on the reading thread must carry which lines are code lines from one
    // read to the next, short reads and lines across reads included.
    std::mt19937 rng(8122026);
    for (int round = 0; round < 8; ++round) {
        std::string input;
        while (input.size() < (std::size_t{5} << 19))
            input += randomDrawing(rng, 600);
        // No end-of-file mark, so that the whole of it is converted.
        std::replace(input.begin(), input.end(), '\x1a', 'z');
        ConversionSwitches sw;
        sw.recodeTexts = round % 4 != 1;
        sw.palette256 = round % 4 != 2;
        sw.textDirection = round % 2 == 0 ? "lw" : "wl";
        PassReport whole;
        std::vector<int> wholeProgress;
        const std::string expected =
            ConvertBuffer(input, sw, &whole, [&](int p) { wholeProgress.push_back(p); });
        const std::size_t step = round % 2 == 0 ? std::size_t{1} << 20 : 1000 + rng() % 70000;
        PiecewiseSource file(input, step);
        ReadAheadSource source(file);
        StringOut out;
        std::vector<int> progress;
        const PassReport report =
            ConvertStream(source, out, input.size(), sw, [&](int p) { progress.push_back(p); });
        ASSERT_TRUE(out.text == expected) << "round " << round << " step " << step;
        ASSERT_EQ(progress, wholeProgress) << "round " << round << " step " << step;
        ASSERT_NO_FATAL_FAILURE(expectSameReport(report, whole));
    }
}

TEST(ByteMasks, EveryWayGivesTheSame)
{
    // Bytes the masks tell apart, and others.
    const std::string alphabet = "\n\r \x1a\t0126789MSEAZaz$%.-\x80\xff\x40\x41\x1f";
    std::mt19937 rng(2026);
    const std::vector<ByteMasker> maskers = ByteMaskers();
    ASSERT_GE(maskers.size(), 1u);
    for (int round = 0; round < 2000; ++round) {
        // 64 times four and the bytes read around them.
        std::string bytes(kMaskReadsBefore + 4 * 64 + kMaskReadsPast, ' ');
        for (char& c : bytes)
            c = rng() % 4 == 0 ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
        const PassNeeds needs{round % 2 == 0, round % 4 < 2};
        ByteMasks expected[4];
        maskers.front()(bytes.data() + kMaskReadsBefore, 4, needs, expected);
        for (std::size_t way = 1; way < maskers.size(); ++way) {
            ByteMasks got[4];
            maskers[way](bytes.data() + kMaskReadsBefore, 4, needs, got);
            for (int i = 0; i < 4; ++i) {
                ASSERT_EQ(got[i].lf, expected[i].lf) << "way " << way << " round " << round;
                ASSERT_EQ(got[i].cr, expected[i].cr) << "way " << way << " round " << round;
                ASSERT_EQ(got[i].control, expected[i].control) << "way " << way << " round " << round;
                ASSERT_EQ(got[i].letter, expected[i].letter) << "way " << way << " round " << round;
                ASSERT_EQ(got[i].candidates, expected[i].candidates) << "way " << way << " round " << round;
            }
        }
    }
}

TEST(Paths, EveryPairThatMattersIsTakenWhereverItFalls)
{
    // Plain pairs around one that matters, shifted byte by byte across the
    // 64-byte stretches the block scan leaps by: whole in memory, marked
    // on a reading thread, or a byte at a time (the walk alone), the
    // output and the counts agree.
    const std::string longText(100, 'z');
    const struct {
        const char* name;
        std::string pair;
    } cases[] = {
        {"colour", " 62\r\n     1\r\n"},
        {"text", "  1\r\n%%130 x\r\n"},
        {"long text", "  1\r\n%%130" + longText + "\r\n"},
        {"code alone", "1\r\n%%130\r\n"},
        {"code with spaces after", " 62  \r\n5\r\n"},
        {"multi-line text", "  0\r\nMTEXT\r\n  3\r\n%%130\r\n  1\r\n%%131\r\n"},
        {"objects", "  0\r\nSECTION\r\n  2\r\nOBJECTS\r\n  1\r\n%%130\r\n  0\r\nENDSEC\r\n"},
        {"code page", "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1252\r\n"},
        {"LF ends", " 62\n3\n"},
        {"lone CR", "  1\r\na\rb\r\n"},
    };
    for (const auto& c : cases) {
        for (std::size_t shift = 0; shift < 130; ++shift) {
            std::string input;
            for (int i = 0; i < 6; ++i)
                input += " 10\r\n1.5\r\n  8\r\nLAYER\r\n";
            input += "999\r\n" + std::string(shift, 'c') + "\r\n" + c.pair;
            for (int i = 0; i < 6; ++i)
                input += " 20\r\n2.5\r\n  0\r\nLINE\r\n";
            for (const ConversionSwitches& sw : {ConversionSwitches{}, textsOff(), coloursOff()}) {
                PassReport whole;
                const std::string expected = ConvertBuffer(input, sw, &whole);
                PiecewiseSource bytes(input, 1);
                StringOut walked;
                const PassReport byteWise = ConvertStream(bytes, walked, input.size(), sw);
                PiecewiseSource file(input, input.size());
                ReadAheadSource source(file);
                StringOut marked;
                const PassReport readAhead = ConvertStream(source, marked, input.size(), sw);
                ASSERT_EQ(walked.text, expected) << c.name << ", shift " << shift;
                ASSERT_EQ(marked.text, expected) << c.name << ", shift " << shift;
                ASSERT_NO_FATAL_FAILURE(expectSameReport(byteWise, whole));
                ASSERT_NO_FATAL_FAILURE(expectSameReport(readAhead, whole));
            }
        }
    }
}

namespace {

// The input converted with lines taken in pieces from `longLine` bytes on,
// read `step` bytes at a time.
std::string inPieces(const std::string& input, const ConversionSwitches& sw, std::size_t longLine,
                     std::size_t step = 1 << 20, PassReport* report = nullptr, std::vector<int>* progress = nullptr)
{
    PiecewiseSource source(input, step);
    StringOut out;
    const PassReport r = ConvertStreamInPieces(source, out, input.size(), sw, longLine, [&](int p) {
        if (progress)
            progress->push_back(p);
    });
    if (report)
        *report = r;
    return out.text;
}

}  // namespace

TEST(Paths, LinesTakenInPiecesAgree)
{
    // With lines taken in pieces from a few bytes on, nearly every line
    // goes the way a line too long to hold goes; the output, the counts and
    // the progress are those of the usual pass.
    std::mt19937 rng(64);
    const std::vector<ConversionSwitches> variants = switchVariants();
    for (int round = 0; round < 400; ++round) {
        const std::string input = randomDrawing(rng, 1 + rng() % (round % 3 == 0 ? 400 : 40));
        const ConversionSwitches& sw = variants[static_cast<std::size_t>(round) % variants.size()];
        PassReport whole;
        std::vector<int> wholeProgress;
        const std::string expected = ConvertBuffer(input, sw, &whole, [&](int p) { wholeProgress.push_back(p); });
        for (const std::size_t longLine : {1u, 2u, 3u, 5u, 11u}) {
            for (const std::size_t step : {1u, 4u, 1u << 20}) {
                PassReport report;
                std::vector<int> progress;
                ASSERT_EQ(inPieces(input, sw, longLine, step, &report, &progress), expected)
                    << "round " << round << " from " << longLine << " step " << step;
                ASSERT_EQ(progress, wholeProgress) << "round " << round;
                ASSERT_NO_FATAL_FAILURE(expectSameReport(report, whole));
            }
        }
    }
}

TEST(RefusedInput, FirstLineThatIsNoGroupCode)
{
    // The first line, after a byte order mark, trimmed of spaces, must be
    // a group code: a minus at most and digits.
    ConversionSwitches nothing = textsOff();
    nothing.palette256 = false;
    const std::string bom = "\xEF\xBB\xBF";
    const struct {
        std::string input;
        int refused;          // with every switch off
        int refusedRecoding;  // with texts recoded
    } cases[] = {
        {"  -12  \r\nX\r\n", 0, 0},
        {"007\r\nX\r\n", 0, 0},
        {"999", 0, 0},
        {"0\r\r\nEOF\r\n", 0, 0},                 // a CR is no part of the line
        {"  0" + std::string(200, ' ') + "\r\n", 0, 0},
        {bom + "  0\r\nEOF\r\n", 0, kTextsInUtf8},  // the mark is no part of it either
        {"", 0, 0},                                  // an empty file stays empty
        {"+5\r\nX\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"- 1\r\nX\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"\t0\r\nX\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"0x10\r\nX\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"1.5\r\nX\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"1 2\r\nX\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"-\r\nX\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"\r\n  0\r\nEOF\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"   \r\n", kNotAsciiDxf, kNotAsciiDxf},
        {bom, kNotAsciiDxf, kNotAsciiDxf},
        {bom + bom + "0\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"\x1A", kNotAsciiDxf, kNotAsciiDxf},
        {"\x1A" "0\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"Hello,\r\nworld.\r\n", kNotAsciiDxf, kNotAsciiDxf},
        {"  0" + std::string(200, ' ') + "x\r\n", kNotAsciiDxf, kNotAsciiDxf},
    };
    ConversionSwitches wl;
    wl.textDirection = "wl";
    for (const auto& c : cases) {
        EXPECT_EQ(refusal(c.input, nothing), c.refused) << c.input;
        EXPECT_EQ(refusal(c.input, wl), c.refusedRecoding) << c.input;
    }
    // The mark goes out again in front of the first line, which it does
    // not change: a group code 0.
    PassReport report;
    EXPECT_EQ(ConvertBuffer(bom + "  0\r\nSECTION\r\n 62\n5", nothing, &report),
              bom + "  0\r\nSECTION\r\n 62\r\n5\r\n");
    ConversionSwitches colours = textsOff();
    EXPECT_EQ(ConvertBuffer(bom + " 62\r\n5\r\n", colours), bom + " 62\r\n4\r\n");
}

TEST(LongLines, TakenInPiecesAsTheyWouldBeWhole)
{
    // Lines longer than the pass holds (8 bytes here), in reads of 3 bytes
    // so that they also run across reads: the output of the usual pass.
    const std::string many(40, ' ');
    const struct {
        const char* name;
        std::string input;
        std::string output;
        std::uint64_t texts, colours, codePages;
    } cases[] = {
        {"first line of spaces around a code", many + "1" + many + "\r\n%%130\r\n", many + "1" + many + "\r\n\xE9\r\n",
         1, 0, 0},
        {"code of spaces around 62", "0\r\nX\r\n" + many + "62" + many + "\r\n" + many + "5\r\n",
         "0\r\nX\r\n" + many + "62" + many + "\r\n4\r\n", 0, 1, 0},
        {"negative colour and spaces", "62\r\n-5" + many + "\r\n", "62\r\n-4\r\n", 0, 1, 0},
        {"colour past 255 after zeros", "62\r\n" + std::string(30, '0') + "300\r\n",
         "62\r\n" + std::string(30, '0') + "300\r\n", 0, 0, 0},
        {"colour of zeros", "62\r\n" + std::string(30, '0') + "7\r\n", "62\r\n32\r\n", 0, 1, 0},
        {"colour, then letters", "62\r\n  5" + std::string(30, 'z') + "\r\n", "62\r\n4\r\n", 0, 1, 0},
        {"hexadecimal colour", "62\r\n" + many + "0x0f" + many + "\r\n", "62\r\n2\r\n", 0, 1, 0},
        {"text with escapes", "1\r\n%%130%%%c" + many + "%%13\r\n", "1\r\n\xE9%\xDD" + many + " \r\n", 1, 0, 0},
        {"text with a CR inside", "1\r\n%%1\r30abcdefghij\r\n", "1\r\n\xE9" "abcdefghij\r\n", 1, 0, 0},
        {"plain text", "1\r\nabcdefghijklmnop\r\n", "1\r\nabcdefghijklmnop\r\n", 0, 0, 0},
        {"section name with spaces",
         "0\r\nSECTION\r\n2\r\nOBJECTS" + many + "\r\n1\r\n%%130\r\n0\r\nENDSEC" + many + "\r\n1\r\n%%130\r\n",
         "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n  0\r\nENDSEC\r\n"
         "0\r\nSECTION\r\n2\r\nOBJECTS" + many + "\r\n1\r\n%%130\r\n0\r\nENDSEC" + many + "\r\n1\r\n\xE9\r\n", 1,
         0, 1},
        {"code page header", "9\r\n" + many + "$dwgCodePage\r\n3\r\n" + many + "ansi_852" + many + "\r\n0\r\nX\r\n",
         "9\r\n" + many + "$dwgCodePage\r\n3\r\nANSI_1250\r\n0\r\nX\r\n", 0, 0, 1},
        {"code page run to a dollar", "9\r\n$DWGCODEPAGE\r\n3\r\nANSI" + many + "$X\r\n62\r\n5\r\n",
         "9\r\n$DWGCODEPAGE\r\n3\r\nANSI" + many + "$X\r\n62\r\n4\r\n", 0, 1, 0},
        {"code page run to a code 0", "9\r\n$DWGCODEPAGE\r\n" + many + "0" + many + "\r\nEOF\r\n",
         "9\r\n$DWGCODEPAGE\r\n" + many + "0" + many + "\r\nEOF\r\n", 0, 0, 0},
        {"text at the end without a line end", "1\r\n%%130" + many, "1\r\n\xE9" + many + "\r\n", 1, 0, 0},
        {"end-of-file mark after a long line", "0\r\n" + many + "\r\n\x1A" + many, "0\r\n" + many + "\r\n", 0, 0, 0},
    };
    for (const auto& c : cases) {
        PassReport report;
        EXPECT_EQ(inPieces(c.input, {}, 8, 3, &report), c.output) << c.name;
        EXPECT_EQ(report.textsRecoded, c.texts) << c.name;
        EXPECT_EQ(report.coloursRenumbered, c.colours) << c.name;
        EXPECT_EQ(report.codePagesSet, c.codePages) << c.name;
        // And whole, as the pass takes lines that are not too long.
        EXPECT_EQ(ConvertBuffer(c.input, {}), c.output) << c.name;
    }
}

namespace {

// A source whose bytes read ahead are not those it reads in turn: a file
// another program writes to while the pass reads it.
class ChangingSource : public ByteSource {
public:
    ChangingSource(std::string_view read, std::string_view ahead) : read_(read, 1 << 20), ahead_(ahead, 1 << 20) {}
    std::size_t read(char* buffer, std::size_t n) override { return read_.read(buffer, n); }
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override
    {
        return ahead_.readAt(offset, buffer, n);
    }

private:
    PiecewiseSource read_;
    PiecewiseSource ahead_;
};

}  // namespace

TEST(LongLines, CodePageRunLineOfManyRunsDecidedByItsEnd)
{
    // Lines of the code-page run over 1 MiB long and too varied to hold
    // while their end is awaited: each goes out by what the whole line
    // holds. The line starts at 4096 bytes, and "AN" CR "SI" is cut
    // between "AN" and the CR at a multiple of 4096 bytes too.
    const std::string start = "999\r\n" + std::string(4065, 'c') + "\r\n  9\r\n$DWGCODEPAGE\r\n";
    ASSERT_EQ(start.size() + 5, 4096u);
    std::string varied;
    for (std::size_t i = 0; i < 2048 * 300 - 1; ++i)
        varied += "xy";
    ASSERT_EQ((4096 + varied.size() + 2) % 4096, 0u);
    const std::string after = "  9\r\n$X\r\n 62\r\n5\r\n";
    const std::string afterConverted = "  9\r\n$X\r\n 62\r\n4\r\n";
    const struct {
        const char* name;
        std::string input;
        std::string output;
        std::uint64_t codePages;
    } cases[] = {
        {"ANSI only at its end", start + "  4\r\n" + varied + "ansi\r\n" + after,
         start + "  4\r\nANSI_1250\r\n" + afterConverted, 1},
        {"ANSI early, a dollar late: the run ends there", start + "  4\r\nANSI" + varied + "$" + varied + "\r\n 62\r\n5\r\n",
         start + "  4\r\nANSI" + varied + "$" + varied + "\r\n 62\r\n4\r\n", 0},
        {"neither", start + "  4\r\n" + varied + "\r\n" + after, start + "  4\r\n" + varied + "\r\n" + afterConverted,
         0},
        {"AN, CR, SI", start + "  4\r\n" + varied + "AN\rSI" + varied + "\r\n" + after,
         start + "  4\r\nANSI_1250\r\n" + afterConverted, 1},
        {"a CR before the line end", start + "  4\r\n" + varied + "ANSI\r\r\n" + after,
         start + "  4\r\nANSI_1250\r\n" + afterConverted, 1},
        {"the declared code page, a dollar at its end", start + "  3\r\n" + varied + "$\r\n 62\r\n5\r\n",
         start + "  3\r\n" + varied + "$\r\n 62\r\n4\r\n", 0},
        {"the declared code page", start + "  3\r\n" + varied + "\r\n" + after,
         start + "  3\r\nANSI_1250\r\n" + afterConverted, 1},
    };
    for (const auto& c : cases) {
        PassReport report;
        EXPECT_TRUE(ConvertBuffer(c.input, {}, &report) == c.output) << c.name << ", whole";
        EXPECT_EQ(report.codePagesSet, c.codePages) << c.name << ", whole";
        for (const std::size_t step : {std::size_t{4096}, std::size_t{1} << 20}) {
            PiecewiseSource file(c.input, step);
            StringOut out;
            {
                ReadAheadSource source(file);
                report = ConvertStream(source, out, c.input.size(), {});
            }
            EXPECT_TRUE(out.text == c.output) << c.name << ", read ahead in steps of " << step;
            EXPECT_EQ(report.codePagesSet, c.codePages) << c.name << ", read ahead in steps of " << step;
            EXPECT_GT(file.readsAt, 0) << c.name;
        }
    }
    // Where the line read differs from what was read ahead of it, the
    // pass fails rather than write either.
    const std::string ansiAtEnd = start + "  4\r\n" + varied + "ansi\r\n" + after;
    const std::string plain = start + "  4\r\n" + varied + "xyzw\r\n" + after;
    for (const auto& [read, ahead] : {std::pair{ansiAtEnd, plain}, std::pair{plain, ansiAtEnd}}) {
        ChangingSource source(read, ahead);
        StringOut out;
        try {
            ConvertStream(source, out, read.size(), {});
            ADD_FAILURE() << "converted";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), kChangedMeanwhile);
        }
    }
}

TEST(FirstSection, KeptBackOnlyAsLongAsItMayBeHeld)
{
    // The first section's name decides whether a header goes in front of
    // it: the pass keeps the output back until then, but not past 1 MiB.
    std::string between;
    while (between.size() <= (1u << 20))
        between += " 10\r\n0.0\r\n";
    const std::string named = "  0\r\nSECTION\r\n" + between + "  2\r\nENTITIES\r\n  0\r\nENDSEC\r\n";
    PassReport report;
    EXPECT_EQ(ConvertBuffer(named, {}, &report), named);
    EXPECT_EQ(report.codePagesSet, 0u);
    // Just below that, the header goes in front.
    const std::string shorter = "  0\r\nSECTION\r\n" + between.substr(40) + "  2\r\nENTITIES\r\n";
    const std::string front = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n"
                              "  0\r\nENDSEC\r\n";
    EXPECT_EQ(ConvertBuffer(shorter, {}, &report), front + shorter);
    EXPECT_EQ(report.codePagesSet, 1u);
}
