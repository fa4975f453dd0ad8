// Converting in place where others may act at the same time: names swapped
// for links between two steps of a pass, links planted in shared
// directories, a second pass on the same drawing, a pass killed or
// interrupted, and what a drawing carries beside its bytes (access control
// lists, extended attributes).

#include <acl/libacl.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/replace/Convert.h"
#include "engine/IoError.h"
#include "tests/hardening/HardeningSupport.h"

namespace dxfkonv::hardening {
namespace {

struct stat statOf(const std::string& path)
{
    struct stat st{};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// A file of somebody else's that a pass must never touch.
struct Victim {
    explicit Victim(const ScratchDir& dir) : path(dir / "tajne/target.conf")
    {
        ::mkdir((dir / "tajne").c_str(), 0700);
        writeFile(path, content);
        ::chmod(path.c_str(), 0600);
        before = statOf(path);
    }
    void expectUntouched() const
    {
        EXPECT_EQ(readFile(path), content);
        const struct stat now = statOf(path);
        EXPECT_EQ(now.st_ino, before.st_ino);
        EXPECT_EQ(now.st_uid, before.st_uid);
        EXPECT_EQ(now.st_mode, before.st_mode);
    }
    std::string path;
    std::string content = "secret=1\n";
    struct stat before{};
};

// ---- a name changes between two steps of a pass ---------------------------------

// The drawing is reached through a link, as a user who owns the directory
// may set it up; just before one step of the pass, the name the pass found
// is given to something else. The pass must neither follow the new name
// to another file nor put its result there.
TEST(SafeReplace, NameSwappedBetweenTwoStepsIsNeverFollowed)
{
    enum class Swap { kLinkToVictim, kOtherFile };
    const struct {
        const char* name;
        Op op;          // the swap comes just before this call ...
        int nth;        // ... the nth of it that looks up the drawing's name (0: any call)
        Swap swap;
        int code;       // the error the pass must end with
    } cases[] = {
        {"link between looking and opening", Op::kOpen, 1, Swap::kLinkToVictim, kFileAccessDenied},
        {"other file between opening and locking", Op::kFlock, 0, Swap::kOtherFile, kFileInUse},
        {"link after the pass, before the replace", Op::kCopyAttributes, 0, Swap::kLinkToVictim, kFileInUse},
        {"other file after the pass, before the replace", Op::kCopyAttributes, 0, Swap::kOtherFile, kFileInUse},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const Victim victim(dir);
        ASSERT_EQ(::mkdir((dir / "vykresy").c_str(), 0755), 0);
        const std::string old = makeDrawing(64 * 1024, 3);
        writeFile(dir / "vykresy/real.dxf", old);
        ASSERT_EQ(::symlink("vykresy/real.dxf", (dir / "x.dxf").c_str()), 0);
        const std::string other = "an attacker's file\r\n";

        FaultyOps ops;
        int seen = 0;
        bool swapped = false;
        ops.before = [&](Op op, int) {
            if (op != c.op || swapped || (c.nth != 0 && (ops.lookedUp != "real.dxf" || ++seen != c.nth)))
                return;
            swapped = true;
            ::rename((dir / "vykresy/real.dxf").c_str(), (dir / "vykresy/moved.dxf").c_str());
            if (c.swap == Swap::kLinkToVictim)
                EXPECT_EQ(::symlink(victim.path.c_str(), (dir / "vykresy/real.dxf").c_str()), 0);
            else
                writeFile(dir / "vykresy/real.dxf", other);
        };
        const Outcome o = runHere([&] { return Convert(dir.path(), "x.dxf", ConversionSwitches{}, {}, ops); });
        ASSERT_TRUE(swapped);
        EXPECT_EQ(o.kind, Outcome::kIoError) << describe(o);
        EXPECT_EQ(o.code, c.code) << describe(o);
        victim.expectUntouched();
        EXPECT_EQ(readFile(dir / "vykresy/moved.dxf"), old);
        if (c.swap == Swap::kOtherFile) {
            EXPECT_EQ(readFile(dir / "vykresy/real.dxf"), other);
        }
        EXPECT_EQ(dir.names("vykresy"), (std::vector<std::string>{"moved.dxf", "real.dxf"}));
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"tajne", "vykresy", "x.dxf"}));
    }
}

// ---- links planted in a shared directory --------------------------------------------

