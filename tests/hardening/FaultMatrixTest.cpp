// Every way a file pass can fail, made to happen: for real where the
// system can be made to fail on demand (permissions as an unprivileged
// user, resource limits, names taken by directories), through the file
// layer elsewhere. Whatever fails, the drawing must come out whole: either
// untouched, or (when only a step after the replace failed) fully
// converted; a backup is absent or a complete copy of the old file; no
// work file stays behind.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/replace/Convert.h"
#include "engine/IoError.h"
#include "engine/pass/LinePass.h"
#include "engine/platform/WorkNames.h"
#include "tests/hardening/HardeningSupport.h"

namespace dxfkonv::hardening {
namespace {

// An errno no code path treats specially, so a report of it is surely the
// one injected.
constexpr int kInjected = EREMOTEIO;

ConversionSwitches allOn(bool backup = true)
{
    ConversionSwitches s;  // recode "lw", 256 colours "sa"
    s.keepBackup = backup;
    return s;
}

// A directory with one drawing in it, and what is expected of it.
struct Scene {
    enum class Layout { kLinkBackup, kCopyBackup, kNoBackup, kThroughSymlink };

    explicit Scene(Layout l, std::size_t bytes = 600 * 1024) : layout(l)
    {
        old = makeDrawing(bytes, 7);
        converted = ConvertBuffer(old, switches());
        reset();
    }

    ConversionSwitches switches() const { return allOn(layout != Layout::kNoBackup); }

    // Puts the drawing (and an earlier backup) back as they were.
    void reset()
    {
        for (const auto& n : dir.names())
            if (n != "data" && n != "alias")
                ::unlink((dir / n).c_str());
        std::string file = dir / name;
        if (layout == Layout::kThroughSymlink) {
            ::mkdir((dir / "data").c_str(), 0755);
            file = dir / "data/real.dxf";
            ::unlink(file.c_str());
            EXPECT_EQ(::symlink("data/real.dxf", (dir / name).c_str()), 0);
        }
        writeFile(file, old);
        writeFile(dir / "plan.old", previousBackup);
        if (layout == Layout::kCopyBackup) {
            // A second name for the file: no hard link can stand for the backup.
            ::mkdir((dir / "alias").c_str(), 0755);
            ::unlink((dir / "alias/plan.dxf").c_str());
            EXPECT_EQ(::link(file.c_str(), (dir / "alias/plan.dxf").c_str()), 0);
        }
        namesBefore = dir.names();
    }

    std::string content() const { return readFile(dir / name); }

    Outcome convert(FileSystem& ops) const
    {
        return runHere([&] { return Convert(dir.path(), name, switches(), {}, ops); });
    }

    void expectUntouched(const std::string& where) const
    {
        SCOPED_TRACE(where);
        EXPECT_TRUE(content() == old) << "the drawing changed";
        expectBackupSound();
        expectNoWorkFiles();
        EXPECT_EQ(dir.names(), namesBefore);
        if (layout == Layout::kThroughSymlink)
            expectLinkKept();
    }

    void expectConverted(const std::string& where) const
    {
        SCOPED_TRACE(where);
        EXPECT_TRUE(content() == converted) << "the drawing is not fully converted";
        if (layout != Layout::kNoBackup) {
            EXPECT_TRUE(readFile(dir / "plan.old") == old) << "the backup is not the old drawing";
        } else {
            EXPECT_EQ(readFile(dir / "plan.old"), previousBackup);
        }
        expectNoWorkFiles();
        EXPECT_EQ(dir.names(), namesBefore);
        if (layout == Layout::kThroughSymlink)
            expectLinkKept();
    }

    // Neither beside the name nor beside a link's target.
    void expectNoWorkFiles() const
    {
        EXPECT_EQ(workFileNames(dir.names()), std::vector<std::string>{}) << "work file left behind";
        if (layout == Layout::kThroughSymlink) {
            EXPECT_EQ(dir.names("data"), std::vector<std::string>{"real.dxf"});
        }
    }

    // The backup name holds the earlier backup or the complete old drawing.
    void expectBackupSound() const
    {
        const bool hadBackup = std::count(namesBefore.begin(), namesBefore.end(), "plan.old") == 1;
        if (!exists(dir / "plan.old")) {
            EXPECT_FALSE(hadBackup) << "the earlier backup is gone";
            return;
        }
        const std::string backup = readFile(dir / "plan.old");
        EXPECT_TRUE((hadBackup && backup == previousBackup) || backup == old) << "the backup is damaged";
    }

