// Whole passes over real files on a POSIX system: permissions, owners,
// links, limits, and failures the system really produces or FaultyOps
// makes it produce.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ExfatVolume.h"
#include "FaultyOps.h"
#include "TestFiles.h"
#include "engine/platform/posix/Errno.h"
#include "engine/replace/Convert.h"
#include "engine/IoError.h"

using namespace dxfkonv;
using namespace dxfkonv::test;
using Names = std::vector<std::string>;

namespace {

struct stat statOf(const std::string& path)
{
    struct stat st{};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// Runs Convert over `ops` and hands back the error it threw (0 for none).
int convertError(FileSystem& ops, const std::string& dir, const std::string& name, const ConversionSwitches& sw = {},
                 std::string* text = nullptr)
{
    try {
        Convert(dir, name, sw, {}, ops);
        return 0;
    } catch (const ConversionError& e) {
        if (text)
            *text = e.what();
        return e.code();
    }
}

// A text full of escapes: the converted file is far smaller than the old one.
std::string escapeHeavyDrawing(std::size_t pairs)
{
    std::string s;
    for (std::size_t i = 0; i < pairs; ++i)
        s += "  1\r\n%%130%%130%%130%%130%%130%%130%%130%%130\r\n";
    return s + "  0\r\nEOF\r\n";
}

}  // namespace

TEST(ConvertFile, PermissionsAndTimesAreKept)
{
    TempDir dir;
    writeFile(dir.file("PLAN.DXF"), sampleFile("plan-tarnix.dxf"));
    ASSERT_EQ(chmod(dir.file("PLAN.DXF").c_str(), 0640), 0);
    const struct stat before = statOf(dir.file("PLAN.DXF"));
    Convert(dir.path(), "PLAN.DXF", {}, {}, SystemFileSystem());
    const struct stat after = statOf(dir.file("PLAN.DXF"));
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    const struct stat backup = statOf(dir.file("PLAN.old"));
    EXPECT_EQ(backup.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(backup.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST(ConvertFile, DanglingLinkIsSkippedSilently)
{
    TempDir dir;
    ASSERT_EQ(symlink("nowhere.dxf", dir.file("dangling.dxf").c_str()), 0);
    EXPECT_FALSE(Convert(dir.path(), "dangling.dxf", {}, {}, SystemFileSystem()).found);
    EXPECT_EQ(dir.names(), (Names{"dangling.dxf"}));
}

TEST(ConvertFile, SymbolicLinkKeepsTheLinkAndConvertsItsTarget)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("real").c_str(), 0755), 0);
    const std::string old = sampleFile("plan-autocad.dxf");
    writeFile(dir.file("real/target.dxf"), old);
    ASSERT_EQ(symlink("real/target.dxf", dir.file("link.dxf").c_str()), 0);
    ConversionSwitches wl;
    wl.textDirection = "wl";
    Convert(dir.path(), "link.dxf", wl, {}, SystemFileSystem());
    EXPECT_TRUE(S_ISLNK(statOf(dir.file("link.dxf")).st_mode));
    EXPECT_EQ(readFile(dir.file("real/target.dxf")), ConvertBuffer(old, wl));
    EXPECT_EQ(readFile(dir.file("link.old")), old);
    EXPECT_EQ(dir.names(), (Names{"link.dxf", "link.old", "real"}));
}

TEST(ConvertFile, OwnerIsKept)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a file away";
    TempDir dir;
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    ASSERT_EQ(chown(dir.file("a.dxf").c_str(), 65534, 65534), 0);
    Convert(dir.path(), "a.dxf", {}, {}, SystemFileSystem());
    const struct stat st = statOf(dir.file("a.dxf"));
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n4\r\n");
}

TEST(ConvertFailure, ReadOnlyFileIsRefusedEvenForRoot)
{
    TempDir dir;
    writeFile(dir.file("ro.dxf"), "  62\r\n5\r\n");
    ASSERT_EQ(chmod(dir.file("ro.dxf").c_str(), 0444), 0);
    std::string text;
    EXPECT_EQ(convertError(SystemFileSystem(), dir.path(), "ro.dxf", {}, &text), kFileAccessDenied);
    EXPECT_EQ(text, "File access denied.");
    EXPECT_EQ(readFile(dir.file("ro.dxf")), "  62\r\n5\r\n");
    EXPECT_EQ(dir.names(), (Names{"ro.dxf"}));
}

