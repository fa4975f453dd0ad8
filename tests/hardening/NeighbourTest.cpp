// What others may do to a pass: links planted in a directory they may
// write, directories swapped for links while a walk goes on, a drawing
// changed by another program while it is converted, work files that a
// killed pass left on a file system without unnamed files, and file
// systems that keep no owners.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/replace/Convert.h"
#include "engine/replace/Drawings.h"
#include "engine/IoError.h"
#include "engine/platform/WorkNames.h"
#include "tests/hardening/HardeningSupport.h"

namespace dxfkonv::hardening {
namespace {

using Names = std::vector<std::string>;

// A drawing of root's in a directory only root may enter, and the
// password file of a system: what a neighbour would like root to rewrite.
struct RootsFiles {
    explicit RootsFiles(const ScratchDir& dir)
        : scratch(dir), directory(dir / "koren"), drawing(dir / "koren/tajny.dxf")
    {
        ::mkdir(directory.c_str(), 0700);
        writeFile(drawing, content);
        writeFile(dir / "passwd", "root:x:0:0:root:/root:/bin/bash\n");
        passwd = dir / "passwd";
    }
    void expectUntouched() const
    {
        EXPECT_EQ(readFile(drawing), content);
        EXPECT_EQ(readFile(passwd), "root:x:0:0:root:/root:/bin/bash\n");
        EXPECT_EQ(scratch.names("koren"), Names{"tajny.dxf"});
    }
    const ScratchDir& scratch;
    std::string directory;
    std::string drawing;
    std::string passwd;
    std::string content = makeDrawing(8 * 1024, 11);
};

void plantLink(const std::string& target, const std::string& link, uid_t owner)
{
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
    ASSERT_EQ(::lchown(link.c_str(), owner, owner), 0) << link;
}

// In a project folder everybody may write (no sticky bit), a link is
// followed only when the caller made it, or when whoever made it owns what
// it leads to: the drawing's own link and a directory's on its way alike.
TEST(Neighbour, LinkFollowedOnlyWhereItsMakerOwnsWhatItLeadsTo)
{
    if (!runningAsRoot())
        GTEST_SKIP() << "needs root to plant links of another user";
    enum class Leads { kRootsDrawing, kPasswd, kActorsDrawing, kActorsDirectory, kRootsDirectory };
    const struct {
        const char* name;
        bool directoryLink;  // the link is a directory on the drawing's way, not the drawing
        Leads leads;
        uid_t owner;
        bool followed;
    } cases[] = {
        {"neighbour's link to root's drawing", false, Leads::kRootsDrawing, actorUid(), false},
        {"neighbour's link to the password file", false, Leads::kPasswd, actorUid(), false},
        {"neighbour's link to his own drawing", false, Leads::kActorsDrawing, actorUid(), true},
        {"root's own link to root's drawing", false, Leads::kRootsDrawing, 0, true},
        {"neighbour's directory link to root's directory", true, Leads::kRootsDirectory, actorUid(), false},
        {"neighbour's directory link to his own directory", true, Leads::kActorsDirectory, actorUid(), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const RootsFiles roots(dir);
        ASSERT_EQ(::mkdir((dir / "projekt").c_str(), 0777), 0);
        ASSERT_EQ(::chmod((dir / "projekt").c_str(), 0777), 0);
        ASSERT_EQ(::mkdir((dir / "soused").c_str(), 0755), 0);
        const std::string actors = makeDrawing(8 * 1024, 12);
        writeFile(dir / "soused/jeho.dxf", actors);
        giveToActor(dir / "soused");
        giveToActor(dir / "soused/jeho.dxf");
        std::string target;
        switch (c.leads) {
        case Leads::kRootsDrawing: target = roots.drawing; break;
        case Leads::kPasswd: target = roots.passwd; break;
        case Leads::kActorsDrawing: target = dir / "soused/jeho.dxf"; break;
        case Leads::kActorsDirectory: target = dir / "soused"; break;
        case Leads::kRootsDirectory: target = roots.directory; break;
        }
        Outcome o;
        if (c.directoryLink) {
            plantLink(target, dir / "projekt/cesta", c.owner);
            const std::string name = c.leads == Leads::kRootsDirectory ? "tajny.dxf" : "jeho.dxf";
            o = runHere(
                [&] { return Convert(dir / "projekt/cesta", name, ConversionSwitches{}, {}, SystemFileSystem()); });
        } else {
            plantLink(target, dir / "projekt/zz.dxf", c.owner);
            o = runHere(
                [&] { return Convert(dir / "projekt", "zz.dxf", ConversionSwitches{}, {}, SystemFileSystem()); });
        }
        if (!c.followed || c.leads != Leads::kRootsDrawing)
            roots.expectUntouched();
        if (c.followed) {
            EXPECT_EQ(o.kind, Outcome::kConverted) << describe(o);
        } else {
            EXPECT_EQ(o.kind, Outcome::kIoError) << describe(o);
            EXPECT_EQ(o.text, "File access denied.") << describe(o);
            EXPECT_EQ(readFile(dir / "soused/jeho.dxf"), actors);
            EXPECT_EQ(dir.names("projekt"), Names{c.directoryLink ? "cesta" : "zz.dxf"});
        }
    }
}

// A directory on the way to a drawing that is swapped for a neighbour's
// link just before the pass opens it leads the pass nowhere near root's
// files: each name is opened without following a link, and the link
// found then is judged like any other.
TEST(Neighbour, DirectorySwappedForALinkOnTheWayIsNotFollowed)
{
    if (!runningAsRoot())
        GTEST_SKIP() << "needs root to plant links of another user";
    ScratchDir dir;
    const RootsFiles roots(dir);
    ASSERT_EQ(::mkdir((dir / "projekt").c_str(), 0777), 0);
    ASSERT_EQ(::chmod((dir / "projekt").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((dir / "projekt/vykresy").c_str(), 0777), 0);
    writeFile(dir / "projekt/vykresy/tajny.dxf", makeDrawing(8 * 1024, 13));
    FaultyOps ops;
    bool swapped = false;
    ops.before = [&](Op op, int) {
        if (op != Op::kOpen || swapped || ops.lookedUp != "vykresy")
            return;
        swapped = true;
        ::rename((dir / "projekt/vykresy").c_str(), (dir / "projekt/puvodni").c_str());
        plantLink(roots.directory, dir / "projekt/vykresy", actorUid());
    };
    const Outcome o = runHere([&] { return Convert(dir / "projekt/vykresy", "tajny.dxf", ConversionSwitches{}, {}, ops); });
    ASSERT_TRUE(swapped);
    EXPECT_EQ(o.kind, Outcome::kIoError) << describe(o);
    EXPECT_EQ(o.text, "File access denied.");
    roots.expectUntouched();
}

// A walk of a tree opens each subdirectory from the one above it as it
// gets there, never through a link: a subdirectory swapped for a link
// after its parent was listed is not entered, and links to directories
// are not followed at all.
TEST(Neighbour, WalkNeverEntersALink)
{
    ScratchDir dir;
    const RootsFiles roots(dir);
    ASSERT_EQ(::mkdir((dir / "strom").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((dir / "strom/a").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((dir / "strom/b").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((dir / "strom/b/c").c_str(), 0777), 0);
    for (const char* name : {"strom/1.dxf", "strom/a/2.dxf", "strom/b/3.dxf", "strom/b/c/4.dxf"})
        writeFile(dir / name, "  0\r\nEOF\r\n");
    ASSERT_EQ(::symlink(roots.directory.c_str(), (dir / "strom/odkaz").c_str()), 0);

    for (const bool swap : {false, true}) {
        SCOPED_TRACE(swap ? "b swapped for a link after the listing" : "as it is");
        FaultyOps ops;
        ops.before = [&](Op op, int) {
            if (swap && op == Op::kOpen && ops.lookedUp == "b") {
                ::rename((dir / "strom/b").c_str(), (dir / "strom/b-old").c_str());
                EXPECT_EQ(::symlink(roots.directory.c_str(), (dir / "strom/b").c_str()), 0);
            }
        };
        Names seen;
        Names failed;
        WalkDrawings(
            dir / "strom", true, [](const std::string& x, const std::string& y) { return x < y; },
            [&](const Drawing& d) { seen.push_back(d.Path().substr(dir.path().size())); },
            [&](const std::string& path, const IoError& e) { failed.push_back(path + ": " + e.what()); }, ops);
        const Names all = {"/strom/1.dxf", "/strom/a/2.dxf", "/strom/b/3.dxf", "/strom/b/c/4.dxf"};
        EXPECT_EQ(seen, swap ? Names(all.begin(), all.begin() + 2) : all);
        EXPECT_EQ(failed, Names{});
    }
    roots.expectUntouched();
}

// A drawing that another program cuts short, writes to or saves anew
// while the pass reads it is not replaced and gets no backup: the pass's
// result would tear it, and the backup would hold neither version.
TEST(Neighbour, DrawingChangedWhileItIsConvertedIsNotReplaced)
{
    enum class Change { kTruncate, kWriteInPlace, kAppend };
    const struct {
        const char* name;
        Change change;
    } cases[] = {{"cut short", Change::kTruncate}, {"saved in place", Change::kWriteInPlace},
                 {"grown", Change::kAppend}};
    for (const std::size_t size : {std::size_t{200} * 1024, std::size_t{6} << 20}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(size) + " bytes");
            ScratchDir dir;
            const std::string path = dir / "plan.dxf";
            writeFile(path, makeDrawing(size, 14));
            writeFile(dir / "plan.old", "an earlier backup\r\n");
            FaultyOps ops;
            ops.maxRead = 64 * 1024;
            bool changed = false;
            ops.before = [&](Op op, int nth) {
                if (op != Op::kRead || nth != 2 || changed)
                    return;
                changed = true;
                const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
                if (c.change == Change::kTruncate)
                    EXPECT_EQ(::ftruncate(fd, 30000), 0);
                else if (c.change == Change::kWriteInPlace)
                    EXPECT_EQ(::pwrite(fd, "999\r\n", 5, 100), 5);
                else
                    EXPECT_EQ(::pwrite(fd, "  0\r\nEOF\r\n", 10, static_cast<off_t>(size)), 10);
                ::close(fd);
            };
            const std::string before = readFile(path);
            const Outcome o = runHere([&] { return Convert(dir.path(), "plan.dxf", ConversionSwitches{}, {}, ops); });
            ASSERT_TRUE(changed);
            EXPECT_EQ(o.kind, Outcome::kIoError) << describe(o);
            EXPECT_EQ(o.code, kChangedMeanwhile);
            EXPECT_EQ(o.text, "Changed by another program while it was converted; nothing was replaced.");
            EXPECT_EQ(readFile(dir / "plan.old"), "an earlier backup\r\n");
            EXPECT_EQ(dir.names(), (Names{"plan.dxf", "plan.old"}));
        }
    }
}

// Where a work file must have a name (no unnamed files on the file
// system), it is locked while a pass uses it, and the next pass in that
// directory removes what a killed pass left: unlocked work files and
// backup links, empty or holding a drawing. A work file another pass
// holds, the user's own file of that name and the drawing itself stay.
TEST(Neighbour, WorkFilesKilledPassesLeftAreRemoved)
{
    ScratchDir dir;
    const std::string old = makeDrawing(16 * 1024, 15);
    writeFile(dir / "plan.dxf", old);
    writeFile(dir / "razade.&&&", "  0\r\nSECTION\r\n");  // killed midway
    writeFile(dir / "razade.&&&.2", "");                  // killed at once
    writeFile(dir / "razade.&&&.zal", old);               // killed before the backup's rename
    writeFile(dir / "razade.&&&.5", "  0\r\nEOF\r\n");    // in use by another pass
    writeFile(dir / "razade.&&&.6", "mine\n");            // the user's own
    const int held = ::open((dir / "razade.&&&.5").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    FaultyOps ops;
    ops.fault = [&](Op op, int) { return op == Op::kOpen && ops.lookedUp == "." ? EOPNOTSUPP : 0; };
    ops.clockAhead = kLeftAloneSeconds + 60;  // all of them left alone long enough
    int lockedWorkFiles = 0;
    ops.before = [&](Op op, int) {
        if (op != Op::kRename)
            return;
        // Just before the replace: the named work file is locked.
        const int probe = ::open((dir / "razade.&&&").c_str(), O_RDONLY | O_CLOEXEC);
        if (probe >= 0 && ::flock(probe, LOCK_EX | LOCK_NB) != 0)
            ++lockedWorkFiles;
        if (probe >= 0)
            ::close(probe);
    };
    const Outcome o = runHere([&] { return Convert(dir.path(), "plan.dxf", ConversionSwitches{}, {}, ops); });
    ::close(held);
    ASSERT_EQ(o.kind, Outcome::kConverted) << describe(o);
    EXPECT_EQ(lockedWorkFiles, 1);
    EXPECT_EQ(readFile(dir / "plan.dxf"), ConvertBuffer(old, ConversionSwitches{}));
    EXPECT_EQ(readFile(dir / "plan.old"), old);
    EXPECT_EQ(dir.names(), (Names{"plan.dxf", "plan.old", "razade.&&&.5", "razade.&&&.6"}));
    EXPECT_EQ(readFile(dir / "razade.&&&.6"), "mine\n");
}

// A file system that keeps no owners or permissions (many that come from
// other systems answer "not supported" or "not implemented") converts as
// any other; the report says what could not be kept.
TEST(Neighbour, FileSystemWithoutOwnersStillConverts)
{
    for (const int err : {ENOSYS, ENOTSUP, EPERM}) {
        SCOPED_TRACE(err);
        ScratchDir dir;
        const std::string old = makeDrawing(16 * 1024, 16);
        writeFile(dir / "plan.dxf", old);
        FaultyOps ops;
        ops.fault = [&](Op op, int) {
            return op == Op::kFchown || op == Op::kFchmod || op == Op::kCopyAttributes ? err : 0;
        };
        const PassReport r = Convert(dir.path(), "plan.dxf", ConversionSwitches{}, {}, ops);
        EXPECT_FALSE(r.modeKept);
        EXPECT_EQ(readFile(dir / "plan.dxf"), ConvertBuffer(old, ConversionSwitches{}));
        EXPECT_EQ(readFile(dir / "plan.old"), old);
        EXPECT_EQ(dir.names(), (Names{"plan.dxf", "plan.old"}));
    }
}

}  // namespace
}  // namespace dxfkonv::hardening