    void expectLinkKept() const
    {
        struct stat st{};
        ASSERT_EQ(::lstat((dir / name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the symbolic link was replaced";
    }

    Layout layout;
    ScratchDir dir;
    std::string name = "plan.dxf";
    std::string old;
    std::string converted;
    std::string previousBackup = "an earlier backup\r\n";
    std::vector<std::string> namesBefore;
};

std::string layoutName(Scene::Layout l)
{
    switch (l) {
    case Scene::Layout::kLinkBackup: return "LinkBackup";
    case Scene::Layout::kCopyBackup: return "CopyBackup";
    case Scene::Layout::kNoBackup: return "NoBackup";
    case Scene::Layout::kThroughSymlink: return "ThroughSymlink";
    }
    return "?";
}

void PrintTo(Scene::Layout l, std::ostream* os) { *os << layoutName(l); }

// Small reads and writes, so that failing "the 3rd read" lands mid-file.
// Fails the nth call of kind `which` that looks up the name `on` (any call
// when null) with `err`; a close is counted from the pass's first write on,
// after the directories on the way to the drawing were opened and closed.
std::function<int(Op, int)> failAt(FaultyOps& ops, Op which, int nth, int err, const char* on = nullptr)
{
    struct Count {
        int seen = 0;
        bool written = false;
    };
    auto count = std::make_shared<Count>();
    return [&ops, which, nth, err, on, count](Op op, int) {
        count->written = count->written || op == Op::kWrite;
        if (op != which || (on && ops.lookedUp != on) || (op == Op::kClose && !count->written))
            return 0;
        return ++count->seen == nth ? err : 0;
    };
}

void cutShort(FaultyOps& ops)
{
    ops.maxRead = 128 * 1024;
    ops.maxWrite = 128 * 1024;
}

// Calls `fail` once for every call a clean pass made (as counted by
// `counter`): the operation, which of them, and a name for the messages.
void forEveryCall(const FaultyOps& counter, const std::function<void(Op, int, const std::string&)>& fail)
{
    for (int o = 0; o < static_cast<int>(Op::kCount); ++o) {
        const Op op = static_cast<Op>(o);
        for (int n = 1; n <= counter.calls(op); ++n)
            fail(op, n, std::string(opName(op)) + " #" + std::to_string(n));
    }
}

// ---- every call of a pass, failed in turn ------------------------------------

class EveryCallFails : public ::testing::TestWithParam<Scene::Layout> {};

TEST_P(EveryCallFails, DrawingStaysWholeAndTheErrorIsReported)
{
    Scene scene(GetParam());

    // How many calls of each kind a clean pass makes.
    FaultyOps counter;
    cutShort(counter);
    ASSERT_EQ(scene.convert(counter).kind, Outcome::kConverted);
    scene.expectConverted("clean pass");
    scene.reset();

    std::ostringstream survived;
    std::set<Op> survivedOps;
    int failures = 0;
    forEveryCall(counter, [&](Op op, int n, const std::string& where) {
        FaultyOps ops;
        cutShort(ops);
        std::string failedName;
        ops.fault = [&](Op which, int nth) {
            if (which != op || nth != n)
                return 0;
            failedName = ops.lookedUp;
            return kInjected;
        };
        const Outcome outcome = scene.convert(ops);
        if (outcome.kind == Outcome::kConverted) {
            // Only calls whose failure cannot hurt may go unreported:
            // the flush of the directory after the replace, and the
            // look at the system's view of the unnamed work file (a
            // named one is made instead).
            survived << where << "; ";
            if (failedName.rfind("/proc/self/fd/", 0) != 0)
                survivedOps.insert(op);
            scene.expectConverted(where);
        } else if (outcome.kind == Outcome::kNotFound) {
            // A file whose status cannot be read is passed over, as a
            // missing one is; it must be the very first look at it.
            EXPECT_TRUE(op == Op::kStat && n == 1) << where;
            scene.expectUntouched(where);
        } else {
            ++failures;
            EXPECT_EQ(outcome.kind, Outcome::kIoError) << where << ": " << describe(outcome);
            EXPECT_EQ(outcome.code, kInjected) << where << ": " << describe(outcome);
            EXPECT_EQ(outcome.text, "I/O error " + std::to_string(kInjected) + ".") << where;
            scene.expectUntouched(where);
        }
        scene.reset();
    });
    EXPECT_GT(failures, 10);
    ::testing::Test::RecordProperty("survived", survived.str());
    // Losing data on the way must never go unnoticed.
    for (Op must : {Op::kOpen, Op::kRead, Op::kPread, Op::kWrite, Op::kRename, Op::kLink, Op::kFutimens,
                    Op::kFchmod, Op::kAccess, Op::kFstat, Op::kStat, Op::kFlock, Op::kFchown,
                    Op::kCopyAttributes, Op::kReadlink})
        EXPECT_EQ(survivedOps.count(must), 0u) << opName(must) << " failed unnoticed: " << survived.str();
}

INSTANTIATE_TEST_SUITE_P(Layouts, EveryCallFails,
                         ::testing::Values(Scene::Layout::kLinkBackup, Scene::Layout::kCopyBackup,
                                           Scene::Layout::kNoBackup, Scene::Layout::kThroughSymlink),
                         [](const auto& i) { return layoutName(i.param); });

// The same in a batch whose drawings overlap, where a drawing's last
// steps run on the batch's thread and their failure arrives later: the
// drawing still comes out whole, and every failure is reported.
TEST(FaultMatrix, EveryCallFailsInAnOverlappingBatch)
{
    Scene scene(Scene::Layout::kLinkBackup);
    auto convert = [&](FileSystem& ops) {
        return runHere([&] {
            return ConvertInOverlappingBatch(Drawing{scene.dir.path(), scene.name}, scene.switches(), ops);
        });
    };
    FaultyOps counter;
    cutShort(counter);
    ASSERT_EQ(convert(counter).kind, Outcome::kConverted);
    scene.expectConverted("clean pass");
    scene.reset();
    int failures = 0;
    forEveryCall(counter, [&](Op op, int n, const std::string& where) {
        FaultyOps ops;
        cutShort(ops);
        ops.fault = [&](Op which, int nth) { return which == op && nth == n ? kInjected : 0; };
        const Outcome outcome = convert(ops);
        if (outcome.kind == Outcome::kConverted) {
            scene.expectConverted(where);
        } else {
            ++failures;
            EXPECT_EQ(outcome.code, kInjected) << where << ": " << describe(outcome);
            scene.expectUntouched(where);
        }
        scene.reset();
    });
    EXPECT_GT(failures, 10);
}

// The same for a conversion into another file: the input never changes,
// the output holds its earlier content or the whole conversion.
TEST(FaultMatrix, EveryCallFailsWhenConvertingIntoAnotherFile)
{
    for (const bool outputExists : {false, true}) {
        SCOPED_TRACE(outputExists ? "output replaced" : "output new");
        ScratchDir dir;
        const std::string old = makeDrawing(300 * 1024, 8);
        const std::string converted = ConvertBuffer(old, allOn(false));
        const std::string earlier = "an earlier output\r\n";
        auto reset = [&] {
            for (const auto& n : dir.names())
                ::unlink((dir / n).c_str());
            writeFile(dir / "in.dxf", old);
            if (outputExists)
                writeFile(dir / "out.dxf", earlier);
        };
        auto convert = [&](FileSystem& ops) {
            return runHere([&] { return ConvertToFile(Drawing::FromPath(dir / "in.dxf"), Drawing::FromPath(dir / "out.dxf"), allOn(false), {}, ops); });
        };
        reset();
        FaultyOps counter;
        cutShort(counter);
        ASSERT_EQ(convert(counter).kind, Outcome::kConverted);
        forEveryCall(counter, [&](Op op, int n, const std::string& where) {
            reset();
            FaultyOps ops;
            cutShort(ops);
            ops.fault = [&](Op which, int nth) { return which == op && nth == n ? kInjected : 0; };
            const Outcome outcome = convert(ops);
            EXPECT_TRUE(readFile(dir / "in.dxf") == old) << where;
            std::vector<std::string> expectedNames = {"in.dxf", "out.dxf"};
            if (outcome.kind == Outcome::kConverted) {
                EXPECT_TRUE(readFile(dir / "out.dxf") == converted) << where;
            } else {
                EXPECT_EQ(outcome.code, kInjected) << where << ": " << describe(outcome);
                if (outputExists) {
                    EXPECT_EQ(readFile(dir / "out.dxf"), earlier) << where;
                } else {
                    expectedNames = {"in.dxf"};
                }
            }
            EXPECT_EQ(dir.names(), expectedNames) << where;
        });
    }
}

// When the work file cannot be removed either, the error the user sees is
// still the first one, the drawing and backup are still whole, and what
// stays behind is only the work file, which does not stop the next pass.
TEST(FaultMatrix, WorkFileThatCannotBeRemovedHidesNothing)
{
    Scene scene(Scene::Layout::kLinkBackup);
    const struct {
        Op op;
        int nth;
    } points[] = {{Op::kRead, 2}, {Op::kWrite, 3}, {Op::kFsync, 1}, {Op::kClose, 1},
                  {Op::kLink, 1}, {Op::kRename, 1}, {Op::kRename, 2}};
    for (const auto& p : points) {
        const std::string where = std::string(opName(p.op)) + " #" + std::to_string(p.nth);
        FaultyOps ops;
        cutShort(ops);
        const auto injected = failAt(ops, p.op, p.nth, kInjected);
        ops.fault = [&](Op op, int nth) { return op == Op::kUnlink ? EBUSY : injected(op, nth); };
        const Outcome outcome = scene.convert(ops);
        EXPECT_EQ(outcome.code, kInjected) << where << ": " << describe(outcome);
        EXPECT_TRUE(scene.content() == scene.old) << where;
        scene.expectBackupSound();
        for (const auto& n : scene.dir.names())
            EXPECT_TRUE(std::count(scene.namesBefore.begin(), scene.namesBefore.end(), n) == 1
                        || n.rfind(kWorkFileName, 0) == 0)
                << where << ": stray " << n;

        // The next pass gets past the leftover.
        const std::vector<std::string> leftovers = workFileNames(scene.dir.names());
        std::map<std::string, std::string> leftoverContent;
        for (const auto& n : leftovers)
            leftoverContent[n] = readFile(scene.dir / n);
        ASSERT_EQ(runHere([&] {
                      return Convert(scene.dir.path(), scene.name, scene.switches(), {}, SystemFileSystem());
                  }).kind,
                  Outcome::kConverted)
            << where;
        EXPECT_TRUE(scene.content() == scene.converted) << where;
        for (const auto& [n, c] : leftoverContent)
            EXPECT_TRUE(readFile(scene.dir / n) == c) << where << ": leftover " << n << " was changed";
        scene.reset();
    }
}

// Interrupted and short reads and writes are no failures.
TEST(FaultMatrix, InterruptedAndShortCallsStillConvert)
{
    Scene scene(Scene::Layout::kCopyBackup, 300 * 1024);
    FaultyOps ops;
    ops.interruptEveryOther = true;
    ops.maxRead = 1000;
    ops.maxWrite = 777;
    ASSERT_EQ(scene.convert(ops).kind, Outcome::kConverted);
    scene.expectConverted("EINTR and short calls");
}

// ---- the same points, failing the way the system fails -------------------------

struct Expected {
    int code;
    const char* text;
};

void expectError(const Outcome& o, Expected e)
{
    EXPECT_EQ(o.kind, Outcome::kIoError) << describe(o);
    EXPECT_EQ(o.code, e.code) << describe(o);
    EXPECT_EQ(o.text, e.text);
}

constexpr Expected kDenied{kFileAccessDenied, "File access denied."};
constexpr Expected kFull{kDiskFull, "Disk full."};

// A scene whose directory and file belong to the unprivileged actor.
std::unique_ptr<Scene> actorScene(Scene::Layout layout = Scene::Layout::kLinkBackup,
                                  std::size_t bytes = 200 * 1024)
{
    auto scene = std::make_unique<Scene>(layout, bytes);
    giveToActor(scene->dir.path());
    for (const auto& n : scene->dir.names())
        giveToActor(scene->dir / n);
    return scene;
}

Outcome convertAsActor(const Scene& scene, ChildOptions options = {})
{
    options.dropPrivileges = true;
    return runInChild([&] { return Convert(scene.dir.path(), scene.name, scene.switches(), {}, SystemFileSystem()); },
                      options);
}

TEST(RealFailures, OpenInputWithoutReadPermission)
{
    auto scene = actorScene();
    ::chmod((scene->dir / scene->name).c_str(), 0200);
    expectError(convertAsActor(*scene), kDenied);
    ::chmod((scene->dir / scene->name).c_str(), 0644);
    scene->expectUntouched("no read permission");
}

TEST(RealFailures, OpenInputWithNoDescriptorLeft)
{
#ifdef DXFKONV_SANITIZED
    // The undefined-behaviour checker opens a pipe to look at memory; with
    // no descriptor left it reports every object as broken.
    GTEST_SKIP() << "needs descriptors the sanitizers' runtime takes; the plain build runs it";
#endif
    Scene scene(Scene::Layout::kLinkBackup, 100 * 1024);
    ChildOptions options;
    options.openFilesLimit = 0;  // the next open fails
    const Outcome o = runInChild(
        [&] { return Convert(scene.dir.path(), scene.name, scene.switches(), {}, SystemFileSystem()); }, options);
    expectError(o, {kTooManyOpenFiles, "Too many open files."});
    scene.expectUntouched("EMFILE");
}

TEST(RealFailures, NoThreadForReadingAndWritingStillConverts)
{
    // With no process left to the user, reading ahead and writing behind
    // cannot start their threads; the pass reads and writes itself.
    auto scene = actorScene(Scene::Layout::kLinkBackup, 5 * 1024 * 1024);
    ChildOptions options;
    options.processLimit = 0;
    const Outcome o = convertAsActor(*scene, options);
    ASSERT_EQ(o.kind, Outcome::kConverted) << describe(o);
    scene->expectConverted("RLIMIT_NPROC");

    // Nor can a batch whose drawings overlap start its thread for their
    // last steps: they run at once, and their outcome still arrives.
    scene->reset();
    for (const auto& n : scene->dir.names())
        giveToActor(scene->dir / n);
    options.dropPrivileges = true;
    const Outcome batched = runInChild(
        [&] {
            int outcomes = 0;
            Batch batch([&](const Batch::Outcome& outcome) {
                if (outcome.failure)
                    std::rethrow_exception(outcome.failure);
                ++outcomes;
            });
            PassReport r = Convert(Drawing{scene->dir.path(), scene->name}, scene->switches(), {}, SystemFileSystem(), &batch);
            batch.finish();
            if (!r.pending || outcomes != 1)
                throw std::logic_error("the outcome did not arrive once");
            return r;
        },
        options);
    ASSERT_EQ(batched.kind, Outcome::kConverted) << describe(batched);
    scene->expectConverted("RLIMIT_NPROC, overlapping batch");
}

TEST(RealFailures, OpenInputThatVanishedAfterItWasFound)
{
    Scene scene(Scene::Layout::kLinkBackup, 100 * 1024);
    FaultyOps ops;
    ops.before = [&](Op op, int) {
        if (op == Op::kOpen && ops.lookedUp == scene.name)
            ::unlink((scene.dir / scene.name).c_str());
    };
    expectError(scene.convert(ops), {kFileNotOpen, "I/O error 103."});
    EXPECT_FALSE(exists(scene.dir / scene.name));
    EXPECT_EQ(workFileNames(scene.dir.names()), std::vector<std::string>{});
    scene.expectBackupSound();
}

TEST(RealFailures, CreateWorkFileInDirectoryWithoutWritePermission)
{
    auto scene = actorScene();
    ::chmod(scene->dir.path().c_str(), 0555);
    expectError(convertAsActor(*scene), kDenied);
    ::chmod(scene->dir.path().c_str(), 0755);
    scene->expectUntouched("read-only directory");
}

TEST(RealFailures, ReadOnlyFileIsRefusedEvenForRoot)
{
    Scene scene(Scene::Layout::kLinkBackup, 100 * 1024);
    ::chmod((scene.dir / scene.name).c_str(), 0444);
    expectError(
        runHere([&] { return Convert(scene.dir.path(), scene.name, scene.switches(), {}, SystemFileSystem()); }),
        kDenied);
    scene.expectUntouched("read-only file");
}

TEST(RealFailures, WriteMidwayHitsTheFileSizeLimit)
{
    // A small work file is written the ordinary way; a large one straight
    // to the disk, in blocks the limit cuts through.
    for (const std::size_t mib : {2, 6}) {
        Scene scene(Scene::Layout::kLinkBackup, mib * 1024 * 1024);
        ChildOptions options;
        options.fileSizeLimit = scene.converted.size() * 3 / 4 + 1000;
        const Outcome o = runInChild(
            [&] { return Convert(scene.dir.path(), scene.name, scene.switches(), {}, SystemFileSystem()); }, options);
        expectError(o, kFull);
        scene.expectUntouched("RLIMIT_FSIZE, " + std::to_string(mib) + " MiB");
    }
}

TEST(RealFailures, BackupCopyHitsTheFileSizeLimit)
{
    // With a second name the backup is a copy; the converted drawing is
    // smaller than the old one, so the limit lets the work file through
    // and stops the copy.
    Scene scene(Scene::Layout::kCopyBackup, 1024 * 1024);
    ASSERT_LT(scene.converted.size() + 4096, scene.old.size());
    ChildOptions options;
    options.fileSizeLimit = (scene.converted.size() + scene.old.size()) / 2;
    const Outcome o = runInChild(
        [&] { return Convert(scene.dir.path(), scene.name, scene.switches(), {}, SystemFileSystem()); }, options);
    expectError(o, kFull);
    scene.expectUntouched("RLIMIT_FSIZE in the backup copy");
}

TEST(RealFailures, BackupNameTakenByDirectory)
{
    Scene scene(Scene::Layout::kLinkBackup, 100 * 1024);
    ::unlink((scene.dir / "plan.old").c_str());
    ASSERT_EQ(::mkdir((scene.dir / "plan.old").c_str(), 0755), 0);
    writeFile(scene.dir / "plan.old/inside.txt", "kept\n");
    scene.namesBefore = scene.dir.names();
    const Outcome o =
        runHere([&] { return Convert(scene.dir.path(), scene.name, scene.switches(), {}, SystemFileSystem()); });
    expectError(o, {kInvalidFilename, "Invalid filename."});
    EXPECT_TRUE(scene.content() == scene.old);
    EXPECT_EQ(scene.dir.names(), scene.namesBefore);
    EXPECT_EQ(readFile(scene.dir / "plan.old/inside.txt"), "kept\n");
}

// An input behind a directory the user may not enter, converted into
// another file, is reported as denied, not as missing.
TEST(FoundByHardening, UnreadableInputIsNotReportedMissing)
{
    ScratchDir dir;
    ASSERT_EQ(::mkdir((dir / "tajne").c_str(), 0755), 0);
    writeFile(dir / "tajne/in.dxf", makeDrawing(10 * 1024, 2));
    ASSERT_EQ(::chmod((dir / "tajne").c_str(), 0), 0);
    giveToActor(dir.path());
    ChildOptions options;
    options.dropPrivileges = true;
    const Outcome o = runInChild(
        [&] {
            return ConvertToFile(Drawing::FromPath(dir / "tajne/in.dxf"), Drawing::FromPath(dir / "out.dxf"),
                                 allOn(false), {}, SystemFileSystem());
        },
        options);
    ::chmod((dir / "tajne").c_str(), 0755);
    expectError(o, kDenied);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"tajne"});
}

// The drawing's directory is moved away and a file takes its name while
// the pass runs, just before call `nth` of `when`. The pass goes on in the
// directory it opened: the drawing is converted where it now is, and the
// file that took the old name is never touched.
TEST(RealFailures, DirectoryReplacedByAFileMidPass)
{
    // Before the drawing is opened, before the work file is made, before
    // the backup link and before the replace.
    const struct {
        Op when;
        int nth;
        const char* on;
    } points[] = {{Op::kOpen, 1, "plan.dxf"}, {Op::kOpen, 1, "."}, {Op::kLink, 1, nullptr}, {Op::kRename, 1, nullptr}};
    for (const auto& p : points) {
        const std::string where = std::string(opName(p.when)) + " #" + std::to_string(p.nth);
        ScratchDir top;
        ASSERT_EQ(::mkdir((top / "vykresy").c_str(), 0755), 0);
        const std::string old = makeDrawing(100 * 1024, 9);
        writeFile(top / "vykresy/plan.dxf", old);
        FaultyOps ops;
        int seen = 0;
        ops.before = [&](Op op, int) {
            if (op == p.when && (!p.on || ops.lookedUp == p.on) && ++seen == p.nth) {
                ::rename((top / "vykresy").c_str(), (top / "moved").c_str());
                writeFile(top / "vykresy", "not a directory\n");
            }
        };
        const Outcome o = runHere([&] { return Convert(top / "vykresy", "plan.dxf", ConversionSwitches{}, {}, ops); });
        ASSERT_EQ(o.kind, Outcome::kConverted) << where << ": " << describe(o);
        EXPECT_TRUE(readFile(top / "moved/plan.dxf") == ConvertBuffer(old, ConversionSwitches{})) << where;
        EXPECT_TRUE(readFile(top / "moved/plan.old") == old) << where;
        EXPECT_EQ(readFile(top / "vykresy"), "not a directory\n") << where;
        EXPECT_EQ(top.names(), (std::vector<std::string>{"moved", "vykresy"})) << where;
        EXPECT_EQ(top.names("moved"), (std::vector<std::string>{"plan.dxf", "plan.old"})) << where;
    }
}

// In a shared directory with the sticky bit (like /tmp) a user may write
// another user's file but not replace it.
void stickyDirectoryScene(bool backup, const std::function<void(Scene&, const Outcome&)>& check)
{
    Scene scene(backup ? Scene::Layout::kLinkBackup : Scene::Layout::kNoBackup, 100 * 1024);
    ::unlink((scene.dir / "plan.old").c_str());
    scene.namesBefore = scene.dir.names();
    ::chmod(scene.dir.path().c_str(), 01777);
    ::chmod((scene.dir / scene.name).c_str(), 0666);
    const Outcome o = convertAsActor(scene);
    check(scene, o);
}

TEST(RealFailures, ReplaceRefusedInStickyDirectory)
{
    if (!runningAsRoot())
        GTEST_SKIP() << "needs root to set up a file of another user";
    stickyDirectoryScene(false, [](Scene& scene, const Outcome& o) {
        expectError(o, kDenied);
        scene.expectUntouched("sticky directory");
    });
}

// The same with a backup: a hard link made under a temporary name could
// be neither renamed nor removed by the user there, and would stay.
TEST(FoundByHardening, StickyDirectoryWithBackupLeavesNothingBehind)
{
    if (!runningAsRoot())
        GTEST_SKIP() << "needs root to set up a file of another user";
    stickyDirectoryScene(true, [](Scene& scene, const Outcome& o) {
        expectError(o, kDenied);
        EXPECT_TRUE(scene.content() == scene.old);
        std::vector<std::string> now = scene.dir.names();
        if (exists(scene.dir / "plan.old")) {
            EXPECT_TRUE(readFile(scene.dir / "plan.old") == scene.old);
            now.erase(std::find(now.begin(), now.end(), "plan.old"));
        }
        EXPECT_EQ(now, scene.namesBefore);
    });
}

// ---- the seam, with the errors the system would give -----------------------------

struct SeamCase {
    const char* name;
    Op op;
    int nth;
    int err;
    Expected expected;
    const char* on = nullptr;
};


void PrintTo(const SeamCase& c, std::ostream* os) { *os << c.name; }

class SeamFailures : public ::testing::TestWithParam<SeamCase> {};

TEST_P(SeamFailures, ReportedWithTheirNumberAndText)
{
    const SeamCase& c = GetParam();
    Scene scene(Scene::Layout::kLinkBackup);
    FaultyOps ops;
    cutShort(ops);
    ops.fault = failAt(ops, c.op, c.nth, c.err, c.on);
    expectError(scene.convert(ops), c.expected);
    scene.expectUntouched(c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Points, SeamFailures,
    ::testing::Values(SeamCase{"ReadFailsMidway", Op::kRead, 3, EIO, {EIO, "I/O error 5."}},
                      SeamCase{"WriteDiskFull", Op::kWrite, 2, ENOSPC, kFull},
                      SeamCase{"WriteQuota", Op::kWrite, 4, EDQUOT, kFull},
                      SeamCase{"FlushFails", Op::kFsync, 1, EIO, {EIO, "I/O error 5."}},
                      SeamCase{"CloseReportsQuota", Op::kClose, 1, EDQUOT, kFull},
                      SeamCase{"BackupLinkDenied", Op::kLink, 1, EACCES, kDenied},
                      SeamCase{"BackupRenameFails", Op::kRename, 1, EIO, {EIO, "I/O error 5."}},
                      SeamCase{"ReplaceAcrossDevices", Op::kRename, 2, EXDEV, {EXDEV, "I/O error 18."}},
                      SeamCase{"ReplaceBusy", Op::kRename, 2, EBUSY, {EBUSY, "I/O error 16."}},
                      SeamCase{"OpenInputTooMany", Op::kOpen, 1, ENFILE, {kTooManyOpenFiles, "Too many open files."}},
                      SeamCase{"CreateWorkReadOnlyFs", Op::kOpen, 1, EROFS, kDenied, "."},
                      SeamCase{"InputGoneAtOpen", Op::kOpen, 1, ENOENT, {kFileNotOpen, "I/O error 103."}, "plan.dxf"}),
    [](const auto& i) { return std::string(i.param.name); });

// Besides the message table's number and text, a failure says what
// failed: the step, the name it worked on, and the system's own words or
// what the pass found.
TEST(FaultMatrix, FailuresSayWhatFailed)
{
    const struct {
        const char* name;
        Op op;
        int nth;
        int err;
        int code;
        FailureDetail detail;
    } cases[] = {
        {"disk full", Op::kWrite, 2, ENOSPC, kDiskFull, {"writing the work file", "", "No space left on device"}},
        {"flush fails", Op::kFsync, 1, EIO, EIO, {"putting the work file on the disk", "", "Input/output error"}},
        {"backup denied", Op::kLink, 1, EACCES, kFileAccessDenied, {"keeping the backup", "plan.old", "Permission denied"}},
        {"replace busy", Op::kRename, 2, EBUSY, EBUSY, {"replacing", "plan.dxf", "Device or resource busy"}},
        {"read fails", Op::kRead, 2, EIO, EIO, {"reading the drawing", "", "Input/output error"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scene scene(Scene::Layout::kLinkBackup);
        FaultyOps ops;
        cutShort(ops);
        ops.fault = failAt(ops, c.op, c.nth, c.err);
        try {
            Convert(scene.dir.path(), scene.name, scene.switches(), {}, ops);
            ADD_FAILURE() << "converted";
        } catch (const IoError& e) {
            EXPECT_EQ(e.code(), c.code);
            EXPECT_EQ(e.detail().step, c.detail.step);
            EXPECT_EQ(e.detail().name, c.detail.name);
            EXPECT_EQ(e.detail().reason, c.detail.reason);
        }
        scene.expectUntouched(c.name);
    }

    // What the pass itself finds has words of its own.
    Scene scene(Scene::Layout::kLinkBackup);
    const int held = ::open((scene.dir / scene.name).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    try {
        Convert(scene.dir.path(), scene.name, scene.switches(), {}, SystemFileSystem());
        ADD_FAILURE() << "converted";
    } catch (const IoError& e) {
        EXPECT_STREQ(e.what(), "I/O error 32.");
        EXPECT_EQ(e.detail().reason, "another program holds it");
    }
    ::close(held);
}

// A line of the code-page run too varied to hold while its end is awaited
// is read ahead through the drawing's own descriptor, in short reads: the
// drawing is converted as it would be whole. Where that read fails, the
// pass fails and the drawing stays as it was.
TEST(FaultMatrix, LineReadAheadThroughTheDrawing)
{
    ScratchDir dir;
    std::string varied;
    for (int i = 0; i < 600000; ++i)
        varied += "xy";
    const std::string drawing = "  9\r\n$DWGCODEPAGE\r\n  4\r\n" + varied + "ansi\r\n  9\r\n$X\r\n  0\r\nEOF\r\n";
    ConversionSwitches switches;
    switches.keepBackup = false;
    {
        writeFile(dir / "plan.dxf", drawing);
        FaultyOps ops;
        cutShort(ops);
        ops.interruptEveryOther = true;
        Convert(dir.path(), "plan.dxf", switches, {}, ops);
        EXPECT_EQ(readFile(dir / "plan.dxf"), "  9\r\n$DWGCODEPAGE\r\n  4\r\nANSI_1250\r\n  9\r\n$X\r\n  0\r\nEOF\r\n");
        EXPECT_GT(ops.calls(Op::kPread), 1);
    }
    writeFile(dir / "plan.dxf", drawing);
    FaultyOps ops;
    cutShort(ops);
    ops.fault = failAt(ops, Op::kPread, 1, EIO);
    try {
        Convert(dir.path(), "plan.dxf", switches, {}, ops);
        ADD_FAILURE() << "converted";
    } catch (const IoError& e) {
        EXPECT_EQ(e.code(), EIO);
        EXPECT_EQ(e.detail().step, "reading the drawing ahead");
    }
    EXPECT_TRUE(readFile(dir / "plan.dxf") == drawing);
}

// A backup that cannot be linked is copied instead, times kept.
TEST(FaultMatrix, BackupFallsBackToCopyWhereNoLinkCanBeMade)
{
    Scene scene(Scene::Layout::kLinkBackup);
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (scene.dir / scene.name).c_str(), times, 0), 0);
    for (int err : {EXDEV, EPERM, EMLINK, EOPNOTSUPP}) {
        FaultyOps ops;
        ops.fault = [&](Op op, int) {
            return op == Op::kLink && ops.lookedUp.rfind(backupLinkName(0), 0) == 0 ? err : 0;
        };
        ASSERT_EQ(scene.convert(ops).kind, Outcome::kConverted) << err;
        scene.expectConverted("link fails with " + std::to_string(err));
        EXPECT_GT(ops.calls(Op::kPread), 0);
        struct stat st{};
        ASSERT_EQ(::stat((scene.dir / "plan.old").c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
        scene.reset();
        ASSERT_EQ(::utimensat(AT_FDCWD, (scene.dir / scene.name).c_str(), times, 0), 0);
    }
}

}  // namespace
}  // namespace dxfkonv::hardening