TEST(ConvertFailure, DirectoryWithoutWritePermission)
{
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // others may read, not write
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    ASSERT_EQ(chmod(dir.file("a.dxf").c_str(), 0666), 0);
    const int code = runUnprivileged([&] { return convertError(SystemFileSystem(), dir.path(), "a.dxf"); });
    EXPECT_EQ(code, kFileAccessDenied);
    EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n5\r\n");
    EXPECT_EQ(dir.names(), (Names{"a.dxf"}));
}

TEST(ConvertFailure, UnreadableFile)
{
    TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    ASSERT_EQ(chmod(dir.file("a.dxf").c_str(), 0600), 0);
    const int code = runUnprivileged([&] {
        std::string text;
        const int err = convertError(SystemFileSystem(), dir.path(), "a.dxf", {}, &text);
        return err == kFileAccessDenied && text == "File access denied." ? 1 : 2;
    });
    EXPECT_EQ(code, 1);
    EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n5\r\n");
    EXPECT_EQ(dir.names(), (Names{"a.dxf"}));
}

TEST(ConvertFailure, DiskFullWhileWritingTheWorkFile)
{
    TempDir dir;
    ConversionSwitches wl;
    wl.textDirection = "wl";
    const std::string old = ConvertBuffer(escapeHeavyDrawing(4000), {});  // raw bytes: grows in "wl"
    writeFile(dir.file("a.dxf"), old);
    writeFile(dir.file("a.old"), "previous backup");
    std::string text;
    int code;
    {
        FileSizeLimit limit(old.size() + 1000);
        code = convertError(SystemFileSystem(), dir.path(), "a.dxf", wl, &text);
    }
    EXPECT_EQ(code, kDiskFull);
    EXPECT_EQ(text, "Disk full.");
    EXPECT_EQ(readFile(dir.file("a.dxf")), old);
    EXPECT_EQ(readFile(dir.file("a.old")), "previous backup");
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old"}));
}

TEST(ConvertFailure, DiskFullWhileCopyingTheBackup)
{
    // A file with a second name is backed up by copying, not by a link.
    TempDir dir;
    const std::string old = escapeHeavyDrawing(4000);
    writeFile(dir.file("a.dxf"), old);
    ASSERT_EQ(link(dir.file("a.dxf").c_str(), dir.file("second-name").c_str()), 0);
    std::string text;
    int code;
    {
        FileSizeLimit limit(old.size() / 2);  // the converted file fits, a copy of the old does not
        code = convertError(SystemFileSystem(), dir.path(), "a.dxf", {}, &text);
    }
    EXPECT_EQ(code, kDiskFull);
    EXPECT_EQ(text, "Disk full.");
    EXPECT_EQ(readFile(dir.file("a.dxf")), old);
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "second-name"}));

    // Without the limit the same pass copies the backup and succeeds.
    Convert(dir.path(), "a.dxf", {}, {}, SystemFileSystem());
    EXPECT_EQ(readFile(dir.file("a.old")), old);
    EXPECT_EQ(readFile(dir.file("second-name")), old);
    EXPECT_EQ(readFile(dir.file("a.dxf")), ConvertBuffer(old, {}));
}

