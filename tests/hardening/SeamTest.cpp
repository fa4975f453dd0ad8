// The conversion's order of steps, seen through the file-system seam:
// every operation it asks for may fail, and the file system may change
// between any two of them; the drawing stays whole-old or whole-new and
// every failure is reported.

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FaultySystem.h"
#include "engine/IoError.h"
#include "engine/replace/Convert.h"
#include "engine/replace/Restore.h"
#include "tests/hardening/HardeningSupport.h"

namespace dxfkonv::hardening {
namespace {

using test::FaultySystem;
using test::Seam;
using test::seamName;
using Names = std::vector<std::string>;

constexpr const char* kEarlierBackup = "an earlier backup\r\n";

struct Drawing1 {
    ScratchDir dir;
    std::string old = makeDrawing(16 * 1024, 21);

    Drawing1() { reset(); }
    void reset()
    {
        for (const auto& n : dir.names())
            ::unlink((dir / n).c_str());
        writeFile(dir / "plan.dxf", old);
        writeFile(dir / "plan.old", kEarlierBackup);
    }
};

// Each operation a clean pass asks for, failed in turn, in a pass of its
// own and in an overlapping batch.
TEST(Seam, EveryOperationFailsInTurn)
{
    for (const bool inBatch : {false, true}) {
        SCOPED_TRACE(inBatch ? "in a batch" : "alone");
        Drawing1 d;
        const std::string converted = ConvertBuffer(d.old, ConversionSwitches{});
        auto convert = [&](FaultySystem& fs) {
            return runHere([&] {
                const Drawing drawing{d.dir.path(), "plan.dxf"};
                return inBatch ? ConvertInOverlappingBatch(drawing, ConversionSwitches{}, fs)
                               : Convert(drawing, ConversionSwitches{}, {}, fs);
            });
        };
        FaultySystem counter{SystemFileSystem()};
        ASSERT_EQ(convert(counter).kind, Outcome::kConverted);
        d.reset();
        int failures = 0;
        for (int op = 0; op < static_cast<int>(Seam::kCount); ++op) {
            for (int n = 1; n <= counter.calls(static_cast<Seam>(op)); ++n) {
                const std::string where = std::string(seamName(static_cast<Seam>(op))) + " #" + std::to_string(n);
                FaultySystem fs{SystemFileSystem()};
                fs.fails = [&](Seam which, int nth) { return static_cast<int>(which) == op && nth == n; };
                const Outcome o = convert(fs);
                // The directory's flush, and the handle a batch keeps for
                // it, come after the replace and are only to speed it up.
                if (static_cast<Seam>(op) == Seam::kFlushDirectory || static_cast<Seam>(op) == Seam::kReopen) {
                    EXPECT_EQ(o.kind, Outcome::kConverted) << where;
                    EXPECT_TRUE(readFile(d.dir / "plan.dxf") == converted) << where;
                } else {
                    ++failures;
                    EXPECT_EQ(o.kind, Outcome::kIoError) << where << ": " << describe(o);
                    EXPECT_EQ(o.code, FaultySystem::kInjected) << where;
                    EXPECT_TRUE(readFile(d.dir / "plan.dxf") == d.old) << where;
                    // The backup is the earlier one, or already the old drawing.
                    const std::string backup = readFile(d.dir / "plan.old");
                    EXPECT_TRUE(backup == kEarlierBackup || backup == d.old) << where;
                    EXPECT_EQ(d.dir.names(), (Names{"plan.dxf", "plan.old"})) << where;
                }
                d.reset();
            }
        }
        // find, open, lookUp eleven times (twice for the drawing, eight
        // times for the names that share its backup name: plan.DXF ... and
        // plan, once for PLAN.DXF, whether the file system ignores case),
        // requireReplaceable, createWorkFile, takeMetadata, flush, backUp,
        // contentOf (a drawing just written: its times cannot tell a save in
        // the same tick), keep.
        EXPECT_EQ(failures, 20);
    }
}

// How often each step asks each object of the seam for what: a count the
// objects handed out leave out (one not wrapped, an operation not passed
// on) or an operation that moves to another object shows here.
TEST(Seam, EachStepAsksTheObjectsOfTheSeam)
{
    using Counts = std::map<Seam, int>;
    const struct {
        const char* name;
        bool existingOutput;  // out.dxf is there before
        std::function<void(const std::string& dir, FaultySystem& fs)> step;
        Counts counts;  // every other operation: none
    } cases[] = {
        {"a conversion",
         false,
         [](const std::string& dir, FaultySystem& fs) { Convert(dir, "plan.dxf", ConversionSwitches{}, {}, fs); },
         {{Seam::kFind, 1}, {Seam::kOpen, 1}, {Seam::kLookUp, 11}, {Seam::kRequireReplaceable, 1},
          {Seam::kCreateWorkFile, 1}, {Seam::kTakeMetadata, 1}, {Seam::kFlushWork, 1}, {Seam::kBackUp, 1},
          {Seam::kContentOf, 1}, {Seam::kKeep, 1}, {Seam::kFlushDirectory, 1}}},
        {"a dry run",
         false,
         [](const std::string& dir, FaultySystem& fs) {
             InspectFile(Drawing{dir, "plan.dxf"}, ConversionSwitches{}, {}, fs);
         },
         {{Seam::kFind, 1}, {Seam::kOpen, 1}, {Seam::kLookUp, 10}, {Seam::kRequireReplaceable, 1}}},
        {"a restore",
         false,
         [](const std::string& dir, FaultySystem& fs) { Restore(Drawing{dir, "plan.dxf"}, false, fs); },
         {{Seam::kFind, 2}, {Seam::kOpen, 2}, {Seam::kLookUp, 11}, {Seam::kRequireReplaceable, 1},
          {Seam::kCreateWorkFile, 1}, {Seam::kTakeMetadata, 1}, {Seam::kFlushWork, 1}, {Seam::kKeep, 1},
          {Seam::kFlushDirectory, 1}}},
        {"a conversion to a new file",
         false,
         [](const std::string& dir, FaultySystem& fs) {
             ConvertToFile(Drawing{dir, "plan.dxf"}, Drawing{dir, "out.dxf"}, ConversionSwitches{}, {}, fs);
         },
         {{Seam::kFind, 2}, {Seam::kOpen, 1}, {Seam::kCreateWorkFile, 1}, {Seam::kTakeMetadata, 1},
          {Seam::kFlushWork, 1}, {Seam::kKeep, 1}, {Seam::kFlushDirectory, 1}}},
        {"a conversion over another file",
         true,
         [](const std::string& dir, FaultySystem& fs) {
             ConvertToFile(Drawing{dir, "plan.dxf"}, Drawing{dir, "out.dxf"}, ConversionSwitches{}, {}, fs);
         },
         {{Seam::kFind, 2}, {Seam::kOpen, 1}, {Seam::kRequireReplaceable, 1}, {Seam::kCreateWorkFile, 1},
          {Seam::kTakeMetadata, 1}, {Seam::kFlushWork, 1}, {Seam::kLookUp, 1}, {Seam::kKeep, 1},
          {Seam::kFlushDirectory, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Drawing1 d;
        if (c.existingOutput)
            writeFile(d.dir / "out.dxf", "theirs\r\n");
        FaultySystem fs{SystemFileSystem()};
        c.step(d.dir.path(), fs);
        for (int op = 0; op < static_cast<int>(Seam::kCount); ++op) {
            const auto expected = c.counts.find(static_cast<Seam>(op));
            EXPECT_EQ(fs.calls(static_cast<Seam>(op)), expected == c.counts.end() ? 0 : expected->second)
                << seamName(static_cast<Seam>(op));
        }
    }
}

// Between two operations another program acts on the drawing: the name is
// given to another file before the last look at it, or the drawing is
// written to before its work file is flushed. Nothing is replaced and the
// line says why.
TEST(Seam, TheFileSystemChangesBetweenTwoOperations)
{
    const struct {
        const char* name;
        Seam before;
        int nth;
        bool swapName;  // else: the drawing is written to in place
        int code;
        const char* reason;
    } cases[] = {
        {"name swapped before the last look", Seam::kLookUp, 2, true, 32,
         "the name leads to another file than the one read"},
        {"name swapped before it is held", Seam::kLookUp, 1, true, 32,
         "the name leads to another file than the one read"},
        {"written to before the flush", Seam::kFlushWork, 1, false, kChangedMeanwhile,
         "its size or times changed while it was read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Drawing1 d;
        const std::string other = "  0\r\nEOF\r\n";
        FaultySystem fs{SystemFileSystem()};
        fs.before = [&](Seam op, int nth) {
            if (op != c.before || nth != c.nth)
                return;
            if (c.swapName) {
                writeFile(d.dir / "new.dxf", other);
                ::rename((d.dir / "new.dxf").c_str(), (d.dir / "plan.dxf").c_str());
            } else {
                const int fd = ::open((d.dir / "plan.dxf").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
                EXPECT_EQ(::write(fd, "  0\r\n", 5), 5);
                ::close(fd);
            }
        };
        try {
            Convert(d.dir.path(), "plan.dxf", ConversionSwitches{}, {}, fs);
            ADD_FAILURE() << "converted";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), c.code);
            EXPECT_EQ(e.detail().reason, c.reason);
        }
        EXPECT_TRUE(readFile(d.dir / "plan.dxf") == (c.swapName ? other : d.old + "  0\r\n"));
        EXPECT_EQ(readFile(d.dir / "plan.old"), kEarlierBackup);
        EXPECT_EQ(d.dir.names(), (Names{"plan.dxf", "plan.old"}));
    }
}

}  // namespace
}  // namespace dxfkonv::hardening
