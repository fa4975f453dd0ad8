// Files no drawing program writes but a user may still pick: huge lines,
// binary junk, nothing but CRs, a million empty lines, a directory or a
// pipe named like a drawing, names with spaces and Czech letters, links.
// None may crash the pass, lose data, or make it hold more than about one
// line in memory.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/replace/Convert.h"
#include "engine/IoError.h"
#include "engine/pass/LinePass.h"
#include "engine/rules/TextRecoding.h"
#include "tests/hardening/HardeningSupport.h"

namespace dxfkonv::hardening {
namespace {

constexpr long kMiB = 1024;  // in KiB, as ru_maxrss counts

ConversionSwitches allOn()
{
    return ConversionSwitches{};  // recode "lw", 256 colours "sa", backup
}

ConversionSwitches reverse()
{
    ConversionSwitches s;
    s.textDirection = kWindowsToLatin;
    s.palette16 = true;
    s.colourDirection = kAutocadToTarnix;
    return s;
}

// Writes `pieces` copies of `piece` (plus head and tail) without holding
// the whole file in memory.
void writeRepeated(const std::string& path, const std::string& head, const std::string& piece,
                   std::size_t pieces, const std::string& tail)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(head.data(), 1, head.size(), f);
    std::string block;
    for (int i = 0; i < 4096; ++i)
        block += piece;
    std::size_t left = pieces;
    while (left >= 4096) {
        std::fwrite(block.data(), 1, block.size(), f);
        left -= 4096;
    }
    for (; left != 0; --left)
        std::fwrite(piece.data(), 1, piece.size(), f);
    std::fwrite(tail.data(), 1, tail.size(), f);
    ASSERT_EQ(std::fclose(f), 0);
}

// Converts dir/name in a child and returns how it went; the child's peak
// memory above that of a child that does nothing is in `extraKiB`.
Outcome convertMeasured(const ScratchDir& dir, const std::string& name, const ConversionSwitches& s,
                        long& extraKiB)
{
    const Outcome idle = runInChild([] { return PassReport{}; });
    Outcome o = runInChild([&] { return Convert(dir.path(), name, s, {}, SystemFileSystem()); });
    extraKiB = o.maxRssKiB - idle.maxRssKiB;
    return o;
}

TEST(OddFiles, SixtyFourMebibyteTextLine)
{
    ScratchDir dir;
    const std::string piece = "k%%133%%229 %%c %%253li%%231 Ab ";  // 32 bytes
    const std::size_t pieces = 2 * 1024 * 1024;                      // 64 MiB
    ASSERT_EQ(piece.size(), 32u);
    writeRepeated(dir / "long.dxf", "  1\r\n", piece, pieces, "\r\n 62\r\n     5\r\n");

    long extra = 0;
    const Outcome o = convertMeasured(dir, "long.dxf", allOn(), extra);
    ASSERT_EQ(o.kind, Outcome::kConverted) << describe(o);
    ::testing::Test::RecordProperty("extra_rss_kib", std::to_string(extra));
    // The line goes through in pieces: it is not held at all.
    if (kPeakMemoryMeaningful) {
        EXPECT_LT(extra, 12 * kMiB) << "peak memory grows with the longest line";
    }

    std::string line;
    line.reserve(piece.size() * pieces);
    for (std::size_t i = 0; i < pieces; ++i)
        line += piece;
    const std::string expected = "  1\r\n" + ConvertText(kLatinToWindows, line) + "\r\n 62\r\n4\r\n";
    line = std::string();
    EXPECT_TRUE(readFile(dir / "long.dxf") == expected);
    EXPECT_EQ(workFileNames(dir.names()), std::vector<std::string>{});
}

TEST(OddFiles, BinaryJunkConvertsLikeTheSameBytesInMemory)
{
    std::mt19937 random(20240601);
    std::string junk(3 * 1024 * 1024 + 17, '\0');
    for (char& c : junk)
        c = static_cast<char>(random());
    for (const ConversionSwitches& s : {allOn(), reverse()}) {
        // As it is, no DXF file: refused and left alone.
        {
            ScratchDir dir;
            writeFile(dir / "junk.dxf", junk);
            const Outcome o = runHere([&] { return Convert(dir.path(), "junk.dxf", s, {}, SystemFileSystem()); });
            ASSERT_EQ(o.kind, Outcome::kRefused) << describe(o);
            EXPECT_EQ(o.code, kNotAsciiDxf);
            EXPECT_TRUE(readFile(dir / "junk.dxf") == junk);
            EXPECT_EQ(dir.names(), (std::vector<std::string>{"junk.dxf"}));
        }
        // After a group code, converted as in memory.
        const std::string drawing = "  0\r\n" + junk;
        ScratchDir dir;
        writeFile(dir / "junk.dxf", drawing);
        PassReport expectedReport;
        const std::string expected = ConvertBuffer(drawing, s, &expectedReport);
        const Outcome o = runHere([&] { return Convert(dir.path(), "junk.dxf", s, {}, SystemFileSystem()); });
        ASSERT_EQ(o.kind, Outcome::kConverted) << describe(o);
        EXPECT_TRUE(readFile(dir / "junk.dxf") == expected);
        EXPECT_TRUE(readFile(dir / "junk.old") == drawing);
        const PassReport inspected = InspectFile(Drawing::FromPath(dir / "junk.old"), s, {}, SystemFileSystem());
        EXPECT_EQ(inspected.lines, expectedReport.lines);
        EXPECT_EQ(inspected.textsRecoded, expectedReport.textsRecoded);
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"junk.dxf", "junk.old"}));
    }
}

