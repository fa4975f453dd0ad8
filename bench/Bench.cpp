// dxfkonv-bench: how fast the conversion is next to the tools a user could
// script together instead, on one large realistic drawing.
//
// Comparisons, each fair in itself:
//  - whole processes, as a user would time them with public tools: the
//    conversion to another file (dxfkonv-cli -o, made durable) against
//    `dd bs=1M conv=fsync`, and the dry run (dxfkonv-cli -n, the work per
//    byte alone) against `dd bs=1M` with nothing flushed, each copy over
//    the output of its run before (and the unflushed one also into a new
//    file, for reference), all taking turns;
//  - to the disk: the real in-place conversion (dxfkonv-cli: work file,
//    fsync, backup link, rename) against a plain copy that also fsyncs its
//    output, and against iconv and sed with their output fsynced too;
//  - in memory: the line pass alone (no fsync) against a plain copy, iconv
//    and sed without fsync, so the disk does not hide the work per byte;
//  - a batch: a directory of many small drawings converted in place by
//    dxfkonv-cli (each flushed before it replaces the old one) against
//    `sed -i.old` on the same files, where the cost per file counts most.
// The input is in the page cache for every contestant (it was just
// written). Each contestant runs several times; the best time counts.
// Peak memory is the ru_maxrss of the dxfkonv-cli process.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/DrawingMaker.h"
#include "engine/platform/posix/Errno.h"
#include "engine/pass/BackgroundIo.h"
#include "engine/replace/Convert.h"
#include "engine/IoError.h"
#include "engine/pass/LinePass.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 1 << 20;  // the engine reads and writes 1 MiB at a time
constexpr double kMB = 1e6;

struct Options {
    std::size_t megabytes = 150;
    int runs = 3;
    std::string dir;
    std::string cli;
    bool keep = false;
    std::size_t batchFiles = 1000;
    std::size_t batchKiB = 50;
    std::size_t slowFiles = 500;
    long flushDelayUs = 2000;
};

[[noreturn]] void die(const std::string& what)
{
    std::fprintf(stderr, "dxfkonv-bench: %s\n", what.c_str());
    std::exit(2);
}

int openOrDie(const std::string& path, int flags, mode_t mode = 0644)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0)
        die("cannot open " + path + ": " + std::strerror(errno));
    return fd;
}

void fsyncPath(const std::string& path)
{
    const int fd = openOrDie(path, O_RDONLY);
    if (::fsync(fd) != 0)
        die("fsync " + path + ": " + std::strerror(errno));
    ::close(fd);
}

// ---- contestants --------------------------------------------------------

struct Sample {
    double seconds = 0;
    long maxRssKiB = 0;
};

// Read and write every byte, 1 MiB at a time, as the engine does.
Sample plainCopy(const std::string& from, const std::string& to, bool sync)
{
    const auto t0 = Clock::now();
    const int in = openOrDie(from, O_RDONLY);
    const int out = openOrDie(to, O_WRONLY | O_CREAT | O_TRUNC);
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    for (;;) {
        const ssize_t n = ::read(in, buffer.get(), kChunk);
        if (n < 0)
            die("read failed");
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t k = ::write(out, buffer.get() + done, static_cast<std::size_t>(n - done));
            if (k <= 0)
                die("write failed");
            done += k;
        }
    }
    if (sync && ::fsync(out) != 0)
        die("fsync failed");
    ::close(out);
    ::close(in);
    return {std::chrono::duration<double>(Clock::now() - t0).count(), 0};
}

class FdSource : public dxfkonv::ByteSource {
public:
    explicit FdSource(int fd) : fd_(fd) {}
    std::size_t read(char* buffer, std::size_t n) override
    {
        const ssize_t k = ::read(fd_, buffer, n);
        if (k < 0)
            throw dxfkonv::IoErrorFromErrno(errno);
        return static_cast<std::size_t>(k);
    }
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override
    {
        const ssize_t k = ::pread(fd_, buffer, n, static_cast<off_t>(offset));
        if (k < 0)
            throw dxfkonv::IoErrorFromErrno(errno);
        return static_cast<std::size_t>(k);
    }

private:
    int fd_;
};

