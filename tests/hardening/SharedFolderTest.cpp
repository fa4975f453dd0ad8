// Two programs converting in one folder of a shared drive, where the
// work files must have names (no unnamed files on the file system) and
// one program may not see the other's locks: a work file another program
// may still be writing is never cleared away, a pass renames onto its
// drawing only the file it made itself, and a drawing's own backup is
// never taken for what a killed pass left.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/IoError.h"
#include "engine/platform/WorkNames.h"
#include "engine/replace/Convert.h"
#include "tests/hardening/HardeningSupport.h"

namespace dxfkonv::hardening {
namespace {

using Names = std::vector<std::string>;

constexpr long kMinute = 60;

// The work file of a pass killed midway: a drawing cut short.
const std::string kCutShort = "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n";

// Work files must have names here, as on exFAT, FAT or a network share.
int noUnnamedFiles(FaultyOps& ops, Op op)
{
    return op == Op::kOpen && ops.lookedUp == "." ? EOPNOTSUPP : 0;
}

void setTimes(const std::string& path, std::time_t modified)
{
    const struct timespec times[2] = {{modified, 0}, {modified, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// A named work file that another program holds, or touched, in the ways
// the system can or cannot show, and whether the clean-up of a later pass
// in that folder leaves it alone.
TEST(SharedFolder, WorkFileAnotherProgramMayStillWriteSurvivesTheCleanUp)
{
    enum class Hold { kNothing, kRecordLock, kOpenFileLock, kFlock, kOpenOnly };
    struct Case {
        const char* name;
        Hold hold;
        bool leases;             // whether the system gives leases (no: a network file system)
        long modifiedMinutesAgo;  // put back with utimensat; 0 leaves the time of writing
        long clockAheadMinutes;   // how far the pass's clock is ahead of the files' own times
        bool survives;
    };
    const Case cases[] = {
        {"left alone 11 minutes, nobody holds it", Hold::kNothing, true, 0, 11, false},
        {"left alone 11 minutes, no leases either", Hold::kNothing, false, 0, 11, false},
        {"left alone 9 minutes", Hold::kNothing, true, 0, 9, true},
        {"written just now", Hold::kNothing, true, 0, 0, true},
        {"written long ago, attributes changed just now", Hold::kNothing, true, 60, 0, true},
        {"written in the future", Hold::kNothing, true, -60, 11, true},
        {"a record lock only, no leases", Hold::kRecordLock, false, 0, 11, true},
        {"a lock of an open file only, no leases", Hold::kOpenFileLock, false, 0, 11, true},
        {"a whole-file lock only", Hold::kFlock, false, 0, 11, true},
        {"open for writing, no lock", Hold::kOpenOnly, true, 0, 11, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string old = makeDrawing(16 * 1024, 21);
        writeFile(dir / "plan.dxf", old);
        const std::string other = dir / "razade.&&&";
        writeFile(other, kCutShort);
        if (c.modifiedMinutesAgo != 0)
            setTimes(other, std::time(nullptr) - c.modifiedMinutesAgo * kMinute);
        const int held = ::open(other.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(held, 0);
        struct flock lock{};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 1 << 20;  // one byte far beyond its end, as a Windows program locks
        lock.l_len = 1;
        if (c.hold == Hold::kRecordLock) {
            ASSERT_EQ(::fcntl(held, F_SETLK, &lock), 0);
        } else if (c.hold == Hold::kOpenFileLock) {
            ASSERT_EQ(::fcntl(held, F_OFD_SETLK, &lock), 0);
        } else if (c.hold == Hold::kFlock) {
            ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        }
        // Only a program that holds a lock keeps the file open during the pass.
        int open = held;
        if (c.hold == Hold::kNothing) {
            ::close(held);
            open = -1;
        }

        FaultyOps ops;
        ops.clockAhead = c.clockAheadMinutes * kMinute;
        ops.fault = [&](Op op, int) { return op == Op::kLease && !c.leases ? EINVAL : noUnnamedFiles(ops, op); };
        const Outcome o = runHere([&] { return Convert(dir.path(), "plan.dxf", ConversionSwitches{}, {}, ops); });
        if (open >= 0)
            ::close(open);
        ASSERT_EQ(o.kind, Outcome::kConverted) << describe(o);
        EXPECT_EQ(readFile(dir / "plan.dxf"), ConvertBuffer(old, ConversionSwitches{}));
        EXPECT_EQ(readFile(dir / "plan.old"), old);
        if (c.survives) {
            EXPECT_EQ(dir.names(), (Names{"plan.dxf", "plan.old", "razade.&&&"}));
            if (exists(other)) {
                EXPECT_EQ(readFile(other), kCutShort);
            }
        } else {
            EXPECT_EQ(dir.names(), (Names{"plan.dxf", "plan.old"}));
        }
    }
}

// Another program cleared away this pass's work file as one a killed pass
// left, and made its own under that name, right before this pass renames
// it: the drawing stays untouched, the pass fails, and the other
// program's file is neither moved nor removed. So too where the work file
// has no name until just before the rename.
TEST(SharedFolder, WorkFileSwappedForAnotherProgramsIsNotRenamedOntoTheDrawing)
{
    for (const bool named : {true, false}) {
        SCOPED_TRACE(named ? "named work file" : "unnamed work file");
        ScratchDir dir;
        const std::string old = makeDrawing(16 * 1024, 22);
        writeFile(dir / "plan.dxf", old);
        const std::string theirs = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  0\r\nENDSEC\r\n  0\r\nEOF\r\n";
        FaultyOps ops;
        ops.fault = [&](Op op, int) { return named ? noUnnamedFiles(ops, op) : 0; };
        // The pass closes its work file, flushed and backup made, right
        // before the rename.
        bool flushed = false;
        bool swapped = false;
        ops.before = [&](Op op, int) {
            flushed = flushed || op == Op::kFsync;
            if (!flushed || swapped || op != Op::kClose)
                return;
            swapped = true;
            ASSERT_EQ(::unlink((dir / "razade.&&&").c_str()), 0);
            writeFile(dir / "razade.&&&", theirs);
        };
        const Outcome o = runHere([&] { return Convert(dir.path(), "plan.dxf", ConversionSwitches{}, {}, ops); });
        ASSERT_TRUE(swapped);
        EXPECT_EQ(o.kind, Outcome::kIoError) << describe(o);
        EXPECT_EQ(o.code, kFileInUse);
        EXPECT_EQ(o.text, "I/O error 32.");
        EXPECT_EQ(readFile(dir / "plan.dxf"), old);
        EXPECT_EQ(readFile(dir / "razade.&&&"), theirs);
        EXPECT_EQ(dir.names(), (Names{"plan.dxf", "plan.old", "razade.&&&"}));
    }
}

// A drawing named like the work file, razade.&&&.dxf, keeps its backup
// as razade.&&&.old; where there are neither unnamed files nor hard links
// (exFAT), a later conversion of another drawing in that folder, long
// after, leaves that backup alone.
TEST(SharedFolder, BackupOfADrawingNamedLikeTheWorkFileSurvivesLaterConversions)
{
    ScratchDir dir;
    const std::string first = makeDrawing(16 * 1024, 23);
    const std::string second = makeDrawing(16 * 1024, 24);
    writeFile(dir / "razade.&&&.dxf", first);
    writeFile(dir / "b.dxf", second);
    auto exFat = [](FaultyOps& ops) {
        ops.fault = [&ops](Op op, int) { return op == Op::kLink ? EPERM : noUnnamedFiles(ops, op); };
    };
    FaultyOps ops;
    exFat(ops);
    Outcome o = runHere([&] { return Convert(dir.path(), "razade.&&&.dxf", ConversionSwitches{}, {}, ops); });
    ASSERT_EQ(o.kind, Outcome::kConverted) << describe(o);
    EXPECT_EQ(readFile(dir / "razade.&&&.old"), first);

    FaultyOps later;
    exFat(later);
    later.clockAhead = 60 * kMinute;
    o = runHere([&] { return Convert(dir.path(), "b.dxf", ConversionSwitches{}, {}, later); });
    ASSERT_EQ(o.kind, Outcome::kConverted) << describe(o);
    EXPECT_EQ(readFile(dir / "razade.&&&.old"), first);
    EXPECT_EQ(readFile(dir / "razade.&&&.dxf"), ConvertBuffer(first, ConversionSwitches{}));
    EXPECT_EQ(readFile(dir / "b.old"), second);
    EXPECT_EQ(dir.names(), (Names{"b.dxf", "b.old", "razade.&&&.dxf", "razade.&&&.old"}));
}

}  // namespace
}  // namespace dxfkonv::hardening