// In a world-writable directory with the sticky bit, like /tmp, a link
// that neither the caller nor the directory's owner made is not followed:
// the administrator converting the directory must not rewrite what another
// user's link points at.
TEST(SafeReplace, ForeignLinkInASharedDirectoryIsNotFollowed)
{
    if (!runningAsRoot())
        GTEST_SKIP() << "needs root to plant a link of another user";
    const struct {
        const char* name;
        uid_t linkOwner;
        uid_t directoryOwner;
        bool followed;
    } cases[] = {
        {"planted by another user", actorUid(), 0, false},
        {"made by the caller", 0, 0, true},
        // ... who does not own what it leads to.
        {"made by the directory's owner", actorUid(), actorUid(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string old = makeDrawing(16 * 1024, 4);
        ASSERT_EQ(::mkdir((dir / "data").c_str(), 0755), 0);
        writeFile(dir / "data/target.dxf", old);
        ASSERT_EQ(::mkdir((dir / "shared").c_str(), 01777), 0);
        ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
        ASSERT_EQ(::chown((dir / "shared").c_str(), c.directoryOwner, c.directoryOwner), 0);
        ASSERT_EQ(::symlink((dir / "data/target.dxf").c_str(), (dir / "shared/evil.dxf").c_str()), 0);
        ASSERT_EQ(::lchown((dir / "shared/evil.dxf").c_str(), c.linkOwner, c.linkOwner), 0);

        const Outcome o =
            runHere([&] { return Convert(dir / "shared", "evil.dxf", ConversionSwitches{}, {}, SystemFileSystem()); });
        if (c.followed) {
            EXPECT_EQ(o.kind, Outcome::kConverted) << describe(o);
            EXPECT_EQ(readFile(dir / "data/target.dxf"), ConvertBuffer(old, ConversionSwitches{}));
            EXPECT_EQ(dir.names("shared"), (std::vector<std::string>{"evil.dxf", "evil.old"}));
        } else {
            EXPECT_EQ(o.kind, Outcome::kIoError) << describe(o);
            EXPECT_EQ(o.code, kFileAccessDenied) << describe(o);
            EXPECT_EQ(readFile(dir / "data/target.dxf"), old);
            EXPECT_EQ(dir.names("shared"), std::vector<std::string>{"evil.dxf"});
        }
        EXPECT_EQ(dir.names("data"), std::vector<std::string>{"target.dxf"});
    }
}

// ---- a second pass on the same drawing ---------------------------------------------------

// While one pass holds the drawing, another refuses it at once with error
// 32 and touches nothing, so the backup can never end up holding the
// converted drawing; and a drawing replaced by another program while the
// pass took hold of it is refused the same way.
TEST(SafeReplace, SecondPassOnTheSameDrawingIsRefused)
{
    for (const bool replacedMeanwhile : {false, true}) {
        SCOPED_TRACE(replacedMeanwhile ? "replaced while the pass took hold" : "held by another pass");
        ScratchDir dir;
        const std::string old = makeDrawing(32 * 1024, 5);
        writeFile(dir / "plan.dxf", old);
        writeFile(dir / "plan.old", "an earlier backup\r\n");
        const std::string other = "saved by another program\r\n";
        const int held = ::open((dir / "plan.dxf").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        if (!replacedMeanwhile) {
            ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        }
        FaultyOps ops;
        ops.before = [&](Op op, int) {
            if (replacedMeanwhile && op == Op::kFlock) {
                writeFile(dir / "new.dxf", other);
                ::rename((dir / "new.dxf").c_str(), (dir / "plan.dxf").c_str());
            }
        };
        const Outcome o = runHere([&] { return Convert(dir.path(), "plan.dxf", ConversionSwitches{}, {}, ops); });
        ::close(held);
        EXPECT_EQ(o.kind, Outcome::kIoError) << describe(o);
        EXPECT_EQ(o.code, kFileInUse);
        EXPECT_EQ(o.text, "I/O error 32.");
        EXPECT_EQ(readFile(dir / "plan.dxf"), replacedMeanwhile ? other : old);
        EXPECT_EQ(readFile(dir / "plan.old"), "an earlier backup\r\n");
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"plan.dxf", "plan.old"}));
    }
}

// ---- a pass that is killed or interrupted -----------------------------------------------