class FdSink : public dxfkonv::ByteSink {
public:
    explicit FdSink(int fd) : fd_(fd) {}
    void write(const char* data, std::size_t n) override
    {
        while (n != 0) {
            const ssize_t k = ::write(fd_, data, n);
            if (k <= 0)
                throw dxfkonv::IoErrorFromErrno(errno);
            data += k;
            n -= static_cast<std::size_t>(k);
        }
    }

private:
    int fd_;
};

// The line pass alone, file to file, no fsync.
Sample streamPass(const std::string& from, const std::string& to, const dxfkonv::ConversionSwitches& s)
{
    const auto t0 = Clock::now();
    const int in = openOrDie(from, O_RDONLY);
    const int out = openOrDie(to, O_WRONLY | O_CREAT | O_TRUNC);
    struct stat st{};
    ::fstat(in, &st);
    FdSource file(in);
    FdSink work(out);
    // Reading and writing on threads of their own, as the converter does.
    dxfkonv::ReadAheadSource source(file);
    dxfkonv::WriteBehindSink sink(work);
    dxfkonv::ConvertStream(source, sink, static_cast<std::uint64_t>(st.st_size), s);
    sink.finish();
    ::close(out);
    ::close(in);
    return {std::chrono::duration<double>(Clock::now() - t0).count(), 0};
}

// Runs a program with its standard output going to `output` (if given),
// then fsyncs that output when asked; times all of it. `extra` is added
// to its environment.
Sample spawn(const std::vector<std::string>& argv, const std::string& output, bool sync,
             const std::vector<std::string>& extra = {})
{
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty())
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> env = {"LC_ALL=C"};
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "LC_", 3) != 0 && std::strncmp(*e, "LANG", 4) != 0)
            envp.push_back(*e);
    env.insert(env.end(), extra.begin(), extra.end());
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
        die("cannot run " + argv[0]);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die(argv[0] + " failed (status " + std::to_string(status) + ")");
    if (sync && !output.empty())
        fsyncPath(output);
    return {std::chrono::duration<double>(Clock::now() - t0).count(), usage.ru_maxrss};
}

// ---- reporting ------------------------------------------------------------

struct Result {
    std::string name;
    std::vector<Sample> samples;

    double best() const
    {
        double b = samples.front().seconds;
        for (const auto& s : samples)
            b = std::min(b, s.seconds);
        return b;
    }
    double median() const
    {
        std::vector<double> t;
        for (const auto& s : samples)
            t.push_back(s.seconds);
        std::sort(t.begin(), t.end());
        return t[t.size() / 2];
    }
    long maxRss() const
    {
        long m = 0;
        for (const auto& s : samples)
            m = std::max(m, s.maxRssKiB);
        return m;
    }
};

// One contestant: what to do before each of its runs, off the clock, and
// the run itself.
struct Contestant {
    std::string name;
    std::function<void()> prepare;
    std::function<Sample()> run;
};

// Runs the contestants in turn, round after round, so that a disk or a
// machine that gets busier or quieter for a while weighs on all of them
// alike rather than on whichever ran then.
std::vector<Result> sideBySide(int runs, const std::vector<Contestant>& contestants)
{
    std::vector<Result> results;
    for (const auto& c : contestants)
        results.push_back(Result{c.name, {}});
    for (int i = 0; i < runs; ++i)
        for (std::size_t k = 0; k < contestants.size(); ++k) {
            contestants[k].prepare();
            results[k].samples.push_back(contestants[k].run());
        }
    return results;
}

// One contestant's runs, one after the other.
Result repeat(const std::string& name, int runs, const std::function<void()>& prepare,
              const std::function<Sample()>& run)
{
    return sideBySide(runs, {Contestant{name, prepare, run}}).front();
}

void printTable(const char* title, std::uint64_t bytes, const std::vector<Result>& rows)
{
    const double base = rows.front().best();
    std::printf("\n%s\n", title);
    std::printf("| %-44s | %9s | %9s | %8s | %10s |\n", "contestant", "best s", "median s", "MB/s",
                "x first");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(11, '-').c_str(),
                std::string(11, '-').c_str(), std::string(10, '-').c_str(), std::string(12, '-').c_str());
    for (const auto& r : rows)
        std::printf("| %-44s | %9.3f | %9.3f | %8.0f | %10.2f |\n", r.name.c_str(), r.best(), r.median(),
                    static_cast<double>(bytes) / kMB / r.best(), r.best() / base);
}

