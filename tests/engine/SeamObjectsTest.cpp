// The objects of the file-system seam on real files, on every platform: a
// work file ends by exactly one of keep and discard, whichever object made
// it; and the rule that tells a file a killed pass left from somebody's
// own.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "engine/IoError.h"
#include "engine/platform/FileSystem.h"
#include "engine/replace/Checks.h"

using namespace dxfkonv;
using namespace dxfkonv::test;
using Names = std::vector<std::string>;

namespace {

constexpr const char* kOld = "  0\r\nEOF\r\n";
constexpr const char* kNew = "  0\r\nSECTION\r\n  0\r\nENDSEC\r\n  0\r\nEOF\r\n";

enum class End { kKeep, kDiscard, kNeither, kKeepThenDiscard, kDiscardThenKeep };

// Writes kNew into a work file for "plan.dxf" (held, or only found: made by
// the drawing or by its directory) or for "new.dxf" (nothing there yet),
// and ends it as `end` says; the number of the error that ending threw.
int runWorkFile(const TempDir& dir, const std::string& name, bool byDrawing, End end)
{
    FileSystem& fs = SystemFileSystem();
    const Found found = fs.find(dir.path(), name);
    std::unique_ptr<HeldDrawing> drawing;
    std::unique_ptr<WorkFile> work;
    if (byDrawing) {
        drawing = found.directory->open(found.name, true);
        work = drawing->createWorkFile(64, nullptr);
    } else {
        work = found.directory->createWorkFile(found.name, 64, nullptr);
    }
    const std::string content = kNew;
    work->write(content.data(), content.size());
    work->flush();
    if (found.state)
        work->takeMetadata();
    else
        work->takeNewFileMetadata();
    try {
        switch (end) {
        case End::kKeep: work->keep(); break;
        case End::kDiscard: work->discard(); break;
        case End::kNeither: break;
        case End::kKeepThenDiscard:
            work->keep();
            work->discard();
            break;
        case End::kDiscardThenKeep:
            work->discard();
            work->keep();
            break;
        }
    } catch (const IoError& e) {
        return e.code();
    }
    return 0;
}

TEST(SeamObjects, WorkFileEndsByKeepOrDiscard)
{
    const struct {
        const char* name;
        const char* file;
        bool byDrawing;
        End end;
        int code;
        Names names;
        const char* content;  // of the file afterwards; null: none
    } cases[] = {
        {"held, kept", "plan.dxf", true, End::kKeep, 0, {"plan.dxf"}, kNew},
        {"held, discarded", "plan.dxf", true, End::kDiscard, 0, {"plan.dxf"}, kOld},
        {"held, neither", "plan.dxf", true, End::kNeither, 0, {"plan.dxf"}, kOld},
        {"held, kept, then discarded", "plan.dxf", true, End::kKeepThenDiscard, 0, {"plan.dxf"}, kNew},
        {"held, discarded, then kept", "plan.dxf", true, End::kDiscardThenKeep, kFileNotOpen, {"plan.dxf"}, kOld},
        {"found, kept", "plan.dxf", false, End::kKeep, 0, {"plan.dxf"}, kNew},
        {"found, discarded", "plan.dxf", false, End::kDiscard, 0, {"plan.dxf"}, kOld},
        {"found, neither", "plan.dxf", false, End::kNeither, 0, {"plan.dxf"}, kOld},
        {"new name, kept", "new.dxf", false, End::kKeep, 0, {"new.dxf", "plan.dxf"}, kNew},
        {"new name, discarded", "new.dxf", false, End::kDiscard, 0, {"plan.dxf"}, nullptr},
        {"new name, neither", "new.dxf", false, End::kNeither, 0, {"plan.dxf"}, nullptr},
        {"new name, discarded, then kept", "new.dxf", false, End::kDiscardThenKeep, kFileNotOpen, {"plan.dxf"},
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir.file("plan.dxf"), kOld);
        EXPECT_EQ(runWorkFile(dir, c.file, c.byDrawing, c.end), c.code);
        EXPECT_EQ(dir.names(), c.names);
        if (c.content) {
            EXPECT_EQ(readFile(dir.file(c.file)), c.content);
        }
        EXPECT_EQ(readFile(dir.file("plan.dxf")), std::string(c.file) == "plan.dxf" && c.content ? c.content : kOld);
    }
}

// A work file that goes takes nothing with it that another work file of
// the same directory made: each discards only its own.
TEST(SeamObjects, DiscardTakesOnlyItsOwnWorkFile)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), kOld);
    writeFile(dir.file("b.dxf"), kOld);
    FileSystem& fs = SystemFileSystem();
    const std::unique_ptr<Directory> directory = fs.openDirectory(dir.path());
    auto first = directory->createWorkFile("a.dxf", 64, nullptr);
    auto second = directory->createWorkFile("b.dxf", 64, nullptr);
    const std::string content = kNew;
    second->write(content.data(), content.size());
    first->discard();
    second->keep();
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "b.dxf"}));
    EXPECT_EQ(readFile(dir.file("a.dxf")), kOld);
    EXPECT_EQ(readFile(dir.file("b.dxf")), kNew);
}

// What a file of a work file's name holds, by its first bytes as read (up
// to 64): what a work file holds is removed as left by a killed pass,
// anything else is somebody's own.
TEST(SeamObjects, WorkFileContentIsToldByItsFirstLine)
{
    const std::string sixtyFourDigits(64, '7');
    const struct {
        const char* name;
        std::string head;
        bool workContent;
    } cases[] = {
        {"nothing written yet", "", true},
        {"a drawing", "  0\r\nSECTION\r\n  2\r\nHEADER\r\n", true},
        {"a drawing with bare line feeds", "0\nSECTION\n", true},
        {"a negative group code", "-1\r\nx\r\n", true},
        {"spaces around the code", " 999 \r\n", true},
        {"only a code, no line end", "12", true},
        {"a code and a lone carriage return", "0\r", true},
        {"a tab before the code", "\t0\r\n", false},
        {"an empty first line", "\r\n  0\r\n", false},
        {"words", "theirs", false},
        {"a letter first", "a\n0\n", false},
        {"a sign alone", "-\r\n", false},
        {"a first line longer than what was read", sixtyFourDigits, false},
        {"a code cut just short of what was read", sixtyFourDigits.substr(0, 63), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(holdsWorkFileContent(c.head, 64), c.workContent);
    }
}

}  // namespace