// Killed while the work file is full, just before its flush: an unnamed
// work file goes with the process; a named one (a file system without
// unnamed files) is removed on SIGINT, SIGTERM and SIGHUP, which then end
// the process as they would have. Stale work names from earlier crashes
// do not stop a pass either.
TEST(SafeReplace, KilledOrInterruptedPassLeavesNoWorkFile)
{
    const struct {
        const char* name;
        int signal;
        bool unnamed;
    } cases[] = {
        {"SIGKILL, unnamed work file", SIGKILL, true},
        {"SIGINT, named work file", SIGINT, false},
        {"SIGTERM, named work file", SIGTERM, false},
        {"SIGHUP, named work file", SIGHUP, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string old = makeDrawing(256 * 1024, 6);
        writeFile(dir / "plan.dxf", old);
        const Outcome o = runInChild([&] {
            RemoveWorkFilesOnSignals();
            FaultyOps ops;
            ops.fault = [&](Op op, int) {
                return !c.unnamed && op == Op::kOpen && ops.lookedUp == "." ? EOPNOTSUPP : 0;
            };
            ops.before = [&](Op op, int) {
                if (op == Op::kFsync)
                    ::raise(c.signal);
            };
            return Convert(dir.path(), "plan.dxf", ConversionSwitches{}, {}, ops);
        });
        EXPECT_EQ(o.kind, Outcome::kDied) << describe(o);
        EXPECT_EQ(o.signal, c.signal) << describe(o);
        EXPECT_TRUE(readFile(dir / "plan.dxf") == old);
        EXPECT_EQ(dir.names(), std::vector<std::string>{"plan.dxf"});
    }

    // A hundred stale names from an older crash.
    ScratchDir dir;
    const std::string old = makeDrawing(16 * 1024, 6);
    writeFile(dir / "plan.dxf", old);
    std::vector<std::string> stale = {kWorkFileName, std::string(kWorkFileName) + ".old"};
    for (int i = 1; i < 100; ++i)
        stale.push_back(std::string(kWorkFileName) + "." + std::to_string(i));
    for (const auto& n : stale)
        writeFile(dir / n, "stale\r\n");
    ASSERT_EQ(
        runHere([&] { return Convert(dir.path(), "plan.dxf", ConversionSwitches{}, {}, SystemFileSystem()); }).kind,
        Outcome::kConverted);
    EXPECT_EQ(readFile(dir / "plan.dxf"), ConvertBuffer(old, ConversionSwitches{}));
    EXPECT_EQ(readFile(dir / "plan.old"), old);
    EXPECT_EQ(dir.names().size(), stale.size() + 2);
    for (const auto& n : stale)
        EXPECT_EQ(readFile(dir / n), "stale\r\n") << n;
}

// ---- what a drawing carries beside its bytes ------------------------------------------------

// A drawing shared with one more user through an access control list,
// and with an extended attribute of its own, keeps both, and its group
// bits do not turn into the list's mask.
TEST(SafeReplace, AccessControlListsAndExtendedAttributesAreKept)
{
    ScratchDir dir;
    const std::string path = dir / "plan.dxf";
    writeFile(path, makeDrawing(16 * 1024, 7));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    acl_t acl = acl_from_text("u::rw-,u:65534:rw-,g::r--,m::rw-,o::---");
    ASSERT_NE(acl, nullptr);
    const int set = acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl);
    acl_free(acl);
    if (set != 0 && (errno == ENOTSUP || errno == EOPNOTSUPP))
        GTEST_SKIP() << "the file system here keeps no access control lists";
    ASSERT_EQ(set, 0);
    const char value[] = "vykres";
    const bool withAttribute = ::setxattr(path.c_str(), "user.dxfkonv.projekt", value, sizeof value - 1, 0) == 0;
    const struct stat before = statOf(path);

    ASSERT_EQ(
        runHere([&] { return Convert(dir.path(), "plan.dxf", ConversionSwitches{}, {}, SystemFileSystem()); }).kind,
        Outcome::kConverted);

    const struct stat after = statOf(path);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    acl_t now = acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
    ASSERT_NE(now, nullptr);
    char* text = acl_to_any_text(now, nullptr, ',', TEXT_NUMERIC_IDS);
    EXPECT_STREQ(text, "user::rw-,user:65534:rw-,group::r--,mask::rw-,other::---");
    acl_free(text);
    acl_free(now);
    if (withAttribute) {
        char got[32] = {};
        EXPECT_EQ(::getxattr(path.c_str(), "user.dxfkonv.projekt", got, sizeof got), 6);
        EXPECT_STREQ(got, "vykres");
    }
}

}  // namespace
}  // namespace dxfkonv::hardening