bool sameContent(const std::string& a, const std::string& b)
{
    if (fs::file_size(a) != fs::file_size(b))
        return false;
    const int fa = openOrDie(a, O_RDONLY);
    const int fb = openOrDie(b, O_RDONLY);
    std::unique_ptr<char[]> ba(new char[kChunk]), bb(new char[kChunk]);
    bool same = true;
    for (;;) {
        const ssize_t na = ::read(fa, ba.get(), kChunk);
        ssize_t nb = 0;
        while (nb < na) {
            const ssize_t k = ::read(fb, bb.get() + nb, static_cast<std::size_t>(na - nb));
            if (k <= 0)
                break;
            nb += k;
        }
        if (na <= 0 || na != nb || std::memcmp(ba.get(), bb.get(), static_cast<std::size_t>(na)) != 0) {
            same = na == 0 && nb == 0;
            break;
        }
    }
    ::close(fa);
    ::close(fb);
    return same;
}

// A directory of small drawings to convert in place, made afresh from
// copies kept beside it before each run.
struct SmallDrawings {
    std::string dir;
    std::vector<std::string> names;
    std::uint64_t bytes = 0;
    std::function<void()> fresh;
};

SmallDrawings makeBatch(const std::string& dir, std::size_t files, std::size_t kib)
{
    SmallDrawings batch;
    batch.dir = dir;
    const std::string source = dir + "-source";
    fs::create_directories(source);
    for (std::size_t i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "v%05zu.dxf", i);
        batch.names.push_back(name);
        const int fd = openOrDie(source + "/" + name, O_WRONLY | O_CREAT | O_TRUNC);
        FdSink sink(fd);
        dxfkonv::bench::makeDrawing(kib * 1024, static_cast<std::uint32_t>(i + 2),
                                    [&](std::string_view piece) { sink.write(piece.data(), piece.size()); });
        ::close(fd);
        batch.bytes += fs::file_size(source + "/" + name);
    }
    batch.fresh = [dir, source] {
        fs::remove_all(dir);
        fs::copy(source, dir);
        ::sync();
    };
    return batch;
}

std::string selfDirectory()
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                die(a + " needs a value");
            return argv[++i];
        };
        if (a == "--size")
            o.megabytes = static_cast<std::size_t>(std::stoul(value()));
        else if (a == "--runs")
            o.runs = std::max(1, std::stoi(value()));
        else if (a == "--dir")
            o.dir = value();
        else if (a == "--cli")
            o.cli = value();
        else if (a == "--keep")
            o.keep = true;
        else if (a == "--batch")
            o.batchFiles = static_cast<std::size_t>(std::stoul(value()));
        else if (a == "--batch-kb")
            o.batchKiB = static_cast<std::size_t>(std::stoul(value()));
        else if (a == "--slow")
            o.slowFiles = static_cast<std::size_t>(std::stoul(value()));
        else if (a == "--flush-delay-us")
            o.flushDelayUs = std::stol(value());
        else if (a == "-h" || a == "--help") {
            std::printf(
                "usage: dxfkonv-bench [--size MB] [--runs N] [--dir DIR] [--cli PATH] [--keep]\n"
                "                     [--batch FILES] [--batch-kb KB] [--slow FILES] [--flush-delay-us US]\n"
                "  --size MB   size of the drawing to make (default 150)\n"
                "  --runs N    runs per contestant, the best counts (default 3)\n"
                "  --dir DIR   where to put the files (default: a new directory here)\n"
                "  --cli PATH  the dxfkonv-cli to measure (default: the one built beside this)\n"
                "  --keep      leave the files behind\n"
                "  --batch N   drawings in the batch case (default 1000; 0 leaves it out)\n"
                "  --batch-kb K  size of each (default 50)\n"
                "  --slow N    drawings of 4 KiB in the slow-disk case, every flush made\n"
                "              --flush-delay-us slower (default 500 and 2000; 0 leaves it out)\n");
            std::exit(0);
        } else
            die("unknown argument " + a);
    }
    return o;
}

}  // namespace