TEST(ConvertFile, LargeDrawingComesOutTheSameHoweverItIsWritten)
{
    // A large work file goes to the disk straight from memory where the
    // file system lets it; where a write of that kind is cut short or
    // refused, the rest goes the ordinary way.
    TempDir dir;
    // 5 MB with a bit of a block at the end; and 4.5 MB that shrinks to
    // less than one block, all of it written at the end.
    const std::string olds[] = {escapeHeavyDrawing(100000) + std::string(777, 'x'),
                                "  1\r\n" + [] {
                                    std::string text;
                                    while (text.size() < (9u << 19))
                                        text += "%%130";
                                    return text;
                                }() + "\r\n"};
    struct Way {
        const char* name;
        std::size_t maxWrite;
        bool interrupt;
    };
    for (const std::string& old : olds) {
        const std::string converted = ConvertBuffer(old, {});
        for (const Way& way : {Way{"system", 0, false}, Way{"cut to 1000 bytes", 1000, false},
                               Way{"cut to 128 KiB", 128 * 1024, false}, Way{"interrupted", 0, true}}) {
            writeFile(dir.file("a.dxf"), old);
            FaultyOps ops;
            ops.maxWrite = way.maxWrite;
            ops.interruptEveryOther = way.interrupt;
            Convert(dir.path(), "a.dxf", {}, {}, ops);
            EXPECT_TRUE(readFile(dir.file("a.dxf")) == converted) << way.name << ", " << old.size() << " bytes";
            EXPECT_TRUE(readFile(dir.file("a.old")) == old) << way.name;
            EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old"})) << way.name;
            ::unlink(dir.file("a.old").c_str());
        }
    }
}

TEST(ConvertFailure, FileGoneBeforeItIsOpened)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    FaultyOps ops;
    ops.fault = [&](Op op, int) { return op == Op::kOpen && ops.lookedUp == "a.dxf" ? ENOENT : 0; };
    std::string text;
    EXPECT_EQ(convertError(ops, dir.path(), "a.dxf", {}, &text), kFileNotOpen);
    EXPECT_EQ(text, "I/O error 103.");
    EXPECT_EQ(dir.names(), (Names{"a.dxf"}));
}

TEST(ConvertFailure, FailedReplaceLeavesTheFileAsItWas)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
    FaultyOps ops;
    ops.fault = [&](Op op, int) { return op == Op::kRename && ops.lookedUp == "a.dxf" ? EBUSY : 0; };
    std::string text;
    EXPECT_EQ(convertError(ops, dir.path(), "a.dxf", {}, &text), EBUSY);
    EXPECT_EQ(text, "I/O error " + std::to_string(EBUSY) + ".");
    EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n5\r\n");
    // The backup was made before the replace: a whole copy of the old file.
    EXPECT_EQ(readFile(dir.file("a.old")), "  62\r\n5\r\n");
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old"}));
}

TEST(IoErrors, TextsAndNumbers)
{
    EXPECT_STREQ(IoError(2).what(), "File not found.");
    EXPECT_STREQ(IoError(3).what(), "Invalid filename.");
    EXPECT_STREQ(IoError(4).what(), "Too many open files.");
    EXPECT_STREQ(IoError(5).what(), "File access denied.");
    EXPECT_STREQ(IoError(101).what(), "Disk full.");
    EXPECT_STREQ(IoError(32).what(), "I/O error 32.");
    EXPECT_STREQ(IoError(kFileInUse).what(), "I/O error 32.");  // the number the user reads for a held file
    EXPECT_EQ(IoError(5).systemError(), 0);
    // The number and text the user reads, and the system's cause behind
    // them: EACCES and EIO both read 5, yet a caller can tell them apart.
    const struct {
        int err;
        int code;
        const char* text;
    } fromSystem[] = {{ENOENT, 2, "File not found."},      {ENAMETOOLONG, 3, "Invalid filename."},
                      {EMFILE, 4, "Too many open files."}, {EROFS, 5, "File access denied."},
                      {EACCES, 5, "File access denied."},  {EIO, 5, "I/O error 5."},
                      {EDQUOT, 101, "Disk full."},         {EFBIG, 101, "Disk full."},
                      {EBUSY, EBUSY, "I/O error 16."}};
    for (const auto& c : fromSystem) {
        const IoError e = IoErrorFromErrno(c.err);
        EXPECT_EQ(e.code(), c.code) << c.err;
        EXPECT_STREQ(e.what(), c.text) << c.err;
        EXPECT_EQ(e.systemError(), c.err);
    }
}


// ---- two drawings, one backup name ------------------------------------------

namespace {

// What a pass over a drawing came to: "converted", or the refusal's number
// with the other drawing and the backup name it gives.
std::string outcomeOf(const std::function<PassReport()>& pass)
{
    try {
        pass();
        return "converted";
    } catch (const Refusal& e) {
        return std::to_string(e.code()) + " " + e.otherDrawing() + " " + e.backupName();
    } catch (const ConversionError& e) {
        return std::to_string(e.code()) + " " + e.what();
    }
}

}  // namespace