TEST(OddFiles, NothingButCarriageReturns)
{
    ScratchDir dir;
    writeRepeated(dir / "cr.dxf", "  0\r\n", std::string(1024, '\r'), 4096, "");  // 4 MiB
    long extra = 0;
    const Outcome o = convertMeasured(dir, "cr.dxf", allOn(), extra);
    ::testing::Test::RecordProperty("extra_rss_kib", std::to_string(extra));
    ASSERT_EQ(o.kind, Outcome::kConverted) << describe(o);
    // Every CR is dropped from a line that never ends: one empty line.
    EXPECT_EQ(readFile(dir / "cr.dxf"), "  0\r\n\r\n");
    if (kPeakMemoryMeaningful) {
        EXPECT_LT(extra, 12 * kMiB);
    }
}

TEST(OddFiles, AMillionEmptyLines)
{
    for (const char* end : {"\n", "\r\n"}) {
        SCOPED_TRACE(end[0] == '\n' ? "LF" : "CR LF");
        ScratchDir dir;
        writeRepeated(dir / "empty.dxf", std::string("999") + end, end, 1000000, "");
        long extra = 0;
        const Outcome o = convertMeasured(dir, "empty.dxf", allOn(), extra);
        ::testing::Test::RecordProperty(end[0] == '\n' ? "extra_rss_kib_lf" : "extra_rss_kib_crlf",
                                        std::to_string(extra));
        ASSERT_EQ(o.kind, Outcome::kConverted) << describe(o);
        const std::string out = readFile(dir / "empty.dxf");
        EXPECT_EQ(out.size(), 5 + 2000000u);
        EXPECT_EQ(out.substr(0, 5), "999\r\n");
        EXPECT_EQ(out.find_first_not_of("\r\n", 5), std::string::npos);
        EXPECT_EQ(out.find("\n\n"), std::string::npos);
        if (kPeakMemoryMeaningful) {
            EXPECT_LT(extra, 12 * kMiB);
        }
        const PassReport r = InspectFile(Drawing::FromPath(dir / "empty.dxf"), allOn(), {}, SystemFileSystem());
        EXPECT_EQ(r.lines, 1000001u);
    }
}

TEST(OddFiles, EmptyFileStaysEmpty)
{
    ScratchDir dir;
    writeFile(dir / "nic.dxf", "");
    ASSERT_EQ(runHere([&] { return Convert(dir.path(), "nic.dxf", allOn(), {}, SystemFileSystem()); }).kind,
              Outcome::kConverted);
    EXPECT_EQ(readFile(dir / "nic.dxf"), "");
    EXPECT_EQ(readFile(dir / "nic.old"), "");
}

