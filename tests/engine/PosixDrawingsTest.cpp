// A drawing's directory and name as a POSIX system writes them, and what
// a directory with links, pipes and hidden names lists.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "engine/replace/Drawings.h"
#include "engine/IoError.h"

using namespace dxfkonv;
using namespace dxfkonv::test;
using Names = std::vector<std::string>;

TEST(Drawings, SplitOnceAndShownAsTheUserWroteThem)
{
    const struct {
        const char* path;
        const char* directory;
        const char* name;
    } cases[] = {{"a/b.dxf", "a", "b.dxf"},         {"/b.dxf", "/", "b.dxf"},
                 {"b.dxf", "", "b.dxf"},            {"/data/draw/P.DXF", "/data/draw", "P.DXF"},
                 {"./b.dxf", ".", "b.dxf"},         {"a/", "a", ""}};
    for (const auto& c : cases) {
        const Drawing d = Drawing::FromPath(c.path);
        EXPECT_EQ(d.directory, c.directory) << c.path;
        EXPECT_EQ(d.name, c.name) << c.path;
        EXPECT_EQ(d.Path(), c.path);
    }
    // A directory given with its separator gets no second one.
    EXPECT_EQ((Drawing{"/data/", "a"}.Path()), "/data/a");
}

TEST(Drawings, LinksCountAsWhatTheyLeadToAndOtherFilesAreLeftOut)
{
    TempDir dir;
    for (const char* name : {"b.DXF", "a.dxf", ".hidden.dxf", "notes.txt", "plan.dxf.bak"})
        writeFile(dir.file(name), "");
    ASSERT_EQ(mkdir(dir.file("folder.dxf").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file(".git").c_str(), 0755), 0);
    ASSERT_EQ(symlink("a.dxf", dir.file("link.dxf").c_str()), 0);
    ASSERT_EQ(symlink("gone.dxf", dir.file("dangling.dxf").c_str()), 0);
    ASSERT_EQ(symlink("sub", dir.file("sublink").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("pipe.dxf").c_str(), 0600), 0);

    DirectoryListing listing = ListDirectory(dir.path(), SystemFileSystem());
    std::sort(listing.drawings.begin(), listing.drawings.end());
    EXPECT_EQ(listing.drawings, (Names{"a.dxf", "b.DXF", "link.dxf"}));
    std::sort(listing.subdirectories.begin(), listing.subdirectories.end(),
              [](const Subdirectory& x, const Subdirectory& y) { return x.name < y.name; });
    ASSERT_EQ(listing.subdirectories.size(), 3u);
    const struct {
        const char* name;
        bool link;
    } subs[] = {{"folder.dxf", false}, {"sub", false}, {"sublink", true}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(listing.subdirectories[i].name, subs[i].name);
        EXPECT_EQ(listing.subdirectories[i].link, subs[i].link) << subs[i].name;
    }
}

TEST(Drawings, ANameTooLongForTheSystemIsAnInvalidFilename)
{
    TempDir dir;
    try {
        ListDirectory(dir.file(std::string(300, 'v')), SystemFileSystem());
        ADD_FAILURE() << "listed";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), kInvalidFilename);
    }
}
