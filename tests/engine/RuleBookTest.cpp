// Every rule of the rule book through every way a drawing goes through
// the pass: whole in memory (the fast path over the block), a byte a read
// (line by line), and read ahead with its index made on the reading
// thread; each case shifted across the 64-byte words of the index.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "SwitchSets.h"
#include "MemoryStreams.h"
#include "engine/IoError.h"
#include "engine/pass/BackgroundIo.h"
#include "engine/pass/LinePass.h"
#include "engine/rules/DxfRules.h"

using namespace dxfkonv;
using dxfkonv::test::PiecewiseSource;
using dxfkonv::test::StringOut;
using dxfkonv::test::textsOff;

namespace {

struct Outcome {
    std::string text;
    int refused = 0;
    PassReport report;
};

enum class Way { Whole, ByteByByte, ReadAhead };
constexpr Way kWays[] = {Way::Whole, Way::ByteByByte, Way::ReadAhead};
const char* nameOf(Way way)
{
    return way == Way::Whole ? "whole" : way == Way::ByteByByte ? "byte by byte" : "read ahead";
}

Outcome convert(const std::string& input, const ConversionSwitches& sw, Way way)
{
    Outcome o;
    try {
        if (way == Way::Whole) {
            o.text = ConvertBuffer(input, sw, &o.report);
        } else {
            PiecewiseSource file(input, way == Way::ByteByByte ? 1 : input.size());
            StringOut out;
            if (way == Way::ByteByByte) {
                o.report = ConvertStream(file, out, input.size(), sw);
            } else {
                ReadAheadSource source(file);
                o.report = ConvertStream(source, out, input.size(), sw);
            }
            o.text = out.text;
        }
    } catch (const Refusal& e) {
        o.refused = e.code();
    }
    return o;
}

// Neutral pairs in front of a case: enough for the fast path to be under
// way, then one whose value is `shift` bytes long, so that the case starts
// at every offset of a 64-byte word.
std::string padding(std::size_t shift)
{
    std::string s;
    for (int i = 0; i < 8; ++i)
        s += " 10\r\n0.0\r\n";
    return s + " 20\r\n" + std::string(shift, '0') + "\r\n";
}

}  // namespace

