// A drawing that another program saves between the moment the pass starts
// reading it and its replace is never replaced, and its backup stays as it
// was: on a file system whose change times tell, and on one whose times
// tell nothing (exFAT, whole seconds, a change time a user can set back),
// for a save of the same size whose modification time is put back, as
// `touch -d`, `cp -p` or `rsync -t --inplace` leave it.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ExfatVolume.h"
#include "FaultySystem.h"
#include "engine/IoError.h"
#include "engine/replace/Convert.h"
#include "tests/hardening/HardeningSupport.h"

namespace dxfkonv::hardening {
namespace {

using test::ExfatVolume;
using test::FaultySystem;
using test::Seam;
using Names = std::vector<std::string>;

constexpr const char* kEarlierBackup = "an earlier backup\r\n";

// Saves `path` anew with 8 other bytes in its middle, of the same size,
// and puts its modification time back to what it was.
std::string saveUnseen(const std::string& path)
{
    struct stat before{};
    EXPECT_EQ(::stat(path.c_str(), &before), 0);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::pwrite(fd, "EDITED\r\n", 8, before.st_size / 2), 8);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    EXPECT_EQ(::futimens(fd, times), 0);
    ::close(fd);
    struct stat after{};
    EXPECT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    return readFile(path);
}

// The names in the directory `dir`, sorted.
Names namesIn(const std::string& dir)
{
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Where the drawing lies: a directory of the system's temporary file
// system, the same with a second name for the drawing (so its backup is a
// copy), or an exFAT volume (no hard links: a copy too).
enum class Place { kTemporary, kTemporaryTwoNames, kExfat };

TEST(ChangedMeanwhile, SaveWithItsTimePutBackIsNeverReplaced)
{
    ExfatVolume exfat;
    const struct {
        const char* name;
        Seam before;  // the save comes just before this operation
    } moments[] = {
        {"after the pass read it", Seam::kTakeMetadata},
        {"just before its backup", Seam::kBackUp},
        {"after its backup, just before the replace", Seam::kContentOf},
    };
    for (const Place place : {Place::kTemporary, Place::kTemporaryTwoNames, Place::kExfat}) {
        if (place == Place::kExfat && !exfat.mounted()) {
            std::printf("exFAT left out: %s\n", exfat.whyNot().c_str());
            continue;
        }
        for (const auto& m : moments) {
            for (const bool earlierBackup : {true, false}) {
                SCOPED_TRACE(std::string(m.name) + (earlierBackup ? ", with an earlier backup" : "")
                             + (place == Place::kExfat               ? ", on exFAT"
                                : place == Place::kTemporaryTwoNames ? ", two names"
                                                                     : ""));
                ScratchDir scratch;
                const std::string dir = place == Place::kExfat ? exfat.path() : scratch.path();
                const std::string drawing = dir + "/plan.dxf";
                const std::string old = makeDrawing(64 * 1024, 25);
                writeFile(drawing, old);
                Names names = {"plan.dxf"};
                if (place == Place::kTemporaryTwoNames) {
                    ASSERT_EQ(::link(drawing.c_str(), (dir + "/plan-2.dxf").c_str()), 0);
                    names.push_back("plan-2.dxf");
                }
                if (earlierBackup) {
                    writeFile(dir + "/plan.old", kEarlierBackup);
                    names.push_back("plan.old");
                }
                std::string edited;
                FaultySystem fs{SystemFileSystem()};
                fs.before = [&](Seam op, int nth) {
                    if (op == m.before && nth == 1)
                        edited = saveUnseen(drawing);
                };
                const Outcome o = runHere([&] { return Convert(dir, "plan.dxf", ConversionSwitches{}, {}, fs); });
                ASSERT_FALSE(edited.empty());
                EXPECT_EQ(o.kind, Outcome::kIoError) << describe(o);
                EXPECT_EQ(o.code, kChangedMeanwhile);
                EXPECT_TRUE(readFile(drawing) == edited);
                if (earlierBackup) {
                    EXPECT_EQ(readFile(dir + "/plan.old"), kEarlierBackup);
                }
                // No backup left of the edited drawing, no work file.
                std::sort(names.begin(), names.end());
                EXPECT_EQ(namesIn(dir), names);
                for (const char* n : {"plan.dxf", "plan-2.dxf", "plan.old"})
                    ::unlink((dir + "/" + n).c_str());
            }
        }
    }
}

// Where the file system keeps change times nobody can set back, and the
// drawing's is older than the clock's tick, its times alone tell: the
// drawing is not read a second time, and a save with its modification
// time put back still shows. On exFAT it is always read again.
TEST(ChangedMeanwhile, TimesTellOnlyWhereTheFileSystemKeepsThem)
{
    ScratchDir dir;
    struct statfs fs{};
    ASSERT_EQ(::statfs(dir.path().c_str(), &fs), 0);
    const auto type = static_cast<unsigned long>(fs.f_type);
    if (type != 0xEF53 && type != 0x58465342 && type != 0x9123683E && type != 0x01021994)
        GTEST_SKIP() << "the temporary directory is on no ext4, XFS, Btrfs or tmpfs";
    ExfatVolume exfat;
    const std::string old = makeDrawing(64 * 1024, 26);
    writeFile(dir / "clean.dxf", old);
    writeFile(dir / "saved.dxf", old);
    if (exfat.mounted())
        writeFile(exfat.file("clean.dxf"), old);
    else
        std::printf("exFAT left out: %s\n", exfat.whyNot().c_str());
    // Older than the clock's tick, by far.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));

    const struct {
        const char* name;
        std::string dir;
        const char* file;
        bool save;
        Outcome::Kind kind;
        int reread;
    } cases[] = {
        {"untouched", dir.path(), "clean.dxf", false, Outcome::kConverted, 0},
        {"saved, its time put back", dir.path(), "saved.dxf", true, Outcome::kIoError, 0},
        {"on exFAT", exfat.path(), "clean.dxf", false, Outcome::kConverted, 1},
    };
    for (const auto& c : cases) {
        if (c.dir.empty())
            continue;
        SCOPED_TRACE(c.name);
        FaultySystem counter{SystemFileSystem()};
        counter.before = [&](Seam op, int) {
            if (c.save && op == Seam::kTakeMetadata)
                saveUnseen(c.dir + "/" + c.file);
        };
        const Outcome o = runHere([&] { return Convert(c.dir, c.file, ConversionSwitches{}, {}, counter); });
        EXPECT_EQ(o.kind, c.kind) << describe(o);
        EXPECT_EQ(counter.calls(Seam::kContentOf), c.reread);
        if (c.kind == Outcome::kConverted) {
            EXPECT_EQ(readFile(c.dir + "/" + c.file), ConvertBuffer(old, ConversionSwitches{}));
        } else {
            EXPECT_EQ(o.code, kChangedMeanwhile);
            EXPECT_EQ(namesIn(c.dir), (Names{"clean.dxf", "clean.old", "saved.dxf"}));
        }
    }
}

}  // namespace
}  // namespace dxfkonv::hardening