// A directory where two names back up to one name: each drawing that has
// another drawing's backup name is refused untouched, with and without a
// dry run; the drawing's own other names are no other drawing.
TEST(ConvertSharedBackup, ADrawingWhoseBackupNameAnotherDrawingHasIsRefused)
{
    const std::string old = "  62\r\n5\r\n";
    const struct {
        const char* what;
        Names others;  // beside "PLAN.dxf": "NAME" a file, "NAME>TARGET" a symbolic link, "NAME=" a hard link
                       // of PLAN.dxf, "NAME/" a directory
        const char* converted;
        const char* expected;
    } rows[] = {
        {"a name in other letters", {"PLAN.DXF"}, "PLAN.dxf", "1005 PLAN.DXF PLAN.old"},
        {"and the other way", {"PLAN.DXF"}, "PLAN.DXF", "1005 PLAN.dxf PLAN.old"},
        {"one of the eight", {"PLAN.dXf"}, "PLAN.dxf", "1005 PLAN.dXf PLAN.old"},
        {"a name without a dot", {"PLAN"}, "PLAN.dxf", "1005 PLAN PLAN.old"},
        {"and the other way", {"PLAN"}, "PLAN", "1005 PLAN.dxf PLAN.old"},
        {"a drawing named on its own", {"PLAN.txt"}, "PLAN.txt", "1005 PLAN.dxf PLAN.old"},
        {"a link to another drawing", {"other.dxf", "PLAN.DXF>other.dxf"}, "PLAN.dxf", "1005 PLAN.DXF PLAN.old"},
        {"another stem in other letters", {"plan.DXF"}, "PLAN.dxf", "converted"},
        {"a dot in the stem", {"PLAN.dxf.dxf", "PLAN.dxf.old"}, "PLAN.dxf", "converted"},
        {"the other backs up elsewhere", {"PLAN.dxf.txt"}, "PLAN.dxf", "converted"},
        {"a hard link of the drawing", {"PLAN.DXF="}, "PLAN.dxf", "converted"},
        {"a symbolic link to the drawing", {"PLAN.DXF>PLAN.dxf"}, "PLAN.dxf", "converted"},
        {"a link leading nowhere", {"PLAN.DXF>gone.dxf"}, "PLAN.dxf", "converted"},
        {"a directory", {"PLAN.DXF/"}, "PLAN.dxf", "converted"},
        {"an older backup of its own", {"PLAN.old"}, "PLAN.dxf", "converted"},
    };
    for (const auto& row : rows) {
        for (const bool dry : {false, true}) {
            SCOPED_TRACE(std::string(row.what) + (dry ? ", dry run" : ""));
            TempDir dir;
            writeFile(dir.file("PLAN.dxf"), old);
            for (const std::string& other : row.others) {
                const std::size_t arrow = other.find('>');
                if (arrow != std::string::npos)
                    ASSERT_EQ(symlink(other.substr(arrow + 1).c_str(), dir.file(other.substr(0, arrow)).c_str()), 0);
                else if (other.back() == '=')
                    ASSERT_EQ(link(dir.file("PLAN.dxf").c_str(), dir.file(other.substr(0, other.size() - 1)).c_str()),
                              0);
                else if (other.back() == '/')
                    ASSERT_EQ(mkdir(dir.file(other).c_str(), 0755), 0);
                else
                    writeFile(dir.file(other), old);
            }
            const Names before = dir.names();
            const std::string outcome = outcomeOf([&] {
                return dry ? InspectFile(Drawing{dir.path(), row.converted}, {}, {}, SystemFileSystem())
                           : Convert(dir.path(), row.converted, {}, {}, SystemFileSystem());
            });
            EXPECT_EQ(outcome, row.expected);
            if (outcome != "converted" || dry) {
                EXPECT_EQ(dir.names(), before);
                EXPECT_EQ(readFile(dir.file(row.converted)), old);
            } else {
                EXPECT_EQ(readFile(dir.file(row.converted)), "  62\r\n4\r\n");
            }
        }
    }
}

