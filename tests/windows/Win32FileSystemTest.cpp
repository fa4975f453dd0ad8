// The Windows side of the file-system seam, promise by promise, on real
// files: a drawing held for its pass, the replace, the backup, a killed
// pass, names in Czech, long and UNC paths, files told apart, and the
// system's error numbers as the message table reads them.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <optional>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "WindowsTestSupport.h"
#include "engine/IoError.h"
#include "engine/platform/Signals.h"
#include "engine/platform/WorkNames.h"
#include "engine/platform/win32/Win32FileSystem.h"
#include "engine/platform/win32/Win32Errors.h"
#include "engine/replace/Convert.h"

using namespace dxfkonv;
using namespace dxfkonv::test;
using Names = std::vector<std::string>;

namespace {

// A drawing long enough for its pass to report progress, where a test
// acts in the middle of it.
std::string longDrawing()
{
    std::string s;
    while (s.size() < (1u << 20))
        s += "  1\r\n%%130%%130 %%130 text\r\n 62\r\n5\r\n";
    return s + "  0\r\nEOF\r\n";
}

// The file `name` in `dir` as the seam tells files apart; empty when
// there is none.
std::optional<FileState> stateOf(const TempDir& dir, const std::string& name)
{
    FileSystem& fs = SystemFileSystem();
    return fs.openDirectory(dir.path())->lookUp(name);
}

// Opens `path` as another program would, or fails with its error.
HANDLE openAsAnotherProgram(const std::string& path, DWORD access, DWORD share, DWORD& error)
{
    const HANDLE h = ::CreateFileW(wide(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    return h;
}

// Runs Convert and hands back the error it threw (0 for none), with its text.
int convertError(const std::string& dir, const std::string& name, std::string* text = nullptr,
                 const ProgressSink& progress = {})
{
    try {
        Convert(dir, name, {}, progress, SystemFileSystem());
        return 0;
    } catch (const ConversionError& e) {
        if (text)
            *text = e.what();
        return e.code();
    }
}

}  // namespace

// ---- one pass at a time, and nobody writes while it runs ------------------------

TEST(Win32Held, ADrawingAnotherProgramWritesIsRefusedWith32)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    DWORD error = 0;
    const HANDLE writer = openAsAnotherProgram(dir.file("a.dxf"), GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, error);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE) << error;
    std::string text;
    EXPECT_EQ(convertError(dir.path(), "a.dxf", &text), 32);
    EXPECT_EQ(text, "I/O error 32.");
    ::CloseHandle(writer);
    EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n5\r\n");
    EXPECT_EQ(dir.names(), (Names{"a.dxf"}));
}

