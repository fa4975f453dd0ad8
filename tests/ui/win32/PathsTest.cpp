// Windows paths as the directory list takes them apart, and the drive
// selector's lines: plain strings, literal expectations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/win32/FileChoice.h"
#include "ui/win32/Paths.h"

namespace dxfkonv::win32 {
namespace {

TEST(Win32Paths, NormalisedRootAndLastName)
{
    const struct {
        const char* path;
        const char* normal;
        const char* root;
        const char* last;
    } rows[] = {
        {"C:\\", "C:\\", "C:\\", "C:\\"},
        {"C:", "C:\\", "C:\\", "C:\\"},
        {"c:/výkresy//archiv/", "c:\\výkresy\\archiv", "c:\\", "archiv"},
        {"D:\\a\\b\\", "D:\\a\\b", "D:\\", "b"},
        {"\\\\server\\share", "\\\\server\\share\\", "\\\\server\\share\\", "\\\\server\\share\\"},
        {"//server/share/plány/", "\\\\server\\share\\plány", "\\\\server\\share\\", "plány"},
        {"a\\b", "a\\b", "", "b"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(NormalisePath(row.path), row.normal);
        EXPECT_EQ(RootOf(row.path), row.root);
        EXPECT_EQ(LastComponent(row.path), row.last);
    }
}

TEST(Win32Paths, ChainFromTheRootDownToTheDirectory)
{
    using Chain = std::vector<std::string>;
    EXPECT_EQ(PathChain("C:\\"), (Chain{"C:\\"}));
    EXPECT_EQ(PathChain("C:\\Projekty\\Řez\\"), (Chain{"C:\\", "C:\\Projekty", "C:\\Projekty\\Řez"}));
    EXPECT_EQ(PathChain("\\\\server\\share\\a\\b"),
              (Chain{"\\\\server\\share\\", "\\\\server\\share\\a", "\\\\server\\share\\a\\b"}));
    EXPECT_EQ(JoinPath("C:\\", "a.dxf"), "C:\\a.dxf");
    EXPECT_EQ(JoinPath("C:\\a", "b.dxf"), "C:\\a\\b.dxf");
}

TEST(Win32Drives, CaptionRootAndTheDriveOfADirectory)
{
    EXPECT_EQ(DriveCaption({'c', "SYSTEM"}), "c: [SYSTEM]");
    EXPECT_EQ(DriveCaption({'e', "Výkresy 2"}), "e: [Výkresy 2]");
    EXPECT_EQ(DriveCaption({'a', ""}), "a:");
    EXPECT_EQ(DriveRoot('d'), "D:\\");

    const std::vector<Drive> drives{{'a', ""}, {'c', "SYSTEM"}, {'z', ""}};
    const struct {
        const char* directory;
        int index;
    } rows[] = {
        {"C:\\Projekty", 1}, {"c:\\", 1}, {"Z:\\tmp", 2}, {"A:", 0}, {"D:\\x", -1}, {"\\\\server\\share\\x", -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DriveIndexOf(drives, row.directory), row.index) << row.directory;
}

// Czech order: Č, Ř, Š, Ž are letters of their own after C, R, S, Z, and
// "ch" one after H; Ď, Ť, Ů are not. Case does not count, but names that
// differ only in it follow their bytes.
TEST(Win32Drives, NamesSortInCzechOrder)
{
    std::vector<std::string> names{"Cz", "ča", "Rz", "řa", "Sz", "ša", "Zz", "ža", "Dz", "ďa",
                                   "hz", "cha", "iz", "Ťa", "Tz", "ab", "AB", "Ab"};
    SortCzech(names);
    EXPECT_EQ(names, (std::vector<std::string>{"AB", "Ab", "ab", "Cz", "ča", "ďa", "Dz", "hz", "cha", "iz",
                                               "Rz", "řa", "Sz", "ša", "Ťa", "Tz", "Zz", "ža"}));
}

}  // namespace
}  // namespace dxfkonv::win32
