// dxfkonv-cli.exe started as cmd.exe starts it, its arguments in UTF-16:
// what it writes, what it leaves, what it returns.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "WindowsTestSupport.h"

using namespace dxfkonv::test;
using Names = std::vector<std::string>;

namespace {

Finished cli(const std::vector<std::wstring>& args) { return run(programDirectory() + L"\\dxfkonv-cli.exe", args); }

}  // namespace

TEST(WindowsCli, ConvertsADrawingByteForByte)
{
    // The line each writes, after its directory; a name with spaces in
    // quotes. UTF-8 where the output is no console, lines ending in CR LF.
    const struct {
        const char* name;
        const char* quote;
        const char* line;
    } cases[] = {
        {"plan.dxf", "", ": recoded 4 texts, renumbered 20 colours, set 1 code page value; backup plan.old\r\n"},
        {"výkres-č.dxf", "",
         ": recoded 4 texts, renumbered 20 colours, set 1 code page value; backup výkres-č.old\r\n"},
        {"Příliš žluťoučký kůň.dxf", "'",
         "': recoded 4 texts, renumbered 20 colours, set 1 code page value; backup 'Příliš žluťoučký kůň.old'\r\n"}};
    for (const auto& c : cases) {
        TempDir dir;
        writeFile(dir.file(c.name), sampleFile("plan-tarnix.dxf"));
        const Finished done = cli({wide(dir.file(c.name))});
        EXPECT_EQ(done.status, 0u) << c.name << "\n" << done.err;
        EXPECT_TRUE(readFile(dir.file(c.name)) == expectedFile("plan-tarnix.lw-256-sa.dxf")) << c.name;
        EXPECT_EQ(done.out, c.quote + dir.file(c.name) + c.line);
        EXPECT_EQ(done.err, "");
    }
}

TEST(WindowsCli, ADirectoryStandsForItsDrawingsAndWithRItsSubdirectoriesToo)
{
    TempDir dir;
    std::filesystem::create_directory(std::filesystem::path(wide(dir.file("podklady-č"))));
    writeFile(dir.file("výkres.dxf"), sampleFile("plan-tarnix.dxf"));
    writeFile(dir.file("podklady-č\\Příliš.dxf"), sampleFile("plan-tarnix.dxf"));
    writeFile(dir.file("notes.txt"), "not a drawing");
    const std::string line = ": recoded 4 texts, renumbered 20 colours, set 1 code page value\r\n";

    const Finished flat = cli({L"--no-backup", wide(dir.path())});
    EXPECT_EQ(flat.status, 0u) << flat.err;
    EXPECT_EQ(flat.out, dir.file("výkres.dxf") + line);
    EXPECT_TRUE(readFile(dir.file("výkres.dxf")) == expectedFile("plan-tarnix.lw-256-sa.dxf"));
    EXPECT_TRUE(readFile(dir.file("podklady-č\\Příliš.dxf")) == sampleFile("plan-tarnix.dxf"));

    writeFile(dir.file("výkres.dxf"), sampleFile("plan-tarnix.dxf"));
    const Finished deep = cli({L"--no-backup", L"-r", wide(dir.path())});
    EXPECT_EQ(deep.status, 0u) << deep.err;
    EXPECT_EQ(deep.out, dir.file("výkres.dxf") + line + dir.file("podklady-č\\Příliš.dxf") + line
                            + "2 file(s) converted, 0 failed\r\n");
    EXPECT_TRUE(readFile(dir.file("podklady-č\\Příliš.dxf")) == expectedFile("plan-tarnix.lw-256-sa.dxf"));
    EXPECT_EQ(dir.names(), (Names{"notes.txt", "podklady-č", "výkres.dxf"}));
}

// A directory's drawings marked hidden or system (attrib +h, +s) are left
// alone, as the window leaves them out.
TEST(WindowsCli, HiddenAndSystemDrawingsAreLeftOutOfADirectory)
{
    TempDir dir;
    for (const char* name : {"plan.dxf", "skryty.dxf", "system.dxf"})
        writeFile(dir.file(name), " 62\r\n5\r\n");
    ASSERT_TRUE(::SetFileAttributesW(wide(dir.file("skryty.dxf")).c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(::SetFileAttributesW(wide(dir.file("system.dxf")).c_str(), FILE_ATTRIBUTE_SYSTEM));
    // The marks are kept (Wine keeps them in an extended attribute).
    ASSERT_TRUE(::GetFileAttributesW(wide(dir.file("skryty.dxf")).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(::GetFileAttributesW(wide(dir.file("system.dxf")).c_str()) & FILE_ATTRIBUTE_SYSTEM);
    const Finished done = cli({L"--no-backup", wide(dir.path())});
    EXPECT_EQ(done.status, 0u) << done.err;
    EXPECT_EQ(done.out, dir.file("plan.dxf")
                            + ": recoded 0 texts, renumbered 1 colour, set 0 code page values\r\n");
    EXPECT_EQ(readFile(dir.file("plan.dxf")), " 62\r\n4\r\n");
    EXPECT_EQ(readFile(dir.file("skryty.dxf")), " 62\r\n5\r\n");
    EXPECT_EQ(readFile(dir.file("system.dxf")), " 62\r\n5\r\n");
}

TEST(WindowsCli, VersionUsageAndFailures)
{
    const Finished version = cli({L"--version"});
    EXPECT_EQ(version.status, 0u);
    EXPECT_EQ(version.out, "dxfkonv-cli " DXFKONV_VERSION "\r\n");

    const Finished usage = cli({L"--palette", L"8", L"x.dxf"});
    EXPECT_EQ(usage.status, 2u);
    EXPECT_NE(usage.err.find("--palette takes 16, 256 or none, not 8"), std::string::npos) << usage.err;

    TempDir dir;
    writeFile(dir.file("held.dxf"), "  62\r\n5\r\n");
    const HANDLE writer = ::CreateFileW(wide(dir.file("held.dxf")).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const Finished held = cli({wide(dir.file("held.dxf")), wide(dir.file("missing.dxf"))});
    ::CloseHandle(writer);
    EXPECT_EQ(held.status, 1u);
    EXPECT_EQ(held.err.substr(0, held.err.find(':', 16) + 1), "dxfkonv-cli: " + dir.file("held.dxf") + ":");
    EXPECT_NE(held.err.find("held.dxf: I/O error 32. (opening held.dxf: "), std::string::npos) << held.err;
    EXPECT_NE(held.err.find("missing.dxf: File not found.\r\n"), std::string::npos) << held.err;
    EXPECT_EQ(readFile(dir.file("held.dxf")), "  62\r\n5\r\n");
}
