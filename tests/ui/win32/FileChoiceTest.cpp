// What the file lists show of a real directory: the engine's listing, less
// what Windows marks hidden or system, in Czech order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/platform/FileSystem.h"
#include "ui/win32/FileChoice.h"
#include "ui/win32/Paths.h"
#include "Scratch.h"

namespace dxfkonv::win32 {
namespace {

using Names = std::vector<std::string>;

TEST(Win32FileChoice, DrawingsInAnyCaseHiddenAndSystemOnesLeftOut)
{
    const Scratch scratch({"žádost.dxf", "Řez.DXF", "chata.Dxf", "hrad.dxf", "Cesta.dxf", "poznámky.txt",
                           "systém.dxf", "dxf", "plan.dxf.old"},
                          {"Zbytky", "archiv", "skrytý adresář", "Čisté"});
    SetFileAttributesW(scratch.File("systém.dxf").c_str(), FILE_ATTRIBUTE_SYSTEM);
    SetFileAttributesW(scratch.File("skrytý adresář").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    if (!scratch.HiddenTakes())
        GTEST_SKIP() << "this file system keeps no DOS attributes under Wine";

    EXPECT_EQ(ListDrawings(scratch.Path(), SystemFileSystem()),
              (Names{"Cesta.dxf", "hrad.dxf", "chata.Dxf", "Řez.DXF", "žádost.dxf"}));
    EXPECT_EQ(ListSubdirectories(scratch.Path(), SystemFileSystem()), (Names{"archiv", "Čisté", "Zbytky"}));
}

TEST(Win32FileChoice, ADirectoryThatCannotBeReadListsNothing)
{
    const Scratch scratch({"a.dxf"}, {});
    const std::string missing = JoinPath(scratch.Path(), "není");
    EXPECT_TRUE(CanReadDirectory(scratch.Path(), SystemFileSystem()));
    EXPECT_FALSE(CanReadDirectory(missing, SystemFileSystem()));
    EXPECT_TRUE(ListDrawings(missing, SystemFileSystem()).empty());
    EXPECT_EQ(CurrentDirectory(), NormalisePath(scratch.Path()));
}

TEST(Win32FileChoice, TheDrivesAreThoseTheSystemHas)
{
    const std::vector<Drive> drives = LogicalDrives();
    const DWORD mask = GetLogicalDrives();
    ASSERT_EQ(drives.size(), static_cast<std::size_t>(__builtin_popcount(mask)));
    for (const Drive& drive : drives)
        EXPECT_TRUE(mask & (1u << (drive.letter - 'a'))) << drive.letter;
    EXPECT_GE(DriveIndexOf(drives, CurrentDirectory()), 0);
}

}  // namespace
}  // namespace dxfkonv::win32