TEST(Win32Held, WhileAPassRunsItsDrawingIsReadableButNobodyWritesOrConvertsIt)
{
    TempDir dir;
    const std::string old = longDrawing();
    writeFile(dir.file("a.dxf"), old);
    struct Seen {
        DWORD writerError = 0;
        int secondPass = 0;
        std::string secondText;
        bool oldContentReadable = false;
        Names names;
    };
    std::optional<Seen> seen;
    Convert(dir.path(), "a.dxf", {}, [&](int) {
        if (seen)
            return;
        seen.emplace();
        const HANDLE writer = openAsAnotherProgram(dir.file("a.dxf"), GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                   seen->writerError);
        if (writer != INVALID_HANDLE_VALUE)
            ::CloseHandle(writer);
        seen->secondPass = convertError(dir.path(), "a.dxf", &seen->secondText);
        seen->oldContentReadable = readFile(dir.file("a.dxf")) == old;
        seen->names = dir.names();
    }, SystemFileSystem());
    ASSERT_TRUE(seen) << "the pass reported no progress";
    EXPECT_EQ(seen->writerError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(seen->secondPass, 32);
    EXPECT_EQ(seen->secondText, "I/O error 32.");
    // The name leads to the old content until the replace, then to the new.
    EXPECT_TRUE(seen->oldContentReadable);
    EXPECT_EQ(seen->names, (Names{"a.dxf", "razade.&&&"}));
    EXPECT_TRUE(readFile(dir.file("a.dxf")) == ConvertBuffer(old, {}));
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old"}));
}

TEST(Win32Held, ARefusedPassLeavesTheDrawingAndNoWorkFile)
{
    TempDir dir;
    const std::string converted = expectedFile("plan-tarnix.lw-256-sa.dxf");  // declares ANSI_1250
    writeFile(dir.file("a.dxf"), converted);
    std::string text;
    EXPECT_EQ(convertError(dir.path(), "a.dxf", &text), kAlreadyConverted);
    EXPECT_TRUE(readFile(dir.file("a.dxf")) == converted);
    EXPECT_EQ(dir.names(), (Names{"a.dxf"}));
}

// ---- a killed pass --------------------------------------------------------------------

// Run only as the child of KilledPassLeavesNoWorkFile: converts the
// drawing named in its environment and dies in the middle of the pass,
// the work file written in part.
TEST(Win32Child, DISABLED_DiesInTheMiddleOfAPass)
{
    const char* dir = std::getenv("DXFKONV_DIE_IN");
    const char* how = std::getenv("DXFKONV_DIE_BY");
    ASSERT_TRUE(dir && how);
    const std::string by = how;
    Convert(dir, "a.dxf", {}, [&](int percent) {
        if (percent < 50)
            return;
        if (by == "ExitProcess")
            ::ExitProcess(77);
        ::TerminateProcess(::GetCurrentProcess(), 78);
    }, SystemFileSystem());
    ::ExitProcess(1);  // not reached
}

TEST(Win32Killed, AKilledPassLeavesNoWorkFileAndTheDrawingAsItWas)
{
    const struct {
        const char* by;
        DWORD status;
    } cases[] = {{"ExitProcess", 77}, {"TerminateProcess", 78}};
    for (const auto& c : cases) {
        TempDir dir;
        const std::string old = longDrawing();
        writeFile(dir.file("a.dxf"), old);
        const Finished child = runTestAlone(L"Win32Child.DISABLED_DiesInTheMiddleOfAPass",
                                            {L"DXFKONV_DIE_IN=" + wide(dir.path()), L"DXFKONV_DIE_BY=" + wide(c.by)});
        EXPECT_FALSE(child.timedOut) << c.by;
        EXPECT_EQ(child.status, c.status) << c.by << "\n" << child.out;
        EXPECT_EQ(dir.names(), (Names{"a.dxf"})) << c.by;
        EXPECT_TRUE(readFile(dir.file("a.dxf")) == old) << c.by;
    }
}

// The system's clock put forward past the time a work file must be left
// alone before it counts as left behind.
std::uint64_t clockAhead()
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks + static_cast<std::uint64_t>(kLeftAloneSeconds + 60) * 10'000'000;
}

