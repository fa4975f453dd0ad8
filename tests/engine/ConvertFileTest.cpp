// Whole passes over real files, on every platform: the replace, the
// backup, what is skipped. (What only a POSIX system shows is in
// PosixConvertFileTest.cpp.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "engine/replace/Convert.h"

using namespace dxfkonv;
using namespace dxfkonv::test;
using Names = std::vector<std::string>;

TEST(ConvertFile, ReplacesTheFileAndKeepsTheOldOneAsBackup)
{
    TempDir dir;
    const std::string old = sampleFile("plan-tarnix.dxf");
    writeFile(dir.file("PLAN.DXF"), old);

    std::vector<int> progress;
    const PassReport report = Convert(
        dir.path(), "PLAN.DXF", {}, [&](int p) { progress.push_back(p); }, SystemFileSystem());

    EXPECT_TRUE(report.found);
    EXPECT_EQ(readFile(dir.file("PLAN.DXF")), ConvertBuffer(old, {}));
    EXPECT_EQ(readFile(dir.file("PLAN.old")), old);
    EXPECT_EQ(dir.names(), (Names{"PLAN.DXF", "PLAN.old"}));  // no work file left
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(report.codePagesSet, 1u);
    EXPECT_GT(report.textsRecoded, 3u);
}

TEST(ConvertFile, BackupNamesAndOptions)
{
    EXPECT_EQ(BackupName("PLAN.DXF"), "PLAN.old");
    EXPECT_EQ(BackupName("a.b.dxf"), "a.b.old");
    EXPECT_EQ(BackupName("plan"), "plan.old");

    TempDir dir;
    writeFile(dir.file("a.b.dxf"), "  0\r\nEOF\r\n");
    writeFile(dir.file("a.b.old"), "an older backup");
    Convert(dir.path(), "a.b.dxf", {}, {}, SystemFileSystem());
    EXPECT_EQ(readFile(dir.file("a.b.old")), "  0\r\nEOF\r\n");

    ConversionSwitches noBackup;
    noBackup.keepBackup = false;
    writeFile(dir.file("plan"), "  0\nEOF\n");
    Convert(dir.path() + "/", "plan", noBackup, {}, SystemFileSystem());
    EXPECT_EQ(readFile(dir.file("plan")), "  0\r\nEOF\r\n");
    EXPECT_EQ(dir.names(), (Names{"a.b.dxf", "a.b.old", "plan"}));
    Convert(dir.path(), "plan", {}, {}, SystemFileSystem());
    EXPECT_EQ(dir.names(), (Names{"a.b.dxf", "a.b.old", "plan", "plan.old"}));
}

TEST(ConvertFile, EmptyAndShortFiles)
{
    TempDir dir;
    writeFile(dir.file("empty.dxf"), "");
    std::vector<int> progress;
    Convert(dir.path(), "empty.dxf", {}, [&](int p) { progress.push_back(p); }, SystemFileSystem());
    EXPECT_EQ(readFile(dir.file("empty.dxf")), "");
    EXPECT_EQ(readFile(dir.file("empty.old")), "");
    writeFile(dir.file("short.dxf"), "  0\nEOF");
    Convert(dir.path(), "short.dxf", {}, [&](int p) { progress.push_back(p); }, SystemFileSystem());
    EXPECT_EQ(readFile(dir.file("short.dxf")), "  0\r\nEOF\r\n");
    EXPECT_TRUE(progress.empty());
}

TEST(ConvertFile, NothingThereIsSkippedSilently)
{
    TempDir dir;
    std::filesystem::create_directory(dir.file("x.dxf"));
    EXPECT_FALSE(Convert(dir.path(), "missing.dxf", {}, {}, SystemFileSystem()).found);
    EXPECT_FALSE(Convert(dir.path(), "x.dxf", {}, {}, SystemFileSystem()).found);
    EXPECT_FALSE(Convert(dir.file("no-such-dir"), "a.dxf", {}, {}, SystemFileSystem()).found);
    EXPECT_EQ(dir.names(), (Names{"x.dxf"}));
}

TEST(ConvertFile, AWorkFileOfSomebodyElseIsLeftAlone)
{
    TempDir dir;
    writeFile(dir.file("razade.&&&"), "another pass is writing this");
    writeFile(dir.file("a.dxf"), "  1\r\n%%130\r\n");
    Convert(dir.path(), "a.dxf", {}, {}, SystemFileSystem());
    EXPECT_EQ(readFile(dir.file("a.dxf")), "  1\r\n\xE9\r\n");
    EXPECT_EQ(readFile(dir.file("razade.&&&")), "another pass is writing this");
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old", "razade.&&&"}));
}