// exFAT compares names without regard to case and gives each spelling of
// a name a number of its own: the drawing's own name in other letters is
// the drawing itself, while another file whose name differs in case only
// (no dot, so another name) is another drawing. A batch works the case
// rule out once and converts every drawing of a folder.
TEST(ConvertSharedBackup, OnExfatOtherLettersAreTheSameName)
{
    ExfatVolume exfat;
    if (!exfat.mounted())
        GTEST_SKIP() << exfat.whyNot();
    const struct {
        const char* what;
        Names drawings;  // the first is converted
        const char* expected;
    } rows[] = {
        {"alone", {"plan.dxf"}, "converted"},
        {"named in capitals", {"PLAN.DXF"}, "converted"},
        // (A name without a dot is no drawing's: the message spells it as looked up.)
        {"beside a file without a dot in capitals", {"plan.dxf", "PLAN"}, "1005 plan plan.old"},
        {"that file converted", {"PLAN", "plan.dxf"}, "1005 plan.dxf PLAN.old"},
        {"beside another stem", {"plan.dxf", "plan2.DXF"}, "converted"},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        // A folder of its own for each row: the system keeps what it looked
        // up under one spelling for a while.
        const std::string folder = exfat.file(std::to_string(++n));
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        for (const std::string& name : row.drawings)
            writeFile(folder + "/" + name, "  62\r\n5\r\n");
        EXPECT_EQ(outcomeOf([&] { return Convert(folder, row.drawings[0], {}, {}, SystemFileSystem()); }),
                  row.expected);
    }

    for (const char* name : {"a.dxf", "B.DXF", "c.Dxf"})
        writeFile(exfat.file(name), "  62\r\n5\r\n");
    Batch batch;
    for (const char* name : {"a.dxf", "B.DXF", "c.Dxf"})
        EXPECT_EQ(outcomeOf([&] { return Convert(exfat.path(), name, {}, {}, SystemFileSystem(), &batch); }),
                  "converted")
            << name;
    batch.flush();
    for (const char* name : {"a.dxf", "B.DXF", "c.Dxf"})
        EXPECT_EQ(readFile(exfat.file(name)), "  62\r\n4\r\n") << name;
}

// Without a backup both drawings of a pair convert; a drawing converted
// the day before makes its pair refused later, its backup kept.
TEST(ConvertSharedBackup, WithoutABackupThePairConvertsAndAnEarlierBackupStays)
{
    TempDir dir;
    writeFile(dir.file("PLAN.dxf"), "  62\r\n5\r\n");
    Convert(dir.path(), "PLAN.dxf", {}, {}, SystemFileSystem());
    writeFile(dir.file("PLAN.DXF"), "  62\r\n2\r\n");
    EXPECT_EQ(outcomeOf([&] { return Convert(dir.path(), "PLAN.DXF", {}, {}, SystemFileSystem()); }),
              "1005 PLAN.dxf PLAN.old");
    EXPECT_EQ(outcomeOf([&] { return Convert(dir.path(), "PLAN.dxf", {}, {}, SystemFileSystem()); }),
              "1005 PLAN.DXF PLAN.old");
    EXPECT_EQ(readFile(dir.file("PLAN.old")), "  62\r\n5\r\n");
    EXPECT_EQ(readFile(dir.file("PLAN.DXF")), "  62\r\n2\r\n");

    ConversionSwitches noBackup;
    noBackup.keepBackup = false;
    for (const char* name : {"PLAN.dxf", "PLAN.DXF"})
        EXPECT_EQ(outcomeOf([&] { return Convert(dir.path(), name, noBackup, {}, SystemFileSystem()); }), "converted")
            << name;
    EXPECT_EQ(readFile(dir.file("PLAN.dxf")), "  62\r\n5\r\n");  // 4 renumbered once more
    EXPECT_EQ(readFile(dir.file("PLAN.DXF")), "  62\r\n1\r\n");
    EXPECT_EQ(readFile(dir.file("PLAN.old")), "  62\r\n5\r\n");
    EXPECT_EQ(dir.names(), (Names{"PLAN.DXF", "PLAN.dxf", "PLAN.old"}));
}