TEST(Win32Killed, WhatAKilledPassLeftIsRemovedButNotWhatAPassHolds)
{
    // A pass killed between publishing its work file and the rename
    // leaves a named file; the next pass in that directory removes it,
    // once left alone long enough, unless another pass still holds it
    // (opened sharing nothing).
    TempDir dir;
    writeFile(dir.file("razade.&&&"), "  0\r\nEOF\r\n");
    writeFile(dir.file("razade.&&&.1"), "  0\r\nSECTION\r\n");
    writeFile(dir.file("razade.&&&.zal"), "");
    const HANDLE held = ::CreateFileW(wide(dir.file("razade.&&&.1")).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    Win32FileSystem later(clockAhead);
    Convert(dir.path(), "a.dxf", {}, {}, later);
    ::CloseHandle(held);
    EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n4\r\n");
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old", "razade.&&&.1"}));
}

TEST(Win32Killed, WorkFileWrittenLatelyOrABackupIsNoLeftover)
{
    // A work file written just now may be another program's on a shared
    // drive that cannot see this one's share modes: it stays. So does the
    // backup of a drawing named like the work file, however old.
    TempDir dir;
    writeFile(dir.file("razade.&&&"), "  0\r\nEOF\r\n");
    writeFile(dir.file("razade.&&&.dxf"), "  62\r\n1\r\n");
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    Convert(dir.path(), "razade.&&&.dxf", {}, {}, SystemFileSystem());
    Convert(dir.path(), "a.dxf", {}, {}, SystemFileSystem());
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old", "razade.&&&", "razade.&&&.dxf", "razade.&&&.old"}));
    EXPECT_EQ(readFile(dir.file("razade.&&&")), "  0\r\nEOF\r\n");

    ::DeleteFileW(wide(dir.file("a.old")).c_str());
    Win32FileSystem later(clockAhead);
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    Convert(dir.path(), "a.dxf", {}, {}, later);
    EXPECT_EQ(readFile(dir.file("razade.&&&.old")), "  62\r\n1\r\n");
    EXPECT_EQ(readFile(dir.file("razade.&&&.dxf")), "  62\r\n7\r\n");
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old", "razade.&&&.dxf", "razade.&&&.old"}));
}

TEST(Win32Killed, WorkFileSwappedByALinuxProgramIsNotRenamedOntoTheDrawing)
{
    // Under Wine, a Linux program on the same drive sees none of this
    // pass's share modes: it may remove the work file in the middle of
    // the pass and make one of its own under that name, which the rename
    // of the handle would move over the drawing.
    using UnixName = char* (*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!unixName)
        GTEST_SKIP() << "no Linux programs beside this one (not under Wine)";
    TempDir dir;
    const std::string old = longDrawing();
    writeFile(dir.file("a.dxf"), old);
    char* work = unixName(wide(dir.file("razade.&&&")).c_str());
    ASSERT_NE(work, nullptr);
    // Split into arguments by the rules of Windows command lines.
    std::wstring command = L"/bin/sh -c \"rm -f \\\"$0\\\" && printf theirs > \\\"$0\\\"\" \"" + wide(work) + L"\"";
    ::HeapFree(::GetProcessHeap(), 0, work);
    bool swapped = false;
    std::string text;
    const int code = convertError(dir.path(), "a.dxf", &text, [&](int) {
        if (swapped)
            return;
        swapped = true;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(::CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &process));
        ::WaitForSingleObject(process.hProcess, 30000);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    });
    ASSERT_TRUE(swapped);
    EXPECT_EQ(code, 32);
    EXPECT_EQ(text, "I/O error 32.");
    EXPECT_TRUE(readFile(dir.file("a.dxf")) == old) << readFile(dir.file("a.dxf")).substr(0, 40);
    EXPECT_EQ(readFile(dir.file("razade.&&&")), "theirs");
}

// Run only as the child of CtrlCStopsAPassInOrder: a console of its own,
// whose Ctrl-C reaches this process alone, pressed in the middle of a
// pass.
TEST(Win32Child, DISABLED_IsStoppedByCtrlCInTheMiddleOfAPass)
{
    const char* dir = std::getenv("DXFKONV_STOP_IN");
    ASSERT_TRUE(dir);
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole());
    StopPassesOnSignals();
    bool interrupted = false;
    try {
        Convert(dir, "a.dxf", {}, [](int) {
            if (StopSignal() != 0)
                return;
            ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
            // The console calls its handler on a thread of its own.
            for (int i = 0; i < 6000 && StopSignal() == 0; ++i)
                ::Sleep(10);
        }, SystemFileSystem());
    } catch (const Interrupted& e) {
        interrupted = e.signal() == SIGINT;
    }
    std::printf("interrupted: %s\n", interrupted ? "yes" : "no");
    EndBySignal(StopSignal());
}