// Names that are there but are no drawing are passed over untouched.
TEST(OddFiles, ThingsNamedLikeADrawingAreNotConverted)
{
    ScratchDir dir;
    ASSERT_EQ(::mkdir((dir / "x.dxf").c_str(), 0755), 0);
    writeFile(dir / "x.dxf/inside.dxf", "  0\nEOF\n");
    ASSERT_EQ(::mkfifo((dir / "pipe.dxf").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("nowhere.dxf", (dir / "dangling.dxf").c_str()), 0);
    writeFile(dir / "file.dxf", "  0\nEOF\n");
    const std::vector<std::string> before = dir.names();

    for (const char* name : {"x.dxf", "pipe.dxf", "dangling.dxf", "missing.dxf"}) {
        ChildOptions options;
        options.timeoutSeconds = 10;  // a pipe must not be opened and waited on
        const Outcome o =
            runInChild([&] { return Convert(dir.path(), name, allOn(), {}, SystemFileSystem()); }, options);
        EXPECT_EQ(o.kind, Outcome::kNotFound) << name << ": " << describe(o);
    }
    // A directory that is really a file.
    const Outcome o = runHere([&] { return Convert(dir / "file.dxf", "x.dxf", allOn(), {}, SystemFileSystem()); });
    EXPECT_EQ(o.kind, Outcome::kNotFound) << describe(o);

    EXPECT_EQ(dir.names(), before);
    EXPECT_EQ(dir.names("x.dxf"), std::vector<std::string>{"inside.dxf"});
    EXPECT_EQ(readFile(dir / "file.dxf"), "  0\nEOF\n");
}

TEST(OddFiles, NamesWithSpacesCzechLettersAndTheWorkFileName)
{
    ScratchDir dir;
    const std::string drawing = makeDrawing(64 * 1024, 3);
    const std::string converted = ConvertBuffer(drawing, allOn());
    const std::string czech = "Výkres č. 1 – Žluťoučký kůň.dxf";
    writeFile(dir / czech, drawing);
    writeFile(dir / "razade.&&&", drawing);  // a drawing under the work file's name
    writeFile(dir / "a.b.c.DXF", drawing);
    for (const std::string& name : {czech, std::string("razade.&&&"), std::string("a.b.c.DXF")}) {
        const Outcome o = runHere([&] { return Convert(dir.path(), name, allOn(), {}, SystemFileSystem()); });
        ASSERT_EQ(o.kind, Outcome::kConverted) << name << ": " << describe(o);
        EXPECT_TRUE(readFile(dir / name) == converted) << name;
        EXPECT_TRUE(readFile(dir / BackupName(name)) == drawing) << BackupName(name);
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"Výkres č. 1 – Žluťoučký kůň.dxf",
                                                     "Výkres č. 1 – Žluťoučký kůň.old", "a.b.c.DXF",
                                                     "a.b.c.old", "razade.&&&", "razade.old"}));
}

TEST(OddFiles, WorkFileNameTakenByTheUser)
{
    ScratchDir dir;
    const std::string drawing = makeDrawing(64 * 1024, 4);
    writeFile(dir / "plan.dxf", drawing);
    writeFile(dir / "razade.&&&", "mine\n");
    ASSERT_EQ(::mkdir((dir / "razade.&&&.1").c_str(), 0755), 0);
    ASSERT_EQ(runHere([&] { return Convert(dir.path(), "plan.dxf", allOn(), {}, SystemFileSystem()); }).kind,
              Outcome::kConverted);
    EXPECT_TRUE(readFile(dir / "plan.dxf") == ConvertBuffer(drawing, allOn()));
    EXPECT_EQ(readFile(dir / "razade.&&&"), "mine\n");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"plan.dxf", "plan.old", "razade.&&&", "razade.&&&.1"}));
}

TEST(OddFiles, SymbolicLinkKeepsPointingAtTheConvertedTarget)
{
    ScratchDir dir;
    ASSERT_EQ(::mkdir((dir / "vykresy").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "jinde").c_str(), 0755), 0);
    const std::string drawing = makeDrawing(128 * 1024, 5);
    writeFile(dir / "jinde/plan.dxf", drawing);
    ASSERT_EQ(::chmod((dir / "jinde/plan.dxf").c_str(), 0640), 0);
    giveToActor(dir / "jinde/plan.dxf");
    struct stat targetBefore{};
    ASSERT_EQ(::stat((dir / "jinde/plan.dxf").c_str(), &targetBefore), 0);
    ASSERT_EQ(::symlink("../jinde/plan.dxf", (dir / "vykresy/odkaz.dxf").c_str()), 0);

    const Outcome o = runHere([&] { return Convert(dir / "vykresy", "odkaz.dxf", allOn(), {}, SystemFileSystem()); });
    ASSERT_EQ(o.kind, Outcome::kConverted) << describe(o);

    struct stat st{};
    ASSERT_EQ(::lstat((dir / "vykresy/odkaz.dxf").c_str(), &st), 0);
    ASSERT_TRUE(S_ISLNK(st.st_mode));
    char target[256] = {};
    ASSERT_GT(::readlink((dir / "vykresy/odkaz.dxf").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "../jinde/plan.dxf");
    EXPECT_TRUE(readFile(dir / "jinde/plan.dxf") == ConvertBuffer(drawing, allOn()));
    ASSERT_EQ(::stat((dir / "jinde/plan.dxf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, targetBefore.st_uid);
    EXPECT_TRUE(readFile(dir / "vykresy/odkaz.old") == drawing);
    EXPECT_EQ(dir.names("vykresy"), (std::vector<std::string>{"odkaz.dxf", "odkaz.old"}));
    EXPECT_EQ(dir.names("jinde"), std::vector<std::string>{"plan.dxf"});
}

}  // namespace
}  // namespace dxfkonv::hardening
