// What a directory lists for the window and the command line alike, on
// every platform. (Paths as a POSIX system splits them, and links, are in
// PosixDrawingsTest.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "engine/replace/Drawings.h"
#include "engine/IoError.h"

using namespace dxfkonv;
using namespace dxfkonv::test;
using Names = std::vector<std::string>;

TEST(Drawings, NamesEndInDxfInAnyLetterCase)
{
    const struct {
        const char* name;
        bool drawing;
    } cases[] = {{"plan.dxf", true},      {"PLAN.DXF", true},       {"Plan.dXf", true},
                 {"a.b.dxf", true},       {".dxf", true},           {"\xC8\xE1ra.dxf", true},
                 {"plan.dxf.bak", false}, {"plan.dxfx", false},     {"plandxf", false},
                 {"dxf", false},          {"", false},              {"plan.dwg", false}};
    for (const auto& c : cases)
        EXPECT_EQ(IsDrawingName(c.name), c.drawing) << c.name;
}

TEST(Drawings, ADirectoryListsItsVisibleDrawingsAndSubdirectories)
{
    TempDir dir;
    for (const char* name : {"b.DXF", "a.dxf", ".hidden.dxf", "notes.txt", "plan.dxf.bak"})
        writeFile(dir.file(name), "");
    for (const char* name : {"folder.dxf", "sub", ".git"})
        std::filesystem::create_directory(dir.file(name));

    DirectoryListing listing = ListDirectory(dir.path(), SystemFileSystem());
    std::sort(listing.drawings.begin(), listing.drawings.end());
    EXPECT_EQ(listing.drawings, (Names{"a.dxf", "b.DXF"}));
    std::sort(listing.subdirectories.begin(), listing.subdirectories.end(),
              [](const Subdirectory& x, const Subdirectory& y) { return x.name < y.name; });
    ASSERT_EQ(listing.subdirectories.size(), 2u);
    EXPECT_EQ(listing.subdirectories[0].name, "folder.dxf");
    EXPECT_EQ(listing.subdirectories[1].name, "sub");
    EXPECT_FALSE(listing.subdirectories[0].link);
    EXPECT_FALSE(listing.subdirectories[1].link);
}

TEST(Drawings, ADirectoryThatCannotBeReadIsAnIoError)
{
    TempDir dir;
    for (const auto& [path, code] : std::vector<std::pair<std::string, int>>{
             {dir.file("missing"), kFileNotFound}, {dir.file("missing/below"), kFileNotFound}}) {
        try {
            ListDirectory(path, SystemFileSystem());
            ADD_FAILURE() << path;
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), code) << path;
        }
    }
}