int main(int argc, char** argv)
{
    // Driver mode: one in-place conversion, for when no dxfkonv-cli is built.
    if (argc == 3 && std::string(argv[1]) == "--convert-in-place") {
        try {
            dxfkonv::Convert(dxfkonv::Drawing::FromPath(argv[2]), dxfkonv::ConversionSwitches{}, {},
                             dxfkonv::SystemFileSystem());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        return 0;
    }

    Options o = parse(argc, argv);
    std::vector<std::string> cliCommand;
    if (o.cli.empty()) {
#ifdef DXFKONV_CLI_PATH
        o.cli = DXFKONV_CLI_PATH;
#endif
    }
    if (!o.cli.empty() && ::access(o.cli.c_str(), X_OK) == 0)
        cliCommand = {o.cli, "-q"};
    else
        cliCommand = {selfDirectory() + "/dxfkonv-bench", "--convert-in-place"};

    const bool madeDir = o.dir.empty();
    if (madeDir) {
        char pattern[] = "dxfkonv-bench-XXXXXX";
        if (!::mkdtemp(pattern))
            die("cannot make a directory here");
        o.dir = fs::absolute(pattern).string();
    }
    fs::create_directories(o.dir);
    const std::string source = o.dir + "/source.dxf";
    const std::string target = o.dir + "/plan.dxf";
    const std::string output = o.dir + "/out.dxf";

    // The drawing.
    {
        const int fd = openOrDie(source, O_WRONLY | O_CREAT | O_TRUNC);
        FdSink sink(fd);
        dxfkonv::bench::makeDrawing(o.megabytes * 1000 * 1000, 1,
                                    [&](std::string_view piece) { sink.write(piece.data(), piece.size()); });
        ::fsync(fd);
        ::close(fd);
    }
    const std::uint64_t bytes = fs::file_size(source);
    {
        const dxfkonv::PassReport r = dxfkonv::InspectFile(
            dxfkonv::Drawing::FromPath(source), dxfkonv::ConversionSwitches{}, {}, dxfkonv::SystemFileSystem());
        std::printf("drawing: %s, %.1f MB, %llu lines, %llu texts recoded, %llu colours renumbered\n",
                    source.c_str(), static_cast<double>(bytes) / kMB, static_cast<unsigned long long>(r.lines),
                    static_cast<unsigned long long>(r.textsRecoded),
                    static_cast<unsigned long long>(r.coloursRenumbered));
    }
    std::printf("converter: %s\nruns per contestant: %d (best counts)\n", cliCommand[0].c_str(), o.runs);

    auto freshTarget = [&] {
        // A new copy of the drawing to convert in place, on disk before the clock starts.
        fs::remove(o.dir + "/plan.old");
        plainCopy(source, target, true);
        fsyncPath(o.dir);
    };
    auto noOutput = [&] {
        fs::remove(output);
    };

    std::vector<std::string> cli = cliCommand;
    cli.push_back(target);
    const dxfkonv::ConversionSwitches all;
    // Only the real command line has -o and -n.
    const bool realCli = cliCommand[1] == "-q";

    // Whole processes, side by side. Each copy overwrites the output of
    // its own run before, as the same command run again by hand does, so
    // freeing the old output's blocks is part of its time, and so it is
    // of the durable conversion's, which replaces its own last output.
    // The dry run frees nothing, so the unflushed copy is also timed into
    // a new file, which frees nothing either: the stricter yardstick,
    // printed beside the one the target is judged on.
    const std::string copyOutput = o.dir + "/copy.dxf";
    auto lastOutput = [&](const std::string& path) {
        return [&source, path] {
            if (!fs::exists(path))
                plainCopy(source, path, true);
        };
    };
    auto copy = [&](const std::string& path, bool durable) {
        std::vector<std::string> command = {"dd", "if=" + source, "of=" + path, "bs=1M", "status=none"};
        if (durable)
            command.push_back("conv=fsync");
        return [command] { return spawn(command, "", false); };
    };
    std::vector<Result> durable;
    std::vector<Result> dry;
    if (realCli) {
        durable = sideBySide(o.runs, {
            {"dd bs=1M conv=fsync", lastOutput(copyOutput), copy(copyOutput, true)},
            {"dxfkonv-cli -o (flushed, renamed)", lastOutput(output),
             [&] { return spawn({cliCommand[0], "-q", "-o", output, source}, "", false); }},
        });
        fs::remove(copyOutput);
        dry = sideBySide(o.runs, {
            {"dd bs=1M (over its last copy)", lastOutput(copyOutput), copy(copyOutput, false)},
            {"dd bs=1M (into a new file)", noOutput, copy(output, false)},
            {"dxfkonv-cli -n", noOutput, [&] { return spawn({cliCommand[0], "-q", "-n", source}, "", false); }},
        });
        fs::remove(copyOutput);
    }

    // To the disk.
    std::vector<Result> disk;
    disk.push_back(repeat("plain copy + fsync", o.runs, noOutput, [&] { return plainCopy(source, output, true); }));
    disk.push_back(repeat("dxfkonv-cli in place (fsync, backup, rename)", o.runs, freshTarget,
                          [&] { return spawn(cli, "", false); }));
    disk.push_back(repeat("iconv -f CP852 -t CP1250 + fsync", o.runs, noOutput, [&] {
        return spawn({"iconv", "-f", "CP852", "-t", "CP1250", source}, output, true);
    }));
    disk.push_back(repeat("sed 's/%%130/\\xe9/' + fsync", o.runs, noOutput, [&] {
        return spawn({"sed", "s/%%130/\xe9/", source}, output, true);
    }));

    // The converter and the line pass must agree on the result.
    streamPass(source, output, all);
    if (!sameContent(target, output))
        die("the in-place conversion and the line pass disagree");

    // In memory (page cache), no fsync.
    std::vector<Result> memory;
    memory.push_back(repeat("plain copy", o.runs, noOutput, [&] { return plainCopy(source, output, false); }));
    memory.push_back(repeat("line pass, all switches on", o.runs, noOutput,
                            [&] { return streamPass(source, output, all); }));
    memory.push_back(repeat("iconv -f CP852 -t CP1250", o.runs, noOutput, [&] {
        return spawn({"iconv", "-f", "CP852", "-t", "CP1250", source}, output, false);
    }));
    memory.push_back(repeat("sed 's/%%130/\\xe9/'", o.runs, noOutput, [&] {
        return spawn({"sed", "s/%%130/\xe9/", source}, output, false);
    }));

    // A batch of small drawings, in place. Both start from the same fresh
    // copies, on the disk before the clock starts.
    std::vector<Result> batch;
    std::uint64_t batchBytes = 0;
    std::vector<std::string> converter = cliCommand;
    if (converter[1] == "--convert-in-place")
        converter = {};  // the driver takes one file; only the real command line does batches
    if (o.batchFiles != 0) {
        const SmallDrawings drawings = makeBatch(o.dir + "/batch", o.batchFiles, o.batchKiB);
        batchBytes = drawings.bytes;
        std::vector<std::string> sed = {"sed", "-i.old", "s/%%130/\xe9/"};
        for (const auto& n : drawings.names)
            sed.push_back(drawings.dir + "/" + n);
        batch.push_back(repeat("sed -i.old (no fsync)", o.runs, drawings.fresh, [&] { return spawn(sed, "", false); }));
        if (!converter.empty()) {
            std::vector<std::string> command = converter;
            command.push_back(drawings.dir);
            batch.push_back(repeat("dxfkonv-cli DIR (each file fsynced)", o.runs, drawings.fresh,
                                   [&] { return spawn(command, "", false); }));
        }
    }

    // The same on a slow disk, as a network share is: every flush takes
    // longer by the delay, made so by a library preloaded into the
    // converter.
    std::vector<Result> slow;
#ifdef DXFKONV_SLOW_FLUSH_PATH
    if (o.slowFiles != 0 && !converter.empty()) {
        const SmallDrawings drawings = makeBatch(o.dir + "/slow", o.slowFiles, 4);
        const std::vector<std::string> slowly = {std::string("LD_PRELOAD=") + DXFKONV_SLOW_FLUSH_PATH,
                                                 "DXFKONV_FLUSH_DELAY_US=" + std::to_string(o.flushDelayUs)};
        std::vector<std::string> command = converter;
        command.push_back(drawings.dir);
        slow.push_back(repeat("dxfkonv-cli DIR, every flush slower", o.runs, drawings.fresh,
                              [&] { return spawn(command, "", false, slowly); }));
    }
#endif

    if (realCli) {
        printTable("Whole processes, the output made durable:", bytes, durable);
        printTable("Whole processes, nothing flushed:", bytes, dry);
    }
    printTable("To the disk (every output fsynced):", bytes, disk);
    printTable("In the page cache (no fsync):", bytes, memory);
    if (batch.size() == 2) {
        char title[128];
        std::snprintf(title, sizeof title, "A batch of %zu drawings of %zu KiB, in place, with backups:",
                      o.batchFiles, o.batchKiB);
        printTable(title, batchBytes, batch);
    }
    if (!slow.empty()) {
        char title[128];
        std::snprintf(title, sizeof title, "%zu drawings of 4 KiB, every flush %.1f ms slower:", o.slowFiles,
                      static_cast<double>(o.flushDelayUs) / 1000.0);
        printTable(title, o.slowFiles * 4096, slow);
    }

    long peak = disk[1].maxRss();
    if (realCli)
        peak = std::max({peak, durable[1].maxRss(), dry[2].maxRss()});
    const double diskRatio = disk[1].best() / disk[0].best();
    const double memoryRatio = memory[1].best() / memory[0].best();
    std::printf("\npeak memory of the converter process: %.2f MiB (ru_maxrss)\n", static_cast<double>(peak) / 1024.0);
    // The targets are for whole processes, timed as a user would: the
    // durable conversion against a durable copy, the dry run against a
    // copy left in the page cache. The other tables are for whoever makes
    // the pass faster.
    auto verdict = [](bool ok) { return ok ? "met" : "MISSED"; };
    std::printf("\ntargets:\n");
    if (realCli) {
        const double durableRatio = durable[1].best() / durable[0].best();
        const double dryRatio = dry[2].best() / dry[0].best();
        const double dryNewRatio = dry[2].best() / dry[1].best();
        std::printf("  -o <= 1.1 x dd conv=fsync:        %.2f  %s\n", durableRatio, verdict(durableRatio <= 1.1));
        std::printf("  -n <= 1.0 x dd:                   %.2f  %s  (x dd into a new file: %.2f)\n", dryRatio,
                    verdict(dryRatio <= 1.0), dryNewRatio);
    } else {
        std::printf("  (no dxfkonv-cli built: -o and -n not measured)\n");
    }
    std::printf("  peak memory < 8 MiB:              %s\n", verdict(peak < 8 * 1024));
    if (batch.size() == 2) {
        const double batchRatio = batch[1].best() / batch[0].best();
        std::printf("  batch <= 0.5 x sed -i:            %.2f  %s  (peak %.2f MiB, < 16 MiB %s)\n", batchRatio,
                    verdict(batchRatio <= 0.5), static_cast<double>(batch[1].maxRss()) / 1024.0,
                    verdict(batch[1].maxRss() < 16 * 1024));
    }
    if (!slow.empty())
        std::printf("  slow disk <= 0.3 s:               %.3f  %s\n", slow[0].best(), verdict(slow[0].best() <= 0.3));
    std::printf("in place, to the disk, for information:\n");
    std::printf("  conversion / plain copy:          %.2f\n", diskRatio);
    std::printf("  faster than iconv / sed:          %s / %s\n", verdict(disk[1].best() < disk[2].best()),
                verdict(disk[1].best() < disk[3].best()));
    std::printf("in the page cache, for information:\n");
    std::printf("  line pass / plain copy:           %.2f\n", memoryRatio);
    std::printf("  faster than iconv / sed:          %s / %s\n", verdict(memory[1].best() < memory[2].best()),
                verdict(memory[1].best() < memory[3].best()));

    if (!o.keep) {
        if (madeDir)
            fs::remove_all(o.dir);
        else
            for (const char* f : {"/source.dxf", "/plan.dxf", "/plan.old", "/out.dxf", "/batch", "/batch-source", "/slow",
                                  "/slow-source"})
                fs::remove_all(o.dir + f);
    }
    return 0;
}