// The dry run meets what the conversion meets before it writes: a file
// the user may not replace fails both alike, and neither touches it.
TEST(ConvertFailure, TheDryRunFailsWhereTheConversionWould)
{
    const struct {
        const char* what;
        bool needsRoot;  // to make the drawing another user's
        mode_t directoryMode;
        mode_t fileMode;
        const char* reason;
    } rows[] = {
        {"a read-only file", false, 0777, 0444, "nobody may write it"},
        {"a directory where no work file can be made", false, 0555, 0666, "Permission denied"},
        {"another user's file in a shared directory", true, 01777, 0666,
         "another user's file in a shared directory, which only he may replace"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.needsRoot && geteuid() != 0)
            continue;
        TempDir dir(TempDir::Access::kEverybody);
        writeFile(dir.file("a.dxf"), "  62\r\n5\r\n");
        ASSERT_EQ(chmod(dir.file("a.dxf").c_str(), row.fileMode), 0);
        ASSERT_EQ(chmod(dir.path().c_str(), row.directoryMode), 0);
        for (const bool dry : {false, true}) {
            // 1: refused with "File access denied." and the reason given.
            const int code = runUnprivileged([&] {
                try {
                    if (dry)
                        InspectFile(Drawing{dir.path(), "a.dxf"}, {}, {}, SystemFileSystem());
                    else
                        Convert(dir.path(), "a.dxf", {}, {}, SystemFileSystem());
                    return 0;
                } catch (const ConversionError& e) {
                    return e.code() == kFileAccessDenied && std::string(e.what()) == "File access denied."
                                   && e.detail().reason == row.reason
                               ? 1
                               : 2;
                }
            });
            EXPECT_EQ(code, 1) << (dry ? "dry run" : "conversion");
        }
        ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
        EXPECT_EQ(readFile(dir.file("a.dxf")), "  62\r\n5\r\n");
        EXPECT_EQ(dir.names(), (Names{"a.dxf"}));
    }
}

// A batch that queues its drawings reports every drawing once, in order,
// through its queue, whether it was refused before its pass, failed in
// its last steps, was met before, or went through. A drawing that failed
// stays as it was.
TEST(ConvertBatch, QueuedDrawingsReportInOrder)
{
    TempDir dir;
    const std::string old = " 62\r\n5\r\n";
    for (const char* name : {"a.dxf", "b.dxf", "c.dxf", "d.dxf", "e.dxf"})
        writeFile(dir.file(name), old);
    ASSERT_EQ(chmod(dir.file("c.dxf").c_str(), 0444), 0);  // refused before its pass
    FaultyOps ops;
    ops.fault = [&](Op op, int) { return op == Op::kRename && ops.lookedUp == "b.dxf" ? EIO : 0; };

    std::mutex mutex;
    std::vector<std::string> outcomes;  // from the batch's thread
    std::vector<std::string> returned;
    {
        Batch batch([&](const Batch::Outcome& outcome) {
            std::lock_guard lock(mutex);
            std::string what = outcome.drawing.name;
            try {
                if (outcome.failure)
                    std::rethrow_exception(outcome.failure);
                what += outcome.report.repeated ? " repeated" : " finished " + std::to_string(outcome.report.coloursRenumbered);
            } catch (const IoError& e) {
                what += std::string(" failed ") + e.what();
            }
            outcomes.push_back(what);
        });
        for (const char* name : {"a.dxf", "b.dxf", "c.dxf", "d.dxf", "a.dxf", "e.dxf"})
            returned.push_back(name + std::string(Convert(Drawing{dir.path(), name}, {}, {}, ops, &batch).pending ? " queued" : " done"));
        batch.finish();
        std::lock_guard lock(mutex);
        EXPECT_EQ(outcomes, (std::vector<std::string>{"a.dxf finished 1", "b.dxf failed I/O error 5.",
                                                       "c.dxf failed File access denied.", "d.dxf finished 1",
                                                       "a.dxf repeated", "e.dxf finished 1"}));
    }
    EXPECT_EQ(returned, (std::vector<std::string>{"a.dxf queued", "b.dxf queued", "c.dxf queued", "d.dxf queued",
                                                   "a.dxf queued", "e.dxf queued"}));
    for (const char* name : {"a.dxf", "d.dxf", "e.dxf"})
        EXPECT_EQ(readFile(dir.file(name)), " 62\r\n4\r\n") << name;
    for (const char* name : {"b.dxf", "c.dxf"})
        EXPECT_EQ(readFile(dir.file(name)), old) << name;
    // The backup is made before the replace: b.old is a whole copy of b.dxf.
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old", "b.dxf", "b.old", "c.dxf", "d.dxf", "d.old", "e.dxf", "e.old"}));
}