TEST(Win32Killed, CtrlCStopsAPassInOrderAndEndsTheProgramAsCtrlCDoes)
{
    TempDir dir;
    const std::string old = longDrawing();
    writeFile(dir.file("a.dxf"), old);
    const Finished child = runTestAlone(L"Win32Child.DISABLED_IsStoppedByCtrlCInTheMiddleOfAPass",
                                        {L"DXFKONV_STOP_IN=" + wide(dir.path())});
    EXPECT_FALSE(child.timedOut);
    EXPECT_EQ(child.status, 0xC000013Au) << child.out;
    EXPECT_NE(child.out.find("interrupted: yes"), std::string::npos) << child.out;
    EXPECT_EQ(dir.names(), (Names{"a.dxf"}));
    EXPECT_TRUE(readFile(dir.file("a.dxf")) == old);
}

// ---- the backup -------------------------------------------------------------------------

TEST(Win32Backup, AHardLinkToTheFileReadOrACopyWhereItHasOtherNames)
{
    const struct {
        const char* situation;
        bool earlierBackup;
        bool secondName;
    } cases[] = {{"first backup", false, false}, {"over an earlier backup", true, false},
                 {"a file with two names", false, true}, {"two names, over an earlier backup", true, true}};
    for (const auto& c : cases) {
        TempDir dir;
        const std::string old = "  62\r\n5\r\n";
        writeFile(dir.file("a.dxf"), old);
        if (c.earlierBackup)
            writeFile(dir.file("a.old"), "an earlier backup");
        if (c.secondName) {
            ASSERT_TRUE(::CreateHardLinkW(wide(dir.file("second.dxf")).c_str(), wide(dir.file("a.dxf")).c_str(),
                                          nullptr));
        }
        const FileState before = *stateOf(dir, "a.dxf");
        Convert(dir.path(), "a.dxf", {}, {}, SystemFileSystem());
        const FileState backup = *stateOf(dir, "a.old");
        EXPECT_EQ(readFile(dir.file("a.old")), old) << c.situation;
        EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n4\r\n") << c.situation;
        // A link is the very file read; a copy is another with its times.
        EXPECT_EQ(backup.key == before.key, !c.secondName) << c.situation;
        EXPECT_EQ(backup.modified, before.modified) << c.situation;
        if (c.secondName) {
            EXPECT_EQ(readFile(dir.file("second.dxf")), old) << c.situation;
        }
        EXPECT_EQ(dir.names(), c.secondName ? (Names{"a.dxf", "a.old", "second.dxf"}) : (Names{"a.dxf", "a.old"}))
            << c.situation;
    }
}

// ---- what the drawing keeps ------------------------------------------------------------

TEST(Win32Metadata, TheDrawingKeepsItsAttributes)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    const std::wstring path = wide(dir.file("a.dxf"));
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    const PassReport report = Convert(dir.path(), "a.dxf", {}, {}, SystemFileSystem());
    EXPECT_TRUE(report.modeKept);
    EXPECT_TRUE(report.ownerKept);
    EXPECT_TRUE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n4\r\n");
}

TEST(Win32Metadata, TheDrawingKeepsItsCreationTime)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    const std::wstring path = wide(dir.file("a.dxf"));
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME created{};
    created.dwHighDateTime = 0x01C0'0000;  // in 2000
    ASSERT_TRUE(::SetFileTime(file, &created, nullptr, nullptr));
    ::CloseHandle(file);
    WIN32_FILE_ATTRIBUTE_DATA before{};
    ASSERT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &before));
    if (before.ftCreationTime.dwHighDateTime != created.dwHighDateTime)
        GTEST_SKIP() << "this file system keeps no creation time that can be set (Wine on Linux)";
    Convert(dir.path(), "a.dxf", {}, {}, SystemFileSystem());
    WIN32_FILE_ATTRIBUTE_DATA now{};
    ASSERT_TRUE(::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &now));
    EXPECT_EQ(now.ftCreationTime.dwHighDateTime, created.dwHighDateTime);
    EXPECT_EQ(now.ftCreationTime.dwLowDateTime, created.dwLowDateTime);
}

