// dxfkonv-cli run as a user runs it: a real process on real files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "TestFiles.h"
#include "TinyDrawing.h"

using namespace dxfkonv;
using namespace dxfkonv::test;
using Names = std::vector<std::string>;

namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs dxfkonv-cli with `args` to its end, its output into files, or its
// stdout into `stdoutFd` when given (closed then).
Result run(const TempDir& scratch, std::vector<std::string> args, const ChildSetup& setup = {}, int stdoutFd = -1)
{
    const std::string outPath = scratch.path() + "-stdout";
    const std::string errPath = scratch.path() + "-stderr";
    const int streams[3] = {open("/dev/null", O_RDONLY | O_CLOEXEC),
                            stdoutFd >= 0 ? stdoutFd
                                          : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644),
                            open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
    const pid_t pid = start(std::move(args), streams, setup);
    for (const int fd : streams)
        close(fd);
    Result r;
    const int status = pid > 0 ? waitFor(pid) : -1;
    r.code = pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = stdoutFd >= 0 ? std::string() : readFile(outPath);
    r.err = readFile(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    return r;
}

}  // namespace

TEST(Cli, ConvertsWithTheWindowsDefaults)
{
    TempDir dir;
    const std::string old = sampleFile("plan-tarnix.dxf");
    writeFile(dir.file("PLAN.DXF"), old);
    const Result r = run(dir, {dir.file("PLAN.DXF")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("PLAN.DXF")), expectedFile("plan-tarnix.lw-256-sa.dxf"));
    EXPECT_EQ(readFile(dir.file("PLAN.old")), old);
    EXPECT_NE(r.out.find("PLAN.DXF: recoded 4 texts, renumbered 20 colours, set 1 code page value; backup PLAN.old"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "");
}

// Each option reaches the engine: every row's output would differ if the
// option were dropped. An option value ending in ".dxf" names a file in
// the scratch directory, as the drawing "t.dxf" does.
TEST(Cli, OptionsReachTheEngine)
{
    const struct {
        const char* name;
        std::string input;
        Names options;
        const char* written;  // the file to hold `expected`
        std::string expected;
        Names files;  // in the directory afterwards
    } rows[] = {
        {"defaults", kTiny, {}, "t.dxf", kTinyDefaults, {"t.dxf", "t.old"}},
        {"--text wl", kTiny, {"--text", "wl"}, "t.dxf", tinyDrawing("ANSI_852", "7", "P%%130%%159"),
         {"t.dxf", "t.old"}},
        {"--text lw, the last one", kTiny, {"--text", "wl", "--text", "lw"}, "t.dxf", kTinyDefaults,
         {"t.dxf", "t.old"}},
        {"--no-text", kTiny, {"--no-text"}, "t.dxf", tinyDrawing("ANSI_1250", "7", "P%%130\xE8"),
         {"t.dxf", "t.old"}},
        {"--palette 16", kTiny, {"--palette", "16"}, "t.dxf", tinyDrawing("ANSI_1250", "11", "P\xE9\xC0"),
         {"t.dxf", "t.old"}},
        {"--palette 256, the last one", kTiny, {"--palette", "16", "--palette", "256"}, "t.dxf", kTinyDefaults,
         {"t.dxf", "t.old"}},
        {"--palette none", kTiny, {"--palette", "none"}, "t.dxf",
         tinyDrawing("ANSI_1250", "     1", "P\xE9\xC0"), {"t.dxf", "t.old"}},
        {"--colour as", kTiny, {"--colour", "as"}, "t.dxf", tinyDrawing("ANSI_1250", "2", "P\xE9\xC0"),
         {"t.dxf", "t.old"}},
        {"--colour sa, the last one", kTiny, {"--color", "as", "--colour", "sa"}, "t.dxf", kTinyDefaults,
         {"t.dxf", "t.old"}},
        {"--palette 16 --colour as", kTiny, {"--palette", "16", "--colour", "as"}, "t.dxf",
         tinyDrawing("ANSI_1250", "9", "P\xE9\xC0"), {"t.dxf", "t.old"}},
        {"--no-backup", kTiny, {"--no-backup"}, "t.dxf", kTinyDefaults, {"t.dxf"}},
        {"-n", kTiny, {"-n"}, "t.dxf", kTiny, {"t.dxf"}},
        {"-o", kTiny, {"-o", "out.dxf"}, "out.dxf", kTinyDefaults, {"out.dxf", "t.dxf"}},
        {"sample, --text wl --palette 16 --colour as", sampleFile("plan-autocad.dxf"),
         {"--text", "wl", "--palette", "16", "--colour", "as", "--no-backup"}, "t.dxf",
         expectedFile("plan-autocad.wl-16-as.dxf"), {"t.dxf"}},
        // --no-text keeps the texts, yet the code page follows --text.
        {"sample, --no-text --text wl --palette none", sampleFile("plan-autocad.dxf"),
         {"--no-text", "--text", "wl", "--palette", "none"}, "t.dxf",
         expectedFile("plan-autocad.no-text-wl-none.dxf"), {"t.dxf", "t.old"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        writeFile(dir.file("t.dxf"), row.input);
        std::vector<std::string> args = {"-q"};
        for (const std::string& option : row.options)
            args.push_back(option.ends_with(".dxf") ? dir.file(option) : option);
        args.push_back(dir.file("t.dxf"));
        const Result r = run(dir, args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(readFile(dir.file(row.written)), row.expected);
        if (row.written != std::string("t.dxf")) {
            EXPECT_EQ(readFile(dir.file("t.dxf")), row.input);
        }
        EXPECT_EQ(dir.names(), row.files);
        if (row.files.back() == "t.old") {
            EXPECT_EQ(readFile(dir.file("t.old")), row.input);
        }
    }
}

TEST(Cli, OutputAndDryRunLeaveTheInputAlone)
{
    TempDir dir;
    const std::string old = sampleFile("plan-tarnix.dxf");
    writeFile(dir.file("in.dxf"), old);
    Result r = run(dir, {"-o", dir.file("out.dxf"), dir.file("in.dxf")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("in.dxf")), old);
    EXPECT_EQ(readFile(dir.file("out.dxf")), expectedFile("plan-tarnix.lw-256-sa.dxf"));
    EXPECT_EQ(dir.names(), (Names{"in.dxf", "out.dxf"}));

    r = run(dir, {"--dry-run", dir.file("in.dxf")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("would recode 4 texts, would renumber 20 colours, would set 1 code page value"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(readFile(dir.file("in.dxf")), old);
    EXPECT_EQ(dir.names(), (Names{"in.dxf", "out.dxf"}));
}

TEST(Cli, DirectoriesAndRecursion)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("dir.dxf").c_str(), 0755), 0);
    for (const char* name : {"b.DXF", "a.dxf", "sub/c.Dxf", "note.txt", ".hidden.dxf"})
        writeFile(dir.file(name), " 62\r\n5\r\n");
    Result r = run(dir, {"--no-backup", dir.path()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("a.dxf")), " 62\r\n4\r\n");
    EXPECT_EQ(readFile(dir.file("b.DXF")), " 62\r\n4\r\n");
    EXPECT_EQ(readFile(dir.file("sub/c.Dxf")), " 62\r\n5\r\n");
    EXPECT_EQ(readFile(dir.file("note.txt")), " 62\r\n5\r\n");
    EXPECT_EQ(readFile(dir.file(".hidden.dxf")), " 62\r\n5\r\n");
    EXPECT_LT(r.out.find("a.dxf"), r.out.find("b.DXF"));  // sorted without regard to case
    EXPECT_NE(r.out.find("2 file(s) converted, 0 failed"), std::string::npos) << r.out;

    r = run(dir, {"-r", "-q", "--no-backup", dir.path()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("sub/c.Dxf")), " 62\r\n4\r\n");
    EXPECT_EQ(readFile(dir.file("a.dxf")), " 62\r\n5\r\n");  // converted again: 4 gives 5
}

TEST(Cli, FailuresAreReportedAndTheRestGoesOn)
{
    TempDir dir;
    writeFile(dir.file("ro.dxf"), " 62\r\n5\r\n");
    ASSERT_EQ(chmod(dir.file("ro.dxf").c_str(), 0444), 0);
    writeFile(dir.file("ok.dxf"), " 62\r\n5\r\n");
    const Result r = run(dir, {dir.file("missing.dxf"), dir.file("ro.dxf"), dir.file("ok.dxf")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("dxfkonv-cli: " + dir.file("missing.dxf") + ": File not found.\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("dxfkonv-cli: " + dir.file("ro.dxf") + ": File access denied. (nobody may write it)\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(readFile(dir.file("ro.dxf")), " 62\r\n5\r\n");
    EXPECT_EQ(readFile(dir.file("ok.dxf")), " 62\r\n4\r\n");
}

TEST(Cli, DrawingsThePassRefusesAreFailuresOnTheirLine)
{
    TempDir dir;
    const std::string binary = std::string("AutoCAD Binary DXF\r\n\x1A\0", 22) + " 62\r\n5\r\n";
    const std::string utf8 = "\xEF\xBB\xBF  0\r\nSECTION\r\n 62\r\n5\r\n";
    writeFile(dir.file("bin.dxf"), binary);
    writeFile(dir.file("new.dxf"), utf8);
    writeFile(dir.file("ok.dxf"), " 62\r\n5\r\n");
    const std::string utf8Message = ": Texts in UTF-8 (AutoCAD 2007 or later) cannot be written in the DOS "
                                    "convention: save the drawing as DXF of AutoCAD 2004 or older, or convert "
                                    "without recoding texts.\n";
    for (const char* dryRun : {"-q", "-n"}) {
        const Result r = run(dir, {dryRun, "--no-backup", "--text", "wl", "--force", dir.file("bin.dxf"),
                                   dir.file("new.dxf"), dir.file("ok.dxf")});
        EXPECT_EQ(r.code, 1) << dryRun;
        EXPECT_NE(r.err.find("dxfkonv-cli: " + dir.file("bin.dxf") + ": Not an ASCII DXF file.\n"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("dxfkonv-cli: " + dir.file("new.dxf") + utf8Message), std::string::npos) << r.err;
        EXPECT_EQ(readFile(dir.file("bin.dxf")), binary);
        EXPECT_EQ(readFile(dir.file("new.dxf")), utf8);
        EXPECT_EQ(dir.names(), (Names{"bin.dxf", "new.dxf", "ok.dxf"}));
    }
    EXPECT_EQ(readFile(dir.file("ok.dxf")), " 62\r\n4\r\n");  // converted once, then only inspected
    // With texts left alone the UTF-8 file is converted, and with "lw".
    EXPECT_EQ(run(dir, {"--no-text", "--text", "wl", "--no-backup", dir.file("new.dxf")}).code, 0);
    EXPECT_EQ(readFile(dir.file("new.dxf")), "\xEF\xBB\xBF  0\r\nSECTION\r\n 62\r\n4\r\n");
    writeFile(dir.file("new.dxf"), "\xEF\xBB\xBF  1\r\nP%%253%%161li\xC5\xA1 %%c\r\n");
    EXPECT_EQ(run(dir, {"-q", "--no-backup", dir.file("new.dxf")}).code, 0);
    EXPECT_EQ(readFile(dir.file("new.dxf")), "\xEF\xBB\xBF  1\r\nP\xC5\x99\xC3\xADli\xC5\xA1 %%c\r\n");
}

// Two drawings with one backup name: each is refused on its own line,
// in a dry run too, every name in the text quoted; without a backup both
// convert.
TEST(Cli, DrawingsSharingABackupNameAreRefusedUnlessThereIsNoBackup)
{
    TempDir dir;
    ASSERT_EQ(dir.path().find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-"),
              std::string::npos)
        << "the scratch path itself would be quoted";
    const std::string odd = "a b\x1b[2J";
    const Names drawings{"PLAN.dxf", "PLAN.DXF", "PLAN", odd + ".dxf", odd + ".Dxf"};
    for (const std::string& name : drawings)
        writeFile(dir.file(name), " 62\r\n5\r\n");
    std::vector<std::string> paths;
    for (const std::string& name : drawings)
        paths.push_back(dir.file(name));
    const std::string advice = "; convert it without a backup, or rename one of them.\n";
    const std::string expected =
        "dxfkonv-cli: " + dir.file("PLAN.dxf") + ": The drawing has the same backup name PLAN.old as PLAN.DXF"
        + advice + "dxfkonv-cli: " + dir.file("PLAN.DXF")
        + ": The drawing has the same backup name PLAN.old as PLAN.dxf" + advice + "dxfkonv-cli: "
        + dir.file("PLAN") + ": The drawing has the same backup name PLAN.old as PLAN.dxf" + advice
        + "dxfkonv-cli: '" + dir.path() + "/a b'$'\\033''[2J.dxf': The drawing has the same backup name 'a b'$'\\033''[2J.old' as 'a b'$'\\033''[2J.Dxf'"
        + advice + "dxfkonv-cli: '" + dir.path() + "/a b'$'\\033''[2J.Dxf': The drawing has the same backup name 'a b'$'\\033''[2J.old' as 'a b'$'\\033''[2J.dxf'"
        + advice;
    for (const char* dryRun : {"-q", "-n"}) {
        std::vector<std::string> args{dryRun};
        args.insert(args.end(), paths.begin(), paths.end());
        const Result r = run(dir, args);
        EXPECT_EQ(r.code, 1) << dryRun;
        EXPECT_EQ(r.err, expected) << dryRun;
        EXPECT_EQ(dir.names(), (Names{"PLAN", "PLAN.DXF", "PLAN.dxf", odd + ".Dxf", odd + ".dxf"})) << dryRun;
    }
    std::vector<std::string> args{"-q", "--no-backup"};
    args.insert(args.end(), paths.begin(), paths.end());
    const Result r = run(dir, args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const std::string& name : drawings)
        EXPECT_EQ(readFile(dir.file(name)), " 62\r\n4\r\n") << name;
}

// A dry run reports what the conversion would meet: a drawing the user may
// not replace fails alike, with the same status.
TEST(Cli, TheDryRunFailsWhereTheConversionWould)
{
    TempDir dir(TempDir::Access::kEverybody);
    ASSERT_EQ(mkdir(dir.file("ro").c_str(), 0777), 0);
    ASSERT_EQ(chmod(dir.file("ro").c_str(), 0777), 0);
    writeFile(dir.file("ro/a.dxf"), " 62\r\n5\r\n");
    ASSERT_EQ(chmod(dir.file("ro/a.dxf").c_str(), 0444), 0);
    ASSERT_EQ(mkdir(dir.file("closed").c_str(), 0777), 0);
    writeFile(dir.file("closed/a.dxf"), " 62\r\n5\r\n");
    ASSERT_EQ(chmod(dir.file("closed/a.dxf").c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.file("closed").c_str(), 0555), 0);
    const ChildSetup unprivileged = geteuid() == 0 ? runningAs(User{kNobody, kNobody, {}}) : ChildSetup{};
    for (const char* dryRun : {"-q", "-n"}) {
        const Result r = run(dir, {dryRun, dir.file("ro/a.dxf"), dir.file("closed/a.dxf")}, unprivileged);
        EXPECT_EQ(r.code, 1) << dryRun;
        EXPECT_EQ(r.err, "dxfkonv-cli: " + dir.file("ro/a.dxf") + ": File access denied. (nobody may write it)\n"
                             "dxfkonv-cli: " + dir.file("closed/a.dxf")
                             + ": File access denied. (making a work file beside it: Permission denied)\n")
            << dryRun;
        EXPECT_EQ(r.out, std::string(dryRun) == "-n" ? "0 file(s) checked, 2 failed\n" : "") << dryRun;
    }
    chmod(dir.file("closed").c_str(), 0777);
    EXPECT_EQ(readFile(dir.file("ro/a.dxf")), " 62\r\n5\r\n");
    EXPECT_EQ(readFile(dir.file("closed/a.dxf")), " 62\r\n5\r\n");
    EXPECT_EQ(dir.names("ro"), (Names{"a.dxf"}));
    EXPECT_EQ(dir.names("closed"), (Names{"a.dxf"}));
}

TEST(Cli, AFolderConvertedTwiceIsRefusedTheSecondTime)
{
    TempDir dir;
    const std::string old = sampleFile("plan-tarnix.dxf");
    const std::string once = expectedFile("plan-tarnix.lw-256-sa.dxf");
    writeFile(dir.file("plan.dxf"), old);
    ASSERT_EQ(run(dir, {"-q", dir.path()}).code, 0);
    ASSERT_EQ(readFile(dir.file("plan.dxf")), once);
    ASSERT_EQ(readFile(dir.file("plan.old")), old);
    const std::string refused = "dxfkonv-cli: " + dir.file("plan.dxf")
                                + ": Already converted: the drawing declares ANSI_1250.\n";
    for (const char* dryRun : {"-q", "-n"}) {
        const Result r = run(dir, {dryRun, dir.path()});
        EXPECT_EQ(r.code, 1) << dryRun;
        EXPECT_NE(r.err.find(refused), std::string::npos) << r.err;
        EXPECT_EQ(readFile(dir.file("plan.dxf")), once) << dryRun;
        EXPECT_EQ(readFile(dir.file("plan.old")), old) << dryRun;
        EXPECT_EQ(dir.names(), (Names{"plan.dxf", "plan.old"}));
    }
    // Asked for, the second conversion is done: the backup is then the
    // drawing converted once.
    const Result forced = run(dir, {"-q", "--force", dir.path()});
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_EQ(readFile(dir.file("plan.old")), once);
    // "Příliš žluťoučký kůň úpěl ďábelské ódy" decoded once more.
    const std::string twice = "P \xDDli\xDC \xD7lu\xA3ou\xC0k\xF8 k \xB2 \xB7p\xFDl \xB4\xDF" "belsk\xDA \xA1" "dy\r\n";
    EXPECT_NE(readFile(dir.file("plan.dxf")).find(twice), std::string::npos);
}

TEST(Cli, LostCharactersAreAWarning)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), "  1\r\n\xB0x\r\n  1\r\nok\r\n  1\r\n\xB1\r\n");
    Result r = run(dir, {dir.file("a.dxf")});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("warning: 2 characters with no counterpart in the target code page became spaces "
                         "(lines 2, 6)"),
              std::string::npos)
        << r.err;
    writeFile(dir.file("a.dxf"), "  1\r\n\xB0x\r\n");
    r = run(dir, {"-q", dir.file("a.dxf")});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
}

TEST(Cli, UsageErrors)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), "");
    writeFile(dir.file("b.dxf"), "");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--text", "xx", dir.file("a.dxf")},
                                               {"--palette"},
                                               {"--colour", "sx", dir.file("a.dxf")},
                                               {"--frobnicate", dir.file("a.dxf")},
                                               {"-o", dir.file("c.dxf"), dir.file("a.dxf"), dir.file("b.dxf")},
                                               {"-o", dir.file("c.dxf"), "-n", dir.file("a.dxf")}}) {
        const Result r = run(dir, args);
        EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find("Try 'dxfkonv-cli --help'."), std::string::npos);
    }
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "b.dxf"}));
    Result r = run(dir, {"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Usage: dxfkonv-cli"), std::string::npos);
    r = run(dir, {"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("dxfkonv-cli ", 0), 0u);
    // A file whose backup would take its own name is not converted.
    writeFile(dir.file("x.old"), " 62\r\n5\r\n");
    r = run(dir, {dir.file("x.old")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(readFile(dir.file("x.old")), " 62\r\n5\r\n");
}

namespace {

struct stat statOf(const std::string& path)
{
    struct stat st{};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

}  // namespace

// The same drawing named twice in one batch, or once more through a link,
// is converted once; its backup is the drawing as it was.
TEST(Cli, EachDrawingOnceInABatch)
{
    const std::string old = sampleFile("plan-tarnix.dxf");
    const struct {
        const char* name;
        bool link;         // a link zlink.dxf -> plan.dxf beside it
        bool byItsName;    // the directory and then the drawing itself
    } cases[] = {{"directory and name", false, true}, {"link in the directory", true, false},
                 {"both", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir.file("plan.dxf"), old);
        if (c.link) {
            ASSERT_EQ(symlink("plan.dxf", dir.file("zlink.dxf").c_str()), 0);
        }
        std::vector<std::string> args = {dir.path()};
        if (c.byItsName)
            args.push_back(dir.file("plan.dxf"));
        const Result r = run(dir, args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(readFile(dir.file("plan.dxf")), expectedFile("plan-tarnix.lw-256-sa.dxf"));
        EXPECT_EQ(readFile(dir.file("plan.old")), old);
        EXPECT_NE(r.out.find(": skipped, the same file as one converted before"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

// A small drawing and what the defaults make of it: without a HEADER
// section, it gets one declaring the code page.
const std::string kSmallDrawing = "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  0\r\nTEXT\r\n 62\r\n     5\r\n  1\r\n"
                                  "P%%216%%161li%%159\r\n  0\r\nENDSEC\r\n  0\r\nEOF\r\n";
const std::string kSmallConverted = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$DWGCODEPAGE\r\n  3\r\nANSI_1250\r\n"
                                    "  0\r\nENDSEC\r\n"
                                    "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  0\r\nTEXT\r\n 62\r\n4\r\n  1\r\n"
                                    "P\xEC\xEDli\xE8\r\n  0\r\nENDSEC\r\n  0\r\nEOF\r\n";

// Another hard link of a drawing converted before in the batch still
// leads to the old content once the first name was replaced: it is a
// drawing of its own, converted with its own backup, never "skipped".
TEST(Cli, AnotherHardLinkIsConvertedInItsOwnRight)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), kSmallDrawing);
    ASSERT_EQ(::link(dir.file("a.dxf").c_str(), dir.file("b.dxf").c_str()), 0);
    const Result r = run(dir, {dir.file("a.dxf"), dir.file("b.dxf"), dir.file("a.dxf")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, dir.file("a.dxf") + ": recoded 1 text, renumbered 1 colour, set 1 code page value; backup a.old\n"
                         + dir.file("b.dxf") + ": recoded 1 text, renumbered 1 colour, set 1 code page value; backup b.old\n"
                         + dir.file("a.dxf") + ": skipped, the same file as one converted before\n"
                         + "2 file(s) converted, 0 failed\n");
    for (const char* name : {"a.dxf", "b.dxf"})
        EXPECT_EQ(readFile(dir.file(name)), kSmallConverted) << name;
    for (const char* name : {"a.old", "b.old"})
        EXPECT_EQ(readFile(dir.file(name)), kSmallDrawing) << name;
}

// Options are taken as every GNU tool takes them: bundled, with their
// values joined by "=" or apart, abbreviated, before or after the paths.
TEST(Cli, OptionsAsGnuToolsTakeThem)
{
    TempDir dir;
    writeFile(dir.file("a.dxf"), kSmallDrawing);
    const std::string a = dir.file("a.dxf");
    const struct {
        std::vector<std::string> args;
        int code;
        std::string out;
        std::string err;
    } cases[] = {
        {{"-nq", a}, 0, "", ""},
        {{a, "-n"}, 0, a + ": would recode 1 text, would renumber 1 colour, would set 1 code page value\n", ""},
        {{"-n", "--text=wl", a}, 0, a + ": would recode 0 texts, would renumber 1 colour, would set 1 code page value\n", ""},
        {{"-n", "--tex", "lw", "--pal=none", a}, 0,
         a + ": would recode 1 text, colours left alone, would set 1 code page value\n", ""},
        {{"-n", "--col=as", "--pal", "16", a}, 0,
         a + ": would recode 1 text, would renumber 1 colour, would set 1 code page value\n", ""},
        {{"--no", a}, 2, "", "dxfkonv-cli: unknown or ambiguous option --no\nTry 'dxfkonv-cli --help'.\n"},
        {{"-nx", a}, 2, "", "dxfkonv-cli: unknown or ambiguous option -x\nTry 'dxfkonv-cli --help'.\n"},
        {{a, "--palette"}, 2, "", "dxfkonv-cli: option --palette needs a value\nTry 'dxfkonv-cli --help'.\n"},
        {{"--text=\x1b[2J", a}, 2, "",
         "dxfkonv-cli: --text takes lw or wl, not ''$'\\033''[2J'\nTry 'dxfkonv-cli --help'.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const Result r = run(dir, c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(readFile(a), kSmallDrawing);
    }
}

// A tree of more directories than the process may hold open files
// converts whole: the walk keeps one directory open per level, and the
// directories waiting to be flushed are few.
TEST(Cli, TreeOfManyDirectoriesWithinFewOpenFiles)
{
    TempDir dir;
    constexpr int kDirectories = 1100;
    // Eleven directories of a hundred each.
    auto parentOf = [&](int i) { return dir.file(std::string(1, 'd').append(std::to_string(i / 100))); };
    auto drawingIn = [&](int i) { return parentOf(i).append(1, '/').append(std::to_string(i)).append("/v.dxf"); };
    for (int i = 0; i < kDirectories; ++i) {
        ::mkdir(parentOf(i).c_str(), 0755);
        ASSERT_EQ(::mkdir(parentOf(i).append(1, '/').append(std::to_string(i)).c_str(), 0755), 0);
        writeFile(drawingIn(i), kSmallDrawing);
    }
    ChildSetup setup;
    setup.openFilesLimit = 256;
    const Result r = run(dir, {"-q", "-r", dir.path()}, setup);
    EXPECT_EQ(r.code, 0) << r.err.substr(0, 2000);
    EXPECT_EQ(r.err, "");
    for (int i = 0; i < kDirectories; i += 99)
        EXPECT_EQ(readFile(drawingIn(i)), kSmallConverted) << i;
}

// -o must leave the input as it is: naming the input itself, a link to it
// or another name of it is wrong usage.
TEST(Cli, OutputNamingTheInputIsWrongUsage)
{
    TempDir dir;
    const std::string old = sampleFile("plan-tarnix.dxf");
    writeFile(dir.file("same.dxf"), old);
    ASSERT_EQ(symlink("same.dxf", dir.file("link.dxf").c_str()), 0);
    ASSERT_EQ(link(dir.file("same.dxf").c_str(), dir.file("hard.dxf").c_str()), 0);
    for (const char* output : {"same.dxf", "link.dxf", "hard.dxf"}) {
        const Result r = run(dir, {"-o", dir.file(output), dir.file("same.dxf")});
        EXPECT_EQ(r.code, 2) << output;
        EXPECT_NE(r.err.find("--output names the input file itself"), std::string::npos) << r.err;
    }
    EXPECT_EQ(readFile(dir.file("same.dxf")), old);
    EXPECT_EQ(dir.names(), (Names{"hard.dxf", "link.dxf", "same.dxf"}));
}

// A drawing behind a directory the user may not search is out of reach,
// not missing; a name longer than the system takes is an invalid name.
TEST(Cli, UnreachableAndOverlongNamesAreReportedAsSuch)
{
    TempDir dir(TempDir::Access::kEverybody);
    ASSERT_EQ(mkdir(dir.file("tajne").c_str(), 0700), 0);
    writeFile(dir.file("tajne/plan.dxf"), " 62\r\n5\r\n");
    const std::string overlong = dir.file(std::string(300, 'v') + ".dxf");
    Result r = geteuid() == 0 ? run(dir, {dir.file("tajne/plan.dxf"), overlong}, runningAs(User{kNobody, kNobody, {}}))
                              : (chmod(dir.file("tajne").c_str(), 0), run(dir, {dir.file("tajne/plan.dxf"), overlong}));
    chmod(dir.file("tajne").c_str(), 0700);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(dir.file("tajne/plan.dxf") + ": File access denied. (looking it up: Permission denied)\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(overlong + ": Invalid filename. (looking it up: File name too long)\n"), std::string::npos)
        << r.err;
}

// A member of a drawing's group who converts it keeps its group; the
// owner, which only the administrator could give back, is reported.
// --restore puts each drawing's backup back, with the drawing's owner and
// permissions; the backup stays. A drawing that cannot be restored is a
// failure of its own, and leaves the drawing and its backup as they were.
TEST(Cli, RestorePutsTheBackupBack)
{
    TempDir dir;
    const std::string old = " 62\r\n5\r\n";
    const std::string converted = " 62\r\n4\r\n";
    for (const char* name : {"a.dxf", "b.DXF", "c.dxf"})
        writeFile(dir.file(name), old);
    ASSERT_EQ(run(dir, {"-q", dir.file("a.dxf"), dir.file("b.DXF")}).code, 0);
    ASSERT_EQ(chmod(dir.file("a.dxf").c_str(), 0640), 0);
    // c.dxf has no backup.

    const Result dry = run(dir, {"-n", "--restore", dir.path()});
    EXPECT_EQ(dry.code, 1);
    EXPECT_EQ(dry.out, dir.file("a.dxf") + ": would restore from a.old\n" + dir.file("b.DXF")
                           + ": would restore from b.old\n2 file(s) checked, 1 failed\n");
    EXPECT_EQ(dry.err, "dxfkonv-cli: " + dir.file("c.dxf") + ": no backup c.old to restore from\n");
    EXPECT_EQ(readFile(dir.file("a.dxf")), converted);

    const Result r = run(dir, {"--restore", dir.path()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, dir.file("a.dxf") + ": restored from a.old\n" + dir.file("b.DXF")
                         + ": restored from b.old\n2 file(s) restored, 1 failed\n");
    EXPECT_EQ(r.err, "dxfkonv-cli: " + dir.file("c.dxf") + ": no backup c.old to restore from\n");
    for (const char* name : {"a.dxf", "a.old", "b.DXF", "b.old", "c.dxf"})
        EXPECT_EQ(readFile(dir.file(name)), old) << name;
    EXPECT_EQ(statOf(dir.file("a.dxf")).st_mode & 07777, 0640u);
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old", "b.DXF", "b.old", "c.dxf"}));
}

TEST(Cli, AFailedRestoreLeavesBothFilesAsTheyWere)
{
    std::string big;
    while (big.size() < 64 * 1024)
        big += " 62\r\n5\r\n";
    const struct {
        const char* what;
        std::vector<std::string> drawings;  // each with the backup `big`, holding " 62\r\n4\r\n"
        mode_t mode;
        std::optional<rlim_t> fileSizeLimit;
        std::string error;  // after "dxfkonv-cli: PATH: "
    } rows[] = {
        {"read-only", {"a.dxf"}, 0444, std::nullopt, "File access denied. (nobody may write it)"},
        {"the disk full half way", {"a.dxf"}, 0644, 16 * 1024,
         "Disk full. (writing the work file: File too large)"},
        {"a backup name two drawings share", {"a.dxf", "a.DXF"}, 0644, std::nullopt,
         "The drawing has the same backup name a.old as a.DXF; convert it without a backup, or rename one of "
         "them."},
    };
    for (const auto& row : rows) {
        TempDir dir;
        Names names{"a.old"};
        for (const std::string& name : row.drawings) {
            writeFile(dir.file(name), " 62\r\n4\r\n");
            ASSERT_EQ(chmod(dir.file(name).c_str(), row.mode), 0);
            names.push_back(name);
        }
        writeFile(dir.file("a.old"), big);
        std::sort(names.begin(), names.end());
        ChildSetup setup;
        setup.fileSizeLimit = row.fileSizeLimit;
        const Result r = run(dir, {"--restore", dir.file("a.dxf")}, setup);
        EXPECT_EQ(r.code, 1) << row.what;
        EXPECT_EQ(r.err, "dxfkonv-cli: " + dir.file("a.dxf") + ": " + row.error + "\n") << row.what;
        EXPECT_EQ(readFile(dir.file("a.dxf")), " 62\r\n4\r\n") << row.what;
        EXPECT_EQ(readFile(dir.file("a.old")), big) << row.what;
        EXPECT_EQ(dir.names(), names) << row.what;
    }
}

TEST(Cli, GroupIsKeptAndALostOwnerIsReported)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to set up another user's drawing";
    TempDir dir(TempDir::Access::kEverybody);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    writeFile(dir.file("plan.dxf"), " 62\r\n5\r\n");
    ASSERT_EQ(chown(dir.file("plan.dxf").c_str(), 2001, 3000), 0);
    ASSERT_EQ(chmod(dir.file("plan.dxf").c_str(), 0664), 0);
    const Result r = run(dir, {dir.file("plan.dxf")}, runningAs(User{2002, 4000, {3000}}));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("plan.dxf")), " 62\r\n4\r\n");
    const struct stat st = statOf(dir.file("plan.dxf"));
    EXPECT_EQ(st.st_gid, 3000u);
    EXPECT_EQ(st.st_uid, 2002u);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_NE(r.out.find("; warning: its owner could not be kept, it is now yours"), std::string::npos) << r.out;
}

// A name can hold anything but "/" and the null byte: escape sequences
// that retitle or clear the terminal, a newline that would forge a report
// line of its own. Every name printed comes out quoted as GNU ls quotes
// it, on stdout and on stderr alike.
TEST(Cli, NamesAreQuotedOnEveryStream)
{
    TempDir dir;
    ASSERT_EQ(dir.path().find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-"),
              std::string::npos)
        << "the scratch path itself would be quoted";
    writeFile(dir.file("x\x1b]0;pwned\a\nFAKE.dxf: recoded 9 texts.dxf"), " 62\r\n5\r\n");
    writeFile(dir.file("ro\x1b[2J\n.dxf"), " 62\r\n5\r\n");
    ASSERT_EQ(chmod(dir.file("ro\x1b[2J\n.dxf").c_str(), 0444), 0);
    const Result r = run(dir, {dir.path()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "'" + dir.path()
                         + "/x'$'\\033'']0;pwned'$'\\a\\n''FAKE.dxf: recoded 9 texts.dxf': recoded 0 texts, "
                           "renumbered 1 colour, set 0 code page values; backup "
                           "'x'$'\\033'']0;pwned'$'\\a\\n''FAKE.dxf: recoded 9 texts.old'\n"
                           "1 file(s) converted, 1 failed\n");
    EXPECT_EQ(r.err, "dxfkonv-cli: '" + dir.path() + "/ro'$'\\033''[2J'$'\\n''.dxf': File access denied. (nobody may write it)\n");
}

namespace {

// A large drawing, the same block of texts and colours over and over:
// its pass takes a good while after a small drawing's has ended.
constexpr std::size_t kLargeBlocks = 256;

std::string largeBlock()
{
    const std::string unit = "  1\r\nP%%160d%%231t %%c10 abc\r\n 62\r\n5\r\n";
    std::string block;
    while (block.size() < (1u << 20))
        block += unit;
    block.resize(1u << 20);
    return block;
}

void writeLarge(const std::string& path, const std::string& block)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    for (std::size_t i = 0; i < kLargeBlocks; ++i)
        ASSERT_EQ(write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
    ASSERT_EQ(close(fd), 0);
}

// Whether the file still holds the large drawing, byte for byte.
bool holdsLarge(const std::string& path, const std::string& block)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string got(block.size(), '\0');
    std::size_t blocks = 0;
    bool same = true;
    for (;;) {
        std::size_t have = 0;
        ssize_t n = 0;
        while (have < got.size() && (n = read(fd, got.data() + have, got.size() - have)) > 0)
            have += static_cast<std::size_t>(n);
        if (have == 0)
            break;
        same = same && have == block.size() && got == block;
        ++blocks;
    }
    close(fd);
    return same && blocks == kLargeBlocks;
}

// Reads the pipe `fd` into `text`: until `line` stands in it as a whole
// line, or with no line given to its end. False when it ends too soon.
bool readPipe(int fd, std::string& text, const std::string& line = {})
{
    char buffer[4096];
    while (line.empty() || text.find(line + "\n") == std::string::npos) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return line.empty();
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

// Ctrl-C, kill and a closed terminal end a batch in order. The signal
// comes once the small drawing's line has been printed, while the large
// one after it is being converted: the small one has been replaced and
// reported and keeps its backup, the large one's pass is abandoned and
// the drawing left as it was, no work file stays, the summary is printed,
// and the program then dies of the very signal, as the shell must see.
// Started the way nohup starts it, with hang-ups ignored, it ignores them.
TEST(Cli, SignalsEndABatchInOrder)
{
    TempDir dir;
    const std::string block = largeBlock();
    writeLarge(dir.file("b.dxf"), block);
    const std::string aLine = dir.file("a.dxf")
                              + ": recoded 0 texts, renumbered 1 colour, set 0 code page values; backup a.old";
    const struct {
        int signal;
        bool hangUpIgnored;
    } cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGHUP, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.signal)) + (c.hangUpIgnored ? ", ignored at start" : ""));
        writeFile(dir.file("a.dxf"), " 62\r\n5\r\n");
        unlink(dir.file("a.old").c_str());
        int out[2];
        ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
        const std::string errPath = dir.path() + "-stderr";
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int streams[3] = {open("/dev/null", O_RDONLY | O_CLOEXEC), out[1], err};
        ChildSetup setup;
        setup.hangUpIgnored = c.hangUpIgnored;
        const pid_t pid = start({dir.path()}, streams, setup);
        ASSERT_GT(pid, 0);
        close(streams[0]);
        close(out[1]);
        close(err);
        std::string text;
        const bool sawLine = readPipe(out[0], text, aLine);
        kill(pid, c.signal);
        readPipe(out[0], text);
        close(out[0]);
        const int status = waitFor(pid);
        const std::string errText = readFile(errPath);
        unlink(errPath.c_str());
        EXPECT_TRUE(sawLine) << text;
        EXPECT_EQ(readFile(dir.file("a.dxf")), " 62\r\n4\r\n");
        EXPECT_EQ(readFile(dir.file("a.old")), " 62\r\n5\r\n");
        if (c.hangUpIgnored) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
            EXPECT_EQ(text.substr(0, aLine.size() + 1), aLine + "\n");
            EXPECT_NE(text.find("2 file(s) converted, 0 failed\n"), std::string::npos) << text;
            EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old", "b.dxf", "b.old"}));
            EXPECT_TRUE(holdsLarge(dir.file("b.old"), block));
            continue;
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << "status " << status;
        EXPECT_EQ(text, aLine + "\n1 file(s) converted, 0 failed\n");
        EXPECT_EQ(errText, "dxfkonv-cli: " + dir.file("b.dxf") + ": interrupted, left as it was\n");
        EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old", "b.dxf"}));
        EXPECT_TRUE(holdsLarge(dir.file("b.dxf"), block)) << "the large drawing was touched";
    }
}

// A stop in the middle of a batch of many small drawings, whatever the
// group it comes in: every drawing reported is converted and keeps its
// backup, every other one is as it was, with no backup, and no work file
// stays.
TEST(Cli, AStopInABatchOfSmallDrawingsLeavesEachReportedOneConvertedAndNoOther)
{
    TempDir dir;
    constexpr int kDrawings = 200;
    auto name = [](int i) {
        char text[16];
        std::snprintf(text, sizeof text, "v%03d", i);
        return std::string(text);
    };
    for (int i = 0; i < kDrawings; ++i)
        writeFile(dir.file(name(i) + ".dxf"), kSmallDrawing);
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const int streams[3] = {open("/dev/null", O_RDONLY | O_CLOEXEC), out[1], open("/dev/null", O_WRONLY | O_CLOEXEC)};
    const pid_t pid = start({dir.path()}, streams, {});
    ASSERT_GT(pid, 0);
    for (const int fd : streams)
        close(fd);
    std::string text;
    EXPECT_TRUE(readPipe(out[0], text, dir.file(name(0) + ".dxf")
                                           + ": recoded 1 text, renumbered 1 colour, set 1 code page value; backup "
                                           + name(0) + ".old"));
    kill(pid, SIGINT);
    readPipe(out[0], text);
    close(out[0]);
    const int status = waitFor(pid);
    int reported = 0;
    for (int i = 0; i < kDrawings; ++i) {
        SCOPED_TRACE(name(i));
        const bool wasReported = text.find(dir.file(name(i) + ".dxf") + ": recoded") != std::string::npos;
        reported += wasReported;
        EXPECT_EQ(readFile(dir.file(name(i) + ".dxf")), wasReported ? kSmallConverted : kSmallDrawing);
        EXPECT_EQ(access(dir.file(name(i) + ".old").c_str(), F_OK) == 0, wasReported);
    }
    EXPECT_GE(reported, 1);
    if (WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), SIGINT);
        EXPECT_NE(text.find(std::to_string(reported) + " file(s) converted, 0 failed\n"), std::string::npos) << text;
    } else {
        EXPECT_EQ(reported, kDrawings) << "the stop came after the last drawing";
    }
    EXPECT_EQ(dir.names().size(), static_cast<std::size_t>(kDrawings + reported));
}

// Under a file-size limit (ulimit -f) the work file of a drawing that
// outgrows it cannot be written: that drawing fails with "Disk full." and
// stays as it was, and the rest goes on. The limit no longer ends the
// program with SIGXFSZ in the middle of the pass.
TEST(Cli, FileSizeLimitIsAnErrorOfThatDrawing)
{
    TempDir dir;
    std::string big;
    while (big.size() < 64 * 1024)
        big += " 62\r\n5\r\n";
    writeFile(dir.file("a.dxf"), big);
    writeFile(dir.file("b.dxf"), " 62\r\n5\r\n");
    ChildSetup setup;
    setup.fileSizeLimit = 16 * 1024;
    const Result r = run(dir, {"--no-backup", dir.path()}, setup);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "dxfkonv-cli: " + dir.file("a.dxf") + ": Disk full. (writing the work file: File too large)\n");
    EXPECT_EQ(r.out, dir.file("b.dxf") + ": recoded 0 texts, renumbered 1 colour, set 0 code page values\n"
                         "1 file(s) converted, 1 failed\n");
    EXPECT_EQ(readFile(dir.file("a.dxf")), big);
    EXPECT_EQ(readFile(dir.file("b.dxf")), " 62\r\n4\r\n");
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "b.dxf"}));
}

// Output into a pipe nobody reads (`dxfkonv-cli DIR | head -1` once head
// is gone): the drawings are all converted all the same, and the lost
// report is said on stderr, with exit status 1, as GNU tools do.
TEST(Cli, ClosedOutputStillConvertsEverything)
{
    TempDir dir;
    for (const char* name : {"a.dxf", "b.dxf", "c.dxf"})
        writeFile(dir.file(name), " 62\r\n5\r\n");
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    close(out[0]);
    const Result r = run(dir, {dir.path()}, {}, out[1]);
    EXPECT_EQ(r.code, 1) << "not an exit of its own";
    EXPECT_EQ(r.err, "dxfkonv-cli: write error: Broken pipe\n");
    for (const char* name : {"a.dxf", "b.dxf", "c.dxf"})
        EXPECT_EQ(readFile(dir.file(name)), " 62\r\n4\r\n") << name;
    EXPECT_EQ(dir.names(), (Names{"a.dxf", "a.old", "b.dxf", "b.old", "c.dxf", "c.old"}));
}
