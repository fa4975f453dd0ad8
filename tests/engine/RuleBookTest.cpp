// Every rule of the rule book through every way a drawing goes through
// the pass: whole in memory (the fast path over the block), a byte a read
// (line by line), every line taken in pieces as a line too long to hold
// is, and read ahead with its index made on the reading thread; each case
// shifted across the 64-byte words of the index.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "SwitchSets.h"
#include "MemoryStreams.h"
#include "engine/IoError.h"
#include "engine/pass/BackgroundIo.h"
#include "engine/pass/LinePass.h"
#include "engine/rules/CodePageRun.h"
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

enum class Way { Whole, ByteByByte, InPieces, ReadAhead };
constexpr Way kWays[] = {Way::Whole, Way::ByteByByte, Way::InPieces, Way::ReadAhead};
const char* nameOf(Way way)
{
    switch (way) {
    case Way::Whole: return "whole";
    case Way::ByteByByte: return "byte by byte";
    case Way::InPieces: return "in pieces";
    case Way::ReadAhead: return "read ahead";
    }
    return "";
}

Outcome convert(const std::string& input, const ConversionSwitches& sw, Way way)
{
    Outcome o;
    try {
        if (way == Way::Whole) {
            o.text = ConvertBuffer(input, sw, &o.report);
        } else {
            PiecewiseSource file(input, way == Way::ReadAhead ? input.size() : 1);
            StringOut out;
            if (way == Way::ByteByByte) {
                o.report = ConvertStream(file, out, input.size(), sw);
            } else if (way == Way::InPieces) {
                o.report = ConvertStreamInPieces(file, out, input.size(), sw, 1);
            } else {
                ReadAheadSource source(file);
                o.report = ConvertStream(source, out, input.size(), sw);
            }
            o.text = out.text;
        }
    } catch (const Refusal& e) {
        o.refused = e.code();
    }
    // The pass converts a drawing converted before all the same; whoever
    // replaces drawings refuses it.
    if (o.report.alreadyConverted)
        o.refused = kAlreadyConverted;
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
    ConversionSwitches wl;
    wl.textDirection = "wl";
    ConversionSwitches textsOffLw = textsOff();
    ConversionSwitches textsOffWl = textsOff();
    textsOffWl.textDirection = "wl";
    const std::string header = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n";
    const std::string declared1250 = "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n";
    const std::string endsec = "  0\r\nENDSEC\r\n";
    // The header a drawing without one gets in front of its first section.
    const std::string header1250 = header + declared1250 + endsec;
    const std::string header852 = header + "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_852\r\n" + endsec;
    // A section with a colour in it, as read (1) and as written (7).
    const auto section = [&](const std::string& name, const char* colour = "1") {
        return "  0\r\nSECTION\r\n  2\r\n" + name + "\r\n  0\r\nLINE\r\n 62\r\n" + colour + "\r\n" + endsec;
    };
    const auto declaring = [&](const std::string& codePage) {
        return header + "  9\r\n$DWGCODEPAGE\r\n  3\r\n" + codePage + "\r\n" + endsec;
    };
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
        {"ATTDEF: the prompt is a text, the tag is not", defaults,
         "  0\r\nATTDEF\r\n  1\r\n%%130\r\n  2\r\nC%%130\r\n  3\r\n%%172%%161slo\r\n  0\r\nATTRIB\r\n  3\r\n%%130\r\n",
         "  0\r\nATTDEF\r\n  1\r\n\xE9\r\n  2\r\nC%%130\r\n  3\r\n\xC8\xEDslo\r\n  0\r\nATTRIB\r\n  3\r\n%%130\r\n", 0,
         2, 0, 0},
        {"... written Latin II", wl, "  0\r\nATTDEF\r\n  3\r\n\xC8\xEDslo\r\n", "  0\r\nATTDEF\r\n  3\r\n%%172%%161slo\r\n", 0,
         1, 0, 0},
        {"... left alone without text recoding", textsOff(), "  0\r\nATTDEF\r\n  3\r\n%%130\r\n",
         "  0\r\nATTDEF\r\n  3\r\n%%130\r\n", 0, 0, 0, 0},
        {"no texts in OBJECTS", defaults,
         "  0\r\nSECTION\r\n  2\r\nOBJECTS\r\n  1\r\n%%130\r\n  0\r\nENDSEC\r\n  1\r\n%%130\r\n",
         header1250 + "  0\r\nSECTION\r\n  2\r\nOBJECTS\r\n  1\r\n%%130\r\n  0\r\nENDSEC\r\n  1\r\n\xE9\r\n", 0, 1, 0,
         1},
        {"a section's name only right after SECTION", defaults,
         "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  2\r\nOBJECTS\r\n  1\r\n%%130\r\n",
         header1250 + "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  2\r\nOBJECTS\r\n  1\r\n\xE9\r\n", 0, 1, 0, 1},
        {"group 62 is a colour", defaults, " 62\r\n     1\r\n 62\r\n-5\r\n", " 62\r\n7\r\n 62\r\n-4\r\n", 0, 0, 2, 0},
        {"162 is no colour", defaults, "162\r\n1\r\n", "162\r\n1\r\n", 0, 0, 0, 0},
        {"the drawing's version before AC1021", defaults, "  9\r\n$ACADVER\r\n  1\r\nAC1018\r\n  1\r\n%%130\r\n",
         "  9\r\n$ACADVER\r\n  1\r\nAC1018\r\n  1\r\n\xE9\r\n", 0, 1, 0, 0},
        {"texts in UTF-8 from AC1021 on: escapes become UTF-8, bytes stay", defaults,
         "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n  1\r\n%%130\xC3\xA9%%c%%200%%151\r\n",
         "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n  1\r\n\xC3\xA9\xC3\xA9%%c \xC5\x9A\r\n", 0, 1, 0, 0},
        {"texts before the version recoded the old way", defaults,
         "  1\r\n%%130\xA7\r\n  9\r\n$ACADVER\r\n  1\r\n AC1024 \r\n  1\r\n\xA7x%%%37c%%1000\r\n",
         "  1\r\n\xE9\xF9\r\n  9\r\n$ACADVER\r\n  1\r\n AC1024 \r\n  1\r\n\xA7x%%c\xC5\x94\r\n", 0, 2, 0, 0},
        {"no UTF-8 from versions that are not AC and four digits", defaults,
         "  9\r\n$ACADVER\r\n  1\r\nAC10210\r\n  1\r\n%%130\xA7\r\n",
         "  9\r\n$ACADVER\r\n  1\r\nAC10210\r\n  1\r\n\xE9\xF9\r\n", 0, 1, 0, 0},
        {"texts in UTF-8 refused as escapes", wl, "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n", "", kTextsInUtf8, 0, 0, 0},
        {"... before a code page already written", wl,
         "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_852\r\n", "", kTextsInUtf8, 0, 0,
         0},
        {"... converted when texts are left alone", textsOff(), "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n",
         "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n", 0, 0, 0, 0},
        {"the version only in the header", defaults,
         "  0\r\nENDSEC\r\n  9\r\n$ACADVER\r\n  1\r\nAC1027\r\n",
         "  0\r\nENDSEC\r\n  9\r\n$ACADVER\r\n  1\r\nAC1027\r\n", 0, 0, 0, 0},
        {"the code page up to the next variable", defaults,
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nansi_852\r\n 62\r\n1\r\n  9\r\n$X\r\n 62\r\n1\r\n",
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n 62\r\n1\r\n  9\r\n$X\r\n 62\r\n7\r\n", 0, 0, 1, 1},
        {"the declared code page replaced whatever it holds: dos852", defaults, declaring("dos852"),
         header + declared1250 + endsec, 0, 0, 0, 1},
        {"... DOS850", defaults, declaring("DOS850"), header + declared1250 + endsec, 0, 0, 0, 1},
        {"... UNDEFINED", defaults, declaring("UNDEFINED"), header + declared1250 + endsec, 0, 0, 0, 1},
        {"... MAC-ROMAN", defaults, declaring("MAC-ROMAN"), header + declared1250 + endsec, 0, 0, 0, 1},
        {"... ASCII", defaults, declaring("ASCII"), header + declared1250 + endsec, 0, 0, 0, 1},
        {"... nothing", defaults, declaring(""), header + declared1250 + endsec, 0, 0, 0, 1},
        {"... spaces and a code written after spaces", defaults,
         "  9\r\n$DWGCODEPAGE\r\n 3 \r\n  dos852 \r\n", "  9\r\n$DWGCODEPAGE\r\n 3 \r\nANSI_1250\r\n", 0, 0, 0, 1},
        {"... as the text direction names it, without text recoding", textsOffWl, declaring("dos852"),
         header852, 0, 0, 0, 1},
        {"... only the value of group 3; other lines of the run as before", defaults,
         "  9\r\n$DWGCODEPAGE\r\n  3\r\ndos852\r\n  1\r\ndos852\r\n 62\r\nansi\r\n 13\r\ndos\r\n  9\r\n$X\r\n",
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n  1\r\ndos852\r\n 62\r\nANSI_1250\r\n 13\r\ndos\r\n  9\r\n$X\r\n", 0,
         0, 0, 2},
        {"... but a line with a dollar ends the run", defaults,
         "  9\r\n$DWGCODEPAGE\r\n  3\r\ndos$852\r\n 62\r\n1\r\n",
         "  9\r\n$DWGCODEPAGE\r\n  3\r\ndos$852\r\n 62\r\n7\r\n", 0, 0, 1, 0},
        {"the code page up to the end of the header", textsOff(),
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_852\r\n  0\r\nENDSEC\r\n  3\r\nANSI31\r\n",
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n  0\r\nENDSEC\r\n  3\r\nANSI31\r\n", 0, 0, 0, 1},
        {"DWGCODEPAGE in a text starts no run", defaults, "  1\r\nDWGCODEPAGE\r\n  3\r\nANSI31\r\n",
         "  1\r\nDWGCODEPAGE\r\n  3\r\nANSI31\r\n", 0, 0, 0, 0},
        {"the code page declared where the header lacks it", defaults,
         header + "  9\r\n$ACADVER\r\n  1\r\nAC1009\r\n" + endsec,
         header + "  9\r\n$ACADVER\r\n  1\r\nAC1009\r\n" + declared1250 + endsec, 0, 0, 0, 1},
        {"... as the text direction names it", wl, header + endsec,
         header + "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_852\r\n" + endsec, 0, 0, 0, 1},
        {"... before the code and value as written", defaults,
         header + "  0  \r\n ENDSEC \r\n  1\r\nx\r\n", header + declared1250 + "  0  \r\n ENDSEC \r\n  1\r\nx\r\n",
         0, 0, 0, 1},
        {"... in a section named HEADER after spaces, once", defaults,
         "  0\r\nSECTION\r\n  2\r\n HEADER \r\n  9\r\n$UCSNAME\r\n  2\r\nWORLD\r\n" + endsec,
         "  0\r\nSECTION\r\n  2\r\n HEADER \r\n  9\r\n$UCSNAME\r\n  2\r\nWORLD\r\n" + declared1250 + endsec, 0,
         0, 0, 1},
        {"... not in other sections", defaults,
         header + endsec + "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  2\r\nHEADER\r\n" + endsec,
         header + declared1250 + endsec + "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  2\r\nHEADER\r\n" + endsec, 0, 0, 0,
         1},
        {"... without recoding texts too", textsOffLw, header + endsec, header + declared1250 + endsec, 0, 0, 0, 1},
        {"... and so in the other direction", textsOffWl, header + endsec, header852, 0, 0, 0, 1},
        {"a header in front of a first section of CLASSES", defaults, section("CLASSES"),
         header1250 + section("CLASSES", "7"), 0, 0, 1, 1},
        {"... of TABLES", defaults, section("TABLES"), header1250 + section("TABLES", "7"), 0, 0, 1, 1},
        {"... of BLOCKS", defaults, section("BLOCKS"), header1250 + section("BLOCKS", "7"), 0, 0, 1, 1},
        {"... of ENTITIES", defaults, section("ENTITIES"), header1250 + section("ENTITIES", "7"), 0, 0, 1, 1},
        {"... of OBJECTS", defaults, section("OBJECTS"), header1250 + section("OBJECTS", "7"), 0, 0, 1, 1},
        {"... without recoding texts", textsOffLw, section("ENTITIES"), header1250 + section("ENTITIES", "7"), 0, 0, 1, 1},
        {"... as the text direction names it", wl, section("ENTITIES"), header852 + section("ENTITIES", "7"), 0, 0, 1,
         1},
        {"... so without recoding texts", textsOffWl, section("BLOCKS"), header852 + section("BLOCKS", "7"), 0, 0, 1, 1},
        {"... of a name not HEADER as written", defaults, section(" header "), header1250 + section(" header ", "7"), 0,
         0, 1, 1},
        {"... named after other pairs, spaces around", defaults,
         "  0 \r\n SECTION \r\n999\r\nnote\r\n  1\r\n%%130\r\n  2\r\n ENTITIES \r\n",
         header1250 + "  0 \r\n SECTION \r\n999\r\nnote\r\n  1\r\n\xE9\r\n  2\r\n ENTITIES \r\n", 0, 1, 0, 1},
        {"... and once only", defaults, section("TABLES") + section("ENTITIES"),
         header1250 + section("TABLES", "7") + section("ENTITIES", "7"), 0, 0, 2, 1},
        {"no header in front of a first section named HEADER", textsOffLw, header + "  9\r\n$X\r\n" + endsec + section("ENTITIES"),
         header + "  9\r\n$X\r\n" + declared1250 + endsec + section("ENTITIES", "7"), 0, 0, 1, 1},
        {"... named HEADER after spaces", defaults, "  0\r\nSECTION\r\n  2\r\n  HEADER \r\n" + endsec,
         "  0\r\nSECTION\r\n  2\r\n  HEADER \r\n" + declared1250 + endsec, 0, 0, 0, 1},
        {"... nor where the first section has no name before its next group 0", textsOffLw,
         "  0\r\nSECTION\r\n 62\r\n1\r\n" + endsec + section("ENTITIES"),
         "  0\r\nSECTION\r\n 62\r\n7\r\n" + endsec + section("ENTITIES", "7"), 0, 0, 2, 0},
        {"... nor in a drawing without sections", textsOffLw, "  0\r\nLINE\r\n 62\r\n1\r\n  0\r\nEOF\r\n",
         "  0\r\nLINE\r\n 62\r\n7\r\n  0\r\nEOF\r\n", 0, 0, 1, 0},
        {"... nor where the input ends unnamed", defaults, "  0\r\nSECTION\r\n  1\r\n%%130\r\n",
         "  0\r\nSECTION\r\n  1\r\n\xE9\r\n", 0, 1, 0, 0},
        {"... nor where SECTION is no value of group 0", defaults, "  1\r\nSECTION\r\n  2\r\nENTITIES\r\n",
         "  1\r\nSECTION\r\n  2\r\nENTITIES\r\n", 0, 0, 0, 0},
        {"a header after a code-page run that the first section ends", defaults,
         "  9\r\n$DWGCODEPAGE\r\n  3\r\ndos852\r\n" + section("ENTITIES"),
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n" + header1250 + section("ENTITIES", "7"), 0, 0, 1, 2},
        {"... not where the header's last line is the drawing's", defaults, header + "  0\r\n",
         header + "  0\r\n", 0, 0, 0, 0},
        {"... each header on its own", defaults,
         header + endsec + header + "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_852\r\n" + endsec,
         header + declared1250 + endsec + header + declared1250 + endsec, 0, 0, 0, 2},
        {"a drawing declaring the code page written is converted already", defaults,
         declared1250 + "  9\r\n$X\r\n  1\r\n\xE9%%127%%256\r\n", "", kAlreadyConverted, 0, 0, 0},
        {"... declared in any case and with spaces", defaults,
         "  9\r\n$DWGCODEPAGE\r\n  3\r\n  ansi_1250 \r\n", "", kAlreadyConverted, 0, 0, 0},
        {"... a declaration inserted before counts as one", defaults, header + declared1250 + endsec, "",
         kAlreadyConverted, 0, 0, 0},
        {"... without recoding texts too", textsOffLw, declared1250 + "  9\r\n$X\r\n  1\r\n%%130\r\n", "", kAlreadyConverted, 0, 0,
         0},
        {"... escapes of group 3 outside MTEXT do not count", defaults,
         declared1250 + "  0\r\nLINE\r\n  3\r\n%%130\r\n", "", kAlreadyConverted, 0, 0, 0},
        {"... escapes count only decoded", wl, "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_852\r\n  9\r\n$X\r\n  1\r\n%%130\r\n", "",
         kAlreadyConverted, 0, 0, 0},
        {"still in the DOS convention: an escape of a byte of 128 or more", defaults,
         declared1250 + "  9\r\n$X\r\n  1\r\n%%384\r\n", declared1250 + "  9\r\n$X\r\n  1\r\n\xC7\r\n", 0, 1, 0, 1},
        {"... in UTF-8 too", defaults,
         "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n" + declared1250 + "  0\r\nTEXT\r\n  1\r\n%%%130\r\n",
         "  9\r\n$ACADVER\r\n  1\r\nAC1021\r\n" + declared1250 + "  0\r\nTEXT\r\n  1\r\n%\xC3\xA9\r\n", 0, 1, 0, 1},
        {"a declaration that is not the value written", defaults,
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\t\r\n", declared1250, 0, 0, 0, 1},
        {"the declaration only from the first run", defaults,
         "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_852\r\n  9\r\n$X\r\n" + declared1250,
         declared1250 + "  9\r\n$X\r\n" + declared1250, 0, 0, 0, 2},
        {"... and only where it replaces a line", defaults,
         "  9\r\n$DWGCODEPAGE\r\n 13\r\ncp1250\r\n  9\r\n$X\r\n" + declared1250,
         "  9\r\n$DWGCODEPAGE\r\n 13\r\ncp1250\r\n  9\r\n$X\r\n" + declared1250, 0, 0, 0, 1},
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

TEST(RuleBook, EveryConvertedDrawingDeclaresItsCodePageAndASecondRunIsRefused)
{
    ConversionSwitches wl;
    wl.textDirection = "wl";
    const std::string headerStart = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n";
    const std::string entities = "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  0\r\nTEXT\r\n 62\r\n1\r\n  1\r\n\xB0x\xB1\r\n";
    const std::string inserted1250 =
        headerStart + "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n  0\r\nENDSEC\r\n";
    const struct {
        const char* drawing;
        ConversionSwitches switches;
        std::string in;
        std::string out;
        std::vector<std::uint64_t> lostLines;  // as the input numbers them
    } cases[] = {
        {"declared the DOS way", {}, headerStart + "  9\r\n$DWGCODEPAGE\r\n  3\r\ndos852\r\n  0\r\nENDSEC\r\n",
         headerStart + "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n  0\r\nENDSEC\r\n", {}},
        {"... written Latin II", wl, headerStart + "  9\r\n$DWGCODEPAGE\r\n  3\r\nDOS850\r\n  0\r\nENDSEC\r\n",
         headerStart + "  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_852\r\n  0\r\nENDSEC\r\n", {}},
        {"without a HEADER section", {}, entities,
         inserted1250 + "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  0\r\nTEXT\r\n 62\r\n7\r\n  1\r\n x \r\n", {10}},
        {"... colours only", textsOff(), entities,
         inserted1250 + "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  0\r\nTEXT\r\n 62\r\n7\r\n  1\r\n\xB0x\xB1\r\n", {}},
        {"colours only, a HEADER without the code page", textsOff(), headerStart + "  0\r\nENDSEC\r\n 62\r\n1\r\n",
         inserted1250 + " 62\r\n7\r\n", {}},
    };
    for (const auto& c : cases) {
        for (const Way way : kWays) {
            const Outcome first = convert(c.in, c.switches, way);
            ASSERT_EQ(first.refused, 0) << c.drawing << ", " << nameOf(way);
            EXPECT_EQ(first.text, c.out) << c.drawing << ", " << nameOf(way);
            EXPECT_EQ(first.report.codePagesSet, 1u) << c.drawing << ", " << nameOf(way);
            EXPECT_EQ(first.report.lostCharLines, c.lostLines) << c.drawing << ", " << nameOf(way);
            const Outcome second = convert(first.text, c.switches, way);
            EXPECT_EQ(second.refused, kAlreadyConverted) << c.drawing << ", " << nameOf(way);
        }
    }
}

TEST(RuleBook, ARunLineTooVariedToHoldGoesOutAsItsWholeSays)
{
    // A line of the code-page run over 1 MiB long, of runs of one byte
    // each: whether it stays or is replaced is decided by all of it.
    ConversionSwitches wl;
    wl.textDirection = "wl";
    std::string varied;
    while (varied.size() <= (1u << 20))
        varied += "xy";
    const std::string run = "  9\r\n$DWGCODEPAGE\r\n  4\r\n";
    const std::string after = "  9\r\n$X\r\n 62\r\n5\r\n";
    const struct {
        const char* line;
        ConversionSwitches switches;
        std::string in;
        std::string out;
        std::uint64_t codePages;
    } cases[] = {
        {"ANSI only at its end", {}, run + varied + "ansi\r\n" + after, run + "ANSI_1250\r\n  9\r\n$X\r\n 62\r\n4\r\n", 1},
        {"... written Latin II", wl, run + varied + "ansi\r\n" + after, run + "ANSI_852\r\n  9\r\n$X\r\n 62\r\n4\r\n", 1},
        {"ANSI early, a dollar late", {}, run + "ANSI" + varied + "$\r\n 62\r\n5\r\n",
         run + "ANSI" + varied + "$\r\n 62\r\n4\r\n", 0},
        {"neither", {}, run + varied + "\r\n" + after, run + varied + "\r\n  9\r\n$X\r\n 62\r\n4\r\n", 0},
        {"AN, CR, SI", {}, run + varied + "AN\rSI" + varied + "\r\n" + after,
         run + "ANSI_1250\r\n  9\r\n$X\r\n 62\r\n4\r\n", 1},
    };
    for (const auto& c : cases) {
        for (const Way way : kWays) {
            const Outcome got = convert(c.in, c.switches, way);
            EXPECT_EQ(got.refused, 0) << c.line << ", " << nameOf(way);
            EXPECT_TRUE(got.text == c.out) << c.line << ", " << nameOf(way);
            EXPECT_EQ(got.report.codePagesSet, c.codePages) << c.line << ", " << nameOf(way);
        }
    }
}

TEST(RuleBook, TrimSpacesTakesOnlySpaces)
{
    const struct {
        std::string in, out;
    } cases[] = {{"  62 ", "62"}, {"\t62\t", "\t62\t"}, {"    ", ""}, {"", ""}, {" a b ", "a b"}};
    for (const auto& c : cases) {
        std::string s = c.in;
        TrimSpaces(s);
        EXPECT_EQ(s, c.out) << "'" << c.in << "'";
    }
}

TEST(RuleBook, FirstLineRefusals)
{
    ConversionSwitches wl;
    wl.textDirection = "wl";
    const std::string bom = "\xEF\xBB\xBF";
    const struct {
        const char* rule;
        ConversionSwitches switches;
        std::string in;
        std::string out;  // empty: as it came
        int refused;
    } cases[] = {
        {"binary DXF", textsOff(), std::string("AutoCAD Binary DXF\r\n\x1A\0", 22) + "  0\r\n", "", kNotAsciiDxf},
        {"first line no group code", textsOff(), "hello\r\n  0\r\n", "", kNotAsciiDxf},
        {"first line a negative code", textsOff(), " -1 \r\nx\r\n", "", 0},
        {"UTF-8 mark, texts as escapes", wl, bom + "  0\r\nEOF\r\n", "", kTextsInUtf8},
        {"UTF-8 mark, no group code", wl, bom + "x\r\n", "", kNotAsciiDxf},
        {"UTF-8 mark, texts left alone", textsOff(), bom + "  0\r\nEOF\r\n", "", 0},
        {"UTF-8 mark, texts decoded into UTF-8", {}, bom + "  1\r\n%%138\xA7%%c\r\n",
         bom + "  1\r\n\xC5\x90\xA7%%c\r\n", 0},
    };
    for (const auto& c : cases) {
        for (const Way way : kWays) {
            const Outcome got = convert(c.in, c.switches, way);
            EXPECT_EQ(got.refused, c.refused) << c.rule << ", " << nameOf(way);
            if (c.refused == 0) {
                EXPECT_EQ(got.text, c.out.empty() ? c.in : c.out) << c.rule << ", " << nameOf(way);
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
        values.emplace_back(kHeaderSection);
        values.emplace_back("ENTITIES");
        values.emplace_back("dos852");
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
        for (const Way way : {Way::ByteByByte, Way::InPieces, Way::ReadAhead}) {
            const Outcome got = convert(input, sw, way);
            ASSERT_EQ(got.refused, whole.refused) << nameOf(way) << ", round " << round;
            ASSERT_EQ(got.text, whole.text) << nameOf(way) << ", round " << round;
            ASSERT_EQ(got.report.textsRecoded, whole.report.textsRecoded) << nameOf(way) << ", round " << round;
            ASSERT_EQ(got.report.coloursRenumbered, whole.report.coloursRenumbered) << nameOf(way);
            ASSERT_EQ(got.report.codePagesSet, whole.report.codePagesSet) << nameOf(way);
        }
    }
}