// ---- names and paths -------------------------------------------------------------------

TEST(Win32Names, CzechNamesAreConvertedListedAndBackedUp)
{
    const struct {
        const char* drawing;
        const char* backup;
    } cases[] = {{"výkres-č.dxf", "výkres-č.old"}, {"Příliš žluťoučký kůň.dxf", "Příliš žluťoučký kůň.old"}};
    for (const auto& c : cases) {
        TempDir dir;
        writeFile(dir.file(c.drawing), sampleFile("plan-tarnix.dxf"));
        EXPECT_EQ(ListDirectory(dir.path(), SystemFileSystem()).drawings, (Names{c.drawing}));
        Convert(Drawing::FromPath(dir.file(c.drawing)), {}, {}, SystemFileSystem());
        EXPECT_TRUE(readFile(dir.file(c.drawing)) == expectedFile("plan-tarnix.lw-256-sa.dxf")) << c.drawing;
        EXPECT_TRUE(readFile(dir.file(c.backup)) == sampleFile("plan-tarnix.dxf")) << c.drawing;
        EXPECT_EQ(dir.names(), (Names{c.drawing, c.backup}));
    }
}

// Files marked hidden or system are left out of a directory's drawings
// and subdirectories, as Explorer and the window leave them out.
TEST(Win32Names, HiddenAndSystemFilesAreNotListed)
{
    TempDir dir;
    for (const char* name : {"plan.dxf", "skryty.dxf", "system.dxf"})
        writeFile(dir.file(name), " 62\r\n5\r\n");
    for (const char* name : {"podklady", "skryte"})
        std::filesystem::create_directory(std::filesystem::path(wide(dir.file(name))));
    ASSERT_TRUE(::SetFileAttributesW(wide(dir.file("skryty.dxf")).c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(::SetFileAttributesW(wide(dir.file("system.dxf")).c_str(), FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(
        ::SetFileAttributesW(wide(dir.file("skryte")).c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    // The marks are kept (Wine keeps them in an extended attribute).
    ASSERT_TRUE(::GetFileAttributesW(wide(dir.file("skryty.dxf")).c_str()) & FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(::GetFileAttributesW(wide(dir.file("system.dxf")).c_str()) & FILE_ATTRIBUTE_SYSTEM);
    const DirectoryListing listing = ListDirectory(dir.path(), SystemFileSystem());
    EXPECT_EQ(listing.drawings, (Names{"plan.dxf"}));
    ASSERT_EQ(listing.subdirectories.size(), 1u);
    EXPECT_EQ(listing.subdirectories[0].name, "podklady");
}

// Two drawings with one backup name are refused untouched; a lookup that
// finds the drawing itself under other letters is no other drawing.
TEST(Win32Backup, DrawingsSharingABackupNameAreRefused)
{
    TempDir dir;
    writeFile(dir.file("PLAN"), " 62\r\n5\r\n");
    writeFile(dir.file("plan.DXF"), " 62\r\n5\r\n");
    for (const char* name : {"PLAN", "plan.DXF"}) {
        try {
            Convert(dir.path(), name, {}, {}, SystemFileSystem());
            ADD_FAILURE() << name << " converted";
        } catch (const Refusal& e) {
            EXPECT_EQ(e.code(), kSharedBackupName) << name;
            // A drawing's name is spelled as the directory holds it; a
            // name without "." (no drawing's name, never listed) as looked up.
            EXPECT_EQ(e.otherDrawing(), std::string(name) == "PLAN" ? "plan.DXF" : "plan") << name;
        }
    }
    EXPECT_EQ(dir.names(), (Names{"PLAN", "plan.DXF"}));
    ASSERT_TRUE(std::filesystem::remove(std::filesystem::path(wide(dir.file("PLAN")))));
    Convert(dir.path(), "plan.DXF", {}, {}, SystemFileSystem());
    EXPECT_EQ(readFile(dir.file("plan.DXF")), " 62\r\n4\r\n");
    EXPECT_EQ(dir.names(), (Names{"plan.DXF", "plan.old"}));
}

TEST(Win32Names, PathsAreSplitAtEitherSeparatorAndJoinedWithABackslash)
{
    const struct {
        const char* path;
        const char* directory;
        const char* name;
        const char* joined;
    } cases[] = {{"C:\\a\\b.dxf", "C:\\a", "b.dxf", "C:\\a\\b.dxf"},
                 {"C:/a/b.dxf", "C:/a", "b.dxf", "C:/a\\b.dxf"},
                 {"C:\\b.dxf", "C:\\", "b.dxf", "C:\\b.dxf"},
                 {"\\b.dxf", "\\", "b.dxf", "\\b.dxf"},
                 {"C:b.dxf", "C:", "b.dxf", "C:b.dxf"},
                 {"b.dxf", "", "b.dxf", "b.dxf"},
                 {"\\\\server\\share\\b.dxf", "\\\\server\\share", "b.dxf", "\\\\server\\share\\b.dxf"},
                 {"\\\\?\\C:\\b.dxf", "\\\\?\\C:\\", "b.dxf", "\\\\?\\C:\\b.dxf"}};
    for (const auto& c : cases) {
        const Drawing d = Drawing::FromPath(c.path);
        EXPECT_EQ(d.directory, c.directory) << c.path;
        EXPECT_EQ(d.name, c.name) << c.path;
        EXPECT_EQ(d.Path(), c.joined) << c.path;
    }
}

TEST(Win32Names, APathLongerThan260CharactersWorks)
{
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 300) {
        deep += "\\" + std::string(40, 'd');
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + wide(deep)).c_str(), nullptr)) << deep.size();
    }
    const std::string path = deep + "\\výkres.dxf";
    ASSERT_GT(path.size(), 300u);
    const HANDLE file = ::CreateFileW((L"\\\\?\\" + wide(path)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                                      nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD put = 0;
    ASSERT_TRUE(::WriteFile(file, "  62\r\n5\r\n", 9, &put, nullptr));
    ::CloseHandle(file);

    EXPECT_EQ(SystemFileSystem().kindOf(path), PathKind::kRegular);
    Convert(Drawing::FromPath(path), {}, {}, SystemFileSystem());
    EXPECT_EQ(readFile("\\\\?\\" + path), "  62\r\n4\r\n");
    EXPECT_EQ(readFile("\\\\?\\" + deep + "\\výkres.old"), "  62\r\n5\r\n");
    EXPECT_EQ(ListDirectory(deep, SystemFileSystem()).drawings, (Names{"výkres.dxf"}));
}

namespace {

// The directory as written: "C:\...", "\\?\C:\..." or with "/".
std::vector<std::pair<std::string, std::string>> localForms(const std::string& local)
{
    std::string slashes = local;
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    return {{"C:\\...", local}, {"\\\\?\\C:\\...", "\\\\?\\" + local}, {"forward slashes", slashes}};
}

// The same directory through the administrative share of this machine.
std::vector<std::pair<std::string, std::string>> shareForms(const std::string& local)
{
    const std::string share = "localhost\\" + local.substr(0, 1) + "$" + local.substr(2);
    return {{"\\\\localhost\\C$\\...", "\\\\" + share}, {"\\\\?\\UNC\\localhost\\C$\\...", "\\\\?\\UNC\\" + share}};
}

void convertThrough(const TempDir& dir, const std::string& form, const std::string& directory)
{
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    const PassReport report = Convert(directory, "a.dxf", {}, {}, SystemFileSystem());
    EXPECT_TRUE(report.found) << form;
    EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n4\r\n") << form;
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old"})) << form;
    ::DeleteFileW(wide(dir.file("a.old")).c_str());
}

}  // namespace

TEST(Win32Names, PathsInTheFormsWindowsWritesThem)
{
    TempDir dir;
    ASSERT_EQ(dir.path().substr(1, 2), ":\\");
    for (const auto& [form, directory] : localForms(dir.path()))
        convertThrough(dir, form, directory);
}

TEST(Win32Names, UncPathsThroughTheAdministrativeShare)
{
    TempDir dir;
    ASSERT_EQ(dir.path().substr(1, 2), ":\\");
    const auto forms = shareForms(dir.path());
    if (::GetFileAttributesW(wide(forms[0].second).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "this system serves no administrative share (Wine serves none)";
    for (const auto& [form, directory] : forms)
        convertThrough(dir, form, directory);
}

TEST(Win32Names, LinksInADrawingsDirectoryAreNotFollowed)
{
    // A symbolic link inside a drawing's directory is not followed: a
    // drawing that is a link is no drawing to a pass, and a linked
    // directory is not entered by a walk.
    TempDir dir;
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    std::filesystem::create_directory(dir.file("sub"));
    writeFile(dir.file("sub\\b.dxf"), "  62\r\n5\r\n");
    constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (!::CreateSymbolicLinkW(wide(dir.file("link.dxf")).c_str(), L"a.dxf", kUnprivileged)
        || !::CreateSymbolicLinkW(wide(dir.file("sublink")).c_str(), L"sub",
                                  SYMBOLIC_LINK_FLAG_DIRECTORY | kUnprivileged))
        GTEST_SKIP() << "no symbolic links can be made here (error " << ::GetLastError() << ")";

    const DirectoryListing listing = ListDirectory(dir.path(), SystemFileSystem());
    EXPECT_EQ(listing.drawings, (Names{"a.dxf"}));
    // (The linked directory is listed as a link, or, where the system
    // does not call it a directory, not at all.)
    ASSERT_FALSE(listing.subdirectories.empty());
    EXPECT_EQ(listing.subdirectories[0].name == "sub" ? listing.subdirectories[0].link
                                                      : listing.subdirectories.back().link,
              false);
    for (const auto& sub : listing.subdirectories)
        EXPECT_EQ(sub.link, sub.name == "sublink") << sub.name;
    EXPECT_LE(listing.subdirectories.size(), 2u);
    EXPECT_FALSE(Convert(dir.path(), "link.dxf", {}, {}, SystemFileSystem()).found);
    EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n5\r\n");
    Names walked;
    WalkDrawings(
        dir.path(), true, [](const std::string& x, const std::string& y) { return x < y; },
        [&](const Drawing& d) { walked.push_back(d.Path().substr(dir.path().size())); },
        [](const std::string& path, const IoError&) { ADD_FAILURE() << path; }, SystemFileSystem());
    EXPECT_EQ(walked, (Names{"\\a.dxf", "\\sub\\b.dxf"}));
}

TEST(Win32Names, ALinkInThePathOfADirectoryIsFollowed)
{
    TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    writeFile(dir.file("sub\\b.dxf"), "  62\r\n5\r\n");
    if (!::CreateSymbolicLinkW(wide(dir.file("sublink")).c_str(), L"sub", SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2))
        GTEST_SKIP() << "no symbolic links can be made here (error " << ::GetLastError() << ")";
    if (::GetFileAttributesW(wide(dir.file("sublink\\b.dxf")).c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "the system does not follow the link it made (Wine)";
    EXPECT_TRUE(Convert(dir.file("sublink"), "b.dxf", {}, {}, SystemFileSystem()).found);
    EXPECT_EQ(readFile(dir.file("sub\\b.dxf")), "  62\r\n4\r\n");
}

// ---- files told apart ------------------------------------------------------------------

TEST(Win32Identity, FilesAreToldApartByVolumeAndFileIndex)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), "a");
    writeFile(dir.file("b.dxf"), "a");
    ASSERT_TRUE(::CreateHardLinkW(wide(dir.file("a2.dxf")).c_str(), wide(dir.file("a.dxf")).c_str(), nullptr));
    const FileState a = *stateOf(dir, "a.dxf");
    const FileState a2 = *stateOf(dir, "a2.dxf");
    const FileState b = *stateOf(dir, "b.dxf");
    EXPECT_TRUE(a.key == a2.key);
    EXPECT_FALSE(a.key == b.key);
    EXPECT_NE(a.key.number, 0u);
    EXPECT_EQ(a.key.device, b.key.device);
    EXPECT_EQ(a.names, 2u);
    EXPECT_EQ(b.names, 1u);
    EXPECT_TRUE(a.regular);
    EXPECT_TRUE(NamesSameFile(dir.file("a.dxf"), dir.file("a2.dxf"), SystemFileSystem()));
    EXPECT_FALSE(NamesSameFile(dir.file("a.dxf"), dir.file("b.dxf"), SystemFileSystem()));
    EXPECT_FALSE(stateOf(dir, "missing.dxf"));
}

// ---- errors ------------------------------------------------------------------------------

TEST(Win32Errors, TheSystemsNumbersReadAsTheMessageTableHasThem)
{
    const struct {
        DWORD error;
        int code;
        const char* text;
    } cases[] = {{ERROR_FILE_NOT_FOUND, 2, "File not found."},       {ERROR_PATH_NOT_FOUND, 3, "Invalid filename."},
                 {ERROR_INVALID_NAME, 3, "Invalid filename."},       {ERROR_TOO_MANY_OPEN_FILES, 4, "Too many open files."},
                 {ERROR_ACCESS_DENIED, 5, "File access denied."},    {ERROR_SHARING_VIOLATION, 32, "I/O error 32."},
                 {ERROR_DISK_FULL, 101, "Disk full."},               {101, 101, "I/O error 101."},
                 {ERROR_NOT_READY, 21, "I/O error 21."}};
    for (const auto& c : cases) {
        const IoError e = win32::IoErrorFromWin32(c.error);
        EXPECT_EQ(e.code(), c.code) << c.error;
        EXPECT_STREQ(e.what(), c.text) << c.error;
        EXPECT_EQ(e.systemError(), static_cast<int>(c.error));
        EXPECT_FALSE(e.detail().reason.empty()) << c.error;  // the system's own words
    }
}

TEST(Win32Errors, RealFailuresGiveTheirNumbers)
{
    TempDir dir;
    writeFile(dir.file("ro.dxf"), "  62\r\n5\r\n");
    ASSERT_TRUE(::SetFileAttributesW(wide(dir.file("ro.dxf")).c_str(), FILE_ATTRIBUTE_READONLY));
    const struct {
        const char* name;
        int code;
        const char* text;
    } cases[] = {{"ro.dxf", 5, "File access denied."},
                 {"a<b.dxf", 3, "Invalid filename."},
                 {"\xC8\xE1ra.dxf", 3, "Invalid filename."},  // no UTF-8: never guessed at
                 {"a.dxf:stream", 3, "Invalid filename."}};
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(convertError(dir.path(), c.name, &text), c.code) << c.name;
        EXPECT_EQ(text, c.text) << c.name;
    }
    EXPECT_EQ(readFile(dir.file("ro.dxf")), "  62\r\n5\r\n");
    ::SetFileAttributesW(wide(dir.file("ro.dxf")).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(dir.names(), (Names{"ro.dxf"}));
    try {
        ConvertToFile(Drawing{dir.path(), "ro.dxf"}, Drawing{dir.file("no-such-dir"), "out.dxf"}, {}, {},
                      SystemFileSystem());
        ADD_FAILURE() << "converted into a directory that is not there";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), kFileNotFound);
    }
}