// A group's work files all go to the disk before the first of them
// replaces its drawing: at once where the file system puts all its writes
// there so, else each on its own, and each on its own as well where that
// fails. Each drawing is reported the moment it is replaced; their
// directory is flushed once, with the next group or at the end.
TEST(ConvertBatch, AGroupIsFlushedTogetherThenReplacedInTurn)
{
    const std::string fsync = opName(Op::kFsync);
    const std::string syncfs = opName(Op::kSyncfs);
    const std::string rename = opName(Op::kRename);
    const std::vector<std::string> replaced = {rename, "a.dxf new", rename, "b.dxf new", rename, "c.dxf new", fsync};
    const struct {
        const char* what;
        bool atOnce;
        int syncfsFails;
        std::vector<std::string> flushes;
    } rows[] = {
        {"file by file", false, 0, {fsync, fsync, fsync}},
        {"at once", true, 0, {syncfs}},
        {"at once, failing", true, EIO, {syncfs, fsync, fsync, fsync}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        for (const char* name : {"a.dxf", "b.dxf", "c.dxf"})
            writeFile(dir.file(name), " 62\r\n5\r\n");
        std::mutex mutex;
        std::vector<std::string> log;
        FaultyOps ops;
        ops.flushesAtOnce = row.atOnce;
        ops.fault = [&](Op op, int) { return op == Op::kSyncfs ? row.syncfsFails : 0; };
        ops.hold = [&](Op op, int) {
            std::lock_guard lock(mutex);
            if (op == Op::kFsync || op == Op::kSyncfs || op == Op::kRename)
                log.push_back(opName(op));
        };
        {
            Batch batch([&](const Batch::Outcome& outcome) {
                std::lock_guard lock(mutex);
                log.push_back(outcome.drawing.name
                              + (readFile(dir.file(outcome.drawing.name)) == " 62\r\n4\r\n" ? " new" : " old"));
            });
            for (const char* name : {"a.dxf", "b.dxf", "c.dxf"})
                ASSERT_TRUE(Convert(Drawing{dir.path(), name}, {}, {}, ops, &batch).pending);
            {
                std::lock_guard lock(mutex);
                EXPECT_EQ(log, std::vector<std::string>{}) << "the group is not full yet";
            }
            batch.flush();
        }
        std::vector<std::string> expected = row.flushes;
        expected.insert(expected.end(), replaced.begin(), replaced.end());
        EXPECT_EQ(log, expected);
    }
}

// A group closes at kGroupDrawings: the drawings of a full group are in
// place before the drawing after them has been converted.
TEST(ConvertBatch, AFullGroupIsPutInPlaceWhileTheNextOneGathers)
{
    TempDir dir;
    const std::size_t n = Batch::kGroupDrawings + 1;
    for (std::size_t i = 0; i < n; ++i)
        writeFile(dir.file("v" + std::to_string(100 + i) + ".dxf"), " 62\r\n5\r\n");
    std::mutex mutex;
    std::size_t reported = 0;
    Batch batch([&](const Batch::Outcome& outcome) {
        std::lock_guard lock(mutex);
        EXPECT_FALSE(outcome.failure);
        ++reported;
    });
    for (std::size_t i = 0; i + 1 < n; ++i)
        Convert(Drawing{dir.path(), "v" + std::to_string(100 + i) + ".dxf"}, {}, {}, SystemFileSystem(), &batch);
    // The last one waits for the group before it to be in place.
    Convert(Drawing{dir.path(), "v" + std::to_string(100 + n - 1) + ".dxf"}, {}, {}, SystemFileSystem(), &batch);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(reported, 0u) << "handed over, not yet waited for";
    }
    batch.finish();
    std::lock_guard lock(mutex);
    EXPECT_EQ(reported, n);
}