TEST(RuleBook, EveryRuleOnEveryWayAtEveryOffset)
{
    const ConversionSwitches defaults;
    const struct {
        const char* rule;
        ConversionSwitches switches;
        std::string in;
        std::string out;  // as written; empty where refused
        int refused;
        std::uint64_t texts;
        std::uint64_t colours;
        std::uint64_t codePages;
    } cases[] = {
        {"group 1 is a text", defaults, "  1\r\n%%130x\r\n", "  1\r\n\xE9x\r\n", 0, 1, 0, 0},
        {"group 1 left alone without text recoding", textsOff(), "  1\r\n%%130x\r\n", "  1\r\n%%130x\r\n", 0, 0, 0, 0},
        {"a code with spaces after it", defaults, "  1  \r\n%%130\r\n", "  1  \r\n\xE9\r\n", 0, 1, 0, 0},
        {"group 3 is a text in MTEXT only", defaults,
         "  0\r\nMTEXT\r\n  3\r\n%%130\r\n  1\r\n%%131\r\n  0\r\nLINE\r\n  3\r\n%%130\r\n",
         "  0\r\nMTEXT\r\n  3\r\n\xE9\r\n  1\r\n\xE2\r\n  0\r\nLINE\r\n  3\r\n%%130\r\n", 0, 2, 0, 0},
        {"MTEXT named after spaces", defaults, "  0\r\n  MTEXT\r\n  3\r\n%%130\r\n",
         "  0\r\n  MTEXT\r\n  3\r\n\xE9\r\n", 0, 1, 0, 0},
        {"a name that merely starts like MTEXT", defaults, "  0\r\nMTEXTX\r\n  3\r\n%%130\r\n",
         "  0\r\nMTEXTX\r\n  3\r\n%%130\r\n", 0, 0, 0, 0},
        {"no texts in OBJECTS", defaults,
         "  0\r\nSECTION\r\n  2\r\nOBJECTS\r\n  1\r\n%%130\r\n  0\r\nENDSEC\r\n  1\r\n%%130\r\n",
         "  0\r\nSECTION\r\n  2\r\nOBJECTS\r\n  1\r\n%%130\r\n  0\r\nENDSEC\r\n  1\r\n\xE9\r\n", 0, 1, 0, 0},
        {"a section's name only right after SECTION", defaults,
         "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  2\r\nOBJECTS\r\n  1\r\n%%130\r\n",
         "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  2\r\nOBJECTS\r\n  1\r\n\xE9\r\n", 0, 1, 0, 0},
        {"group 62 is a colour", defaults, " 62\r\n     1\r\n 62\r\n-5\r\n", " 62\r\n7\r\n 62\r\n-4\r\n", 0, 0, 2, 0},
        {"162 is no colour", defaults, "162\r\n1\r\n", "162\r\n1\r\n", 0, 0, 0, 0},
        {"the drawing's version before AC1021", defaults, "  9\r\n$ACADVER\r\n  1\r\nAC1018\r\n  1\r\n%%130\r\n",
         "  9\r\n$ACADVER\r\n  1\r\nAC1018\r\n  1\r\n\xE9\r\n", 0, 1, 0, 0},
        {"texts in UTF-8 from AC1021 on", defaults, "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n", "", kTextsInUtf8, 0, 0, 0},
        {"... converted when texts are left alone", textsOff(), "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n",
         "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n", 0, 0, 0, 0},
        {"the version only in the header", defaults,
         "  0\r\nENDSEC\r\n  9\r\n$ACADVER\r\n  1\r\nAC1027\r\n",
         "  0\r\nENDSEC\r\n  9\r\n$ACADVER\r\n  1\r\nAC1027\r\n", 0, 0, 0, 0},
        {"the code page up to the next variable", defaults,
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nansi_852\r\n 62\r\n1\r\n  9\r\n$X\r\n 62\r\n1\r\n",
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n 62\r\n1\r\n  9\r\n$X\r\n 62\r\n7\r\n", 0, 0, 1, 1},
        {"the code page up to the end of the header", textsOff(),
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_852\r\n  0\r\nENDSEC\r\n  3\r\nANSI31\r\n",
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n  0\r\nENDSEC\r\n  3\r\nANSI31\r\n", 0, 0, 0, 1},
        {"DWGCODEPAGE in a text starts no run", defaults, "  1\r\nDWGCODEPAGE\r\n  3\r\nANSI31\r\n",
         "  1\r\nDWGCODEPAGE\r\n  3\r\nANSI31\r\n", 0, 0, 0, 0},
        {"Ctrl-Z where a code is due ends the drawing", defaults, "  0\r\nEOF\r\n\x1A 62\r\n1\r\n",
         "  0\r\nEOF\r\n", 0, 0, 0, 0},
        {"Ctrl-Z in a value is a byte", defaults, "  1\r\n\x1A%%130\r\n 62\r\n1\r\n",
         "  1\r\n\x1A\xE9\r\n 62\r\n7\r\n", 0, 1, 1, 0},
    };
    for (const auto& c : cases) {
        for (std::size_t shift = 1; shift <= 64; ++shift) {
            const std::string input = padding(shift) + c.in;
            const std::string expected = c.refused != 0 ? "" : padding(shift) + c.out;
            for (const Way way : kWays) {
                const Outcome got = convert(input, c.switches, way);
                ASSERT_EQ(got.refused, c.refused) << c.rule << ", " << nameOf(way) << ", shift " << shift;
                if (c.refused != 0)
                    continue;
                ASSERT_EQ(got.text, expected) << c.rule << ", " << nameOf(way) << ", shift " << shift;
                ASSERT_EQ(got.report.textsRecoded, c.texts) << c.rule << ", " << nameOf(way);
                ASSERT_EQ(got.report.coloursRenumbered, c.colours) << c.rule << ", " << nameOf(way);
                ASSERT_EQ(got.report.codePagesSet, c.codePages) << c.rule << ", " << nameOf(way);
            }
        }
    }
}

TEST(RuleBook, FirstLineRefusals)
{
    const struct {
        const char* rule;
        bool texts;
        std::string in;
        int refused;
    } cases[] = {
        {"binary DXF", false, std::string("AutoCAD Binary DXF\r\n\x1A\0", 22) + "  0\r\n", kNotAsciiDxf},
        {"first line no group code", false, "hello\r\n  0\r\n", kNotAsciiDxf},
        {"first line a negative code", false, " -1 \r\nx\r\n", 0},
        {"UTF-8 mark, texts recoded", true, "\xEF\xBB\xBF  0\r\nEOF\r\n", kTextsInUtf8},
        {"UTF-8 mark, texts left alone", false, "\xEF\xBB\xBF  0\r\nEOF\r\n", 0},
    };
    for (const auto& c : cases) {
        ConversionSwitches sw;
        sw.recodeTexts = c.texts;
        for (const Way way : kWays) {
            const Outcome got = convert(c.in, sw, way);
            EXPECT_EQ(got.refused, c.refused) << c.rule << ", " << nameOf(way);
            if (c.refused == 0) {
                EXPECT_EQ(got.text, c.in) << c.rule << ", " << nameOf(way);
            }
        }
    }
}

namespace {

// Pairs drawn from the rule book's own tables, so that a rule added there
// is exercised here unasked: its group codes (spaced as drawings write
// them, or not), with the names the structure acts on after the name
// code, the header variables after theirs, and values with escapes and
// the marks the rules look for after any.
struct RuleWords {
    std::vector<std::string> codes{" 10", " 20", "999"};
    std::vector<std::string> names{"LINE", "EOF", ""};
    std::vector<std::string> variables{"$X"};
    std::vector<std::string> values{"0.0", "%%130", "%%c", "\xE9", "     1", "-5", "300", "AC1018", "AC1024", "",
                                    "\x1A", "$X"};
    std::string nameCode;
    std::string headerCode;

    RuleWords()
    {
        for (const GroupCodeRule& rule : kGroupCodes) {
            const std::string digits(rule.digits);
            const std::string spaced = std::string(3 - digits.size(), ' ') + digits;
            codes.insert(codes.end(), {spaced, spaced, digits, spaced + " ", "1" + digits});
            if (rule.code == kNameCode)
                nameCode = spaced;
            if (rule.code == Code::Header)
                headerCode = spaced;
        }
        for (const EntityText& entity : kEntityTexts) {
            const std::string name(entity.entity);
            names.insert(names.end(), {name, name, " " + name, name + "X"});
        }
        for (const std::string_view name : {kSectionStart, kSectionEnd})
            names.insert(names.end(), {std::string(name), std::string(name)});
        values.emplace_back(kSectionWithoutTexts);
        variables.emplace_back(kVersionVariable);
        variables.push_back("$" + std::string(kCodePageVariable));
        values.push_back(std::string(kCodePageValueMark) + "_852");
        values.push_back(std::string(kCodePageValueMark) + "31");
    }

    std::string pick(const std::vector<std::string>& from, std::mt19937& rng) const { return from[rng() % from.size()]; }
};

}  // namespace

TEST(RuleBook, RandomDrawingsOfTheRuleBooksWordsAgreeOnEveryWay)
{
    const RuleWords words;
    std::mt19937 rng(1250);
    ConversionSwitches wl;
    wl.textDirection = "wl";
    wl.palette16 = true;
    const ConversionSwitches variants[] = {ConversionSwitches{}, wl, textsOff()};
    for (int round = 0; round < 600; ++round) {
        // Mostly plain pairs, so that the fast path has runs to pass over.
        std::string input = "  0\r\nLINE\r\n";
        for (std::size_t pairs = 1 + rng() % 300; pairs != 0; --pairs) {
            if (rng() % 100 < 60) {
                input += " 10\r\n0.0\r\n";
                continue;
            }
            const std::string code = words.pick(words.codes, rng);
            const std::string value = words.pick(code == words.nameCode     ? words.names
                                                 : code == words.headerCode ? words.variables
                                                                            : words.values,
                                                 rng);
            const char* end = rng() % 40 == 0 ? "\n" : "\r\n";
            input += code + end + value + end;
        }
        const ConversionSwitches& sw = variants[round % 3];
        const Outcome whole = convert(input, sw, Way::Whole);
        for (const Way way : {Way::ByteByByte, Way::ReadAhead}) {
            const Outcome got = convert(input, sw, way);
            ASSERT_EQ(got.refused, whole.refused) << nameOf(way) << ", round " << round;
            ASSERT_EQ(got.text, whole.text) << nameOf(way) << ", round " << round;
            ASSERT_EQ(got.report.textsRecoded, whole.report.textsRecoded) << nameOf(way) << ", round " << round;
            ASSERT_EQ(got.report.coloursRenumbered, whole.report.coloursRenumbered) << nameOf(way);
            ASSERT_EQ(got.report.codePagesSet, whole.report.codePagesSet) << nameOf(way);
        }
    }
}
