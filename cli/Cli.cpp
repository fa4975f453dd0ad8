#include "Cli.h"

#include <getopt.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <exception>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Quote.h"
#include "engine/replace/Convert.h"
#include "engine/replace/Restore.h"
#include "engine/IoError.h"
#include "engine/platform/Console.h"

namespace dxfkonv::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kProgram = "dxfkonv-cli";
constexpr const char* kVersion = DXFKONV_VERSION;  // the project's, from the build
constexpr std::uintmax_t kProgressBarFrom = 4u << 20;  // files smaller than this finish too fast to watch

const char* const kUsage =
    "Usage: dxfkonv-cli [options] PATH...\n"
    "Converts DXF drawings in place between the TARNIX and AutoCAD conventions.\n"
    "A PATH that is a directory stands for the *.dxf files in it (any letter case).\n"
    "\n"
    "Options:\n"
    "  --text lw|wl          text direction: lw = Latin II escapes to CP1250 (default),\n"
    "                        wl = CP1250 to Latin II escapes; also sets $DWGCODEPAGE\n"
    "  --no-text             leave texts as they are ($DWGCODEPAGE still follows --text)\n"
    "  --palette 16|256|none  colour table (default 256); none leaves colours alone\n"
    "  --colour sa|as        sa = TARNIX to AutoCAD (default), as = AutoCAD to TARNIX\n"
    "  --no-backup           do not keep the old file as NAME.old\n"
    "  -f, --force           also convert drawings that declare the code page --text\n"
    "                        writes already (converted before, refused otherwise):\n"
    "                        their texts and colours are converted a second time,\n"
    "                        which damages them, and NAME.old is overwritten\n"
    "  -o, --output FILE     write the result to FILE, leave the input untouched (one input)\n"
    "  -n, --dry-run         change nothing, report what would change\n"
    "      --restore         put each drawing's backup NAME.old back in its place\n"
    "                        (the backup stays); no conversion\n"
    "  -r, --recursive       with directories: also the *.dxf files in their subdirectories\n"
    "  -q, --quiet           print nothing but errors\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "\n"
    "Exit status: 0 all converted, 1 some file failed, 2 wrong usage.\n";

struct Options {
    ConversionSwitches switches;
    std::optional<std::string> output;
    bool dryRun = false;
    bool recursive = false;
    bool quiet = false;
    bool restore = false;
    std::vector<std::string> paths;
};

struct UsageError {
    std::string message;
};

bool lessIgnoringCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) < std::tolower(y);
    });
}

Options parse(const std::vector<std::string>& args, FileSystem& fs, bool& stop, int& stopCode)
{
    Options o;
    bool noText = false;
    std::optional<std::string> palette;
    // Options as every GNU tool takes them: short ones bundled (-nq),
    // values joined or apart (--text=wl, --text wl, -oFILE), long names
    // abbreviated while they stay unambiguous (--tex), options and paths
    // in any order, "--" ending the options.
    enum Long : int { kText = 256, kNoText, kPalette, kColour, kNoBackup, kShowVersion, kRestore };
    static const option longOptions[] = {
        {"text", required_argument, nullptr, kText},
        {"no-text", no_argument, nullptr, kNoText},
        {"palette", required_argument, nullptr, kPalette},
        {"colour", required_argument, nullptr, kColour},
        {"color", required_argument, nullptr, kColour},
        {"no-backup", no_argument, nullptr, kNoBackup},
        {"force", no_argument, nullptr, 'f'},
        {"output", required_argument, nullptr, 'o'},
        {"dry-run", no_argument, nullptr, 'n'},
        {"recursive", no_argument, nullptr, 'r'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kShowVersion},
        {"restore", no_argument, nullptr, kRestore},
        {nullptr, 0, nullptr, 0},
    };
    std::vector<std::string> words = args;
    words.insert(words.begin(), kProgram);
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    opterr = 0;  // the messages are ours
    optind = 0;  // from the start, whatever was parsed before
    for (;;) {
        int index = -1;
        const int c = getopt_long(argc, argv.data(), ":o:fnrqh", longOptions, &index);
        if (c == -1)
            break;
        // The option as the user wrote it, for the messages: a long one
        // by its whole name, a short one as its letter.
        const std::string word = argv[optind - 1];
        const std::string given = index >= 0          ? std::string("--").append(longOptions[index].name)
                                  : word.rfind("--", 0) == 0 ? word.substr(0, word.find('='))
                                                             : std::string(1, '-').append(1, static_cast<char>(optopt));
        const std::string value = optarg ? optarg : "";
        switch (c) {
        case kText:
            if (value != kLatinToWindows && value != kWindowsToLatin)
                throw UsageError{"--text takes lw or wl, not " + QuoteName(value)};
            o.switches.textDirection = value;
            break;
        case kNoText: noText = true; break;
        case kPalette:
            if (value != "16" && value != "256" && value != "none")
                throw UsageError{"--palette takes 16, 256 or none, not " + QuoteName(value)};
            palette = value;
            break;
        case kColour:
            if (value != kTarnixToAutocad && value != kAutocadToTarnix)
                throw UsageError{given + " takes sa or as, not " + QuoteName(value)};
            o.switches.colourDirection = value;
            break;
        case kNoBackup: o.switches.keepBackup = false; break;
        case 'o': o.output = value; break;
        case 'f': o.switches.convertAgain = true; break;
        case 'n': o.dryRun = true; break;
        case 'r': o.recursive = true; break;
        case kRestore: o.restore = true; break;
        case 'q': o.quiet = true; break;
        case 'h':
            std::fputs(kUsage, stdout);
            stop = true;
            stopCode = 0;
            return o;
        case kShowVersion:
            std::printf("%s %s\n", kProgram, kVersion);
            stop = true;
            stopCode = 0;
            return o;
        case ':': throw UsageError{"option " + QuoteName(given) + " needs a value"};
        default: throw UsageError{"unknown or ambiguous option " + QuoteName(given)};
        }
    }
    for (int i = optind; i < argc; ++i)
        o.paths.emplace_back(argv[i]);
    if (noText)
        o.switches.recodeTexts = false;
    if (palette) {
        o.switches.palette16 = *palette == "16";
        o.switches.palette256 = *palette == "256";
    }
    if (o.paths.empty())
        throw UsageError{"no file or directory given"};
    if (o.restore && o.output)
        throw UsageError{"--restore and --output exclude each other"};
    if (o.output) {
        if (o.paths.size() != 1)
            throw UsageError{"--output takes exactly one input file"};
        if (o.dryRun)
            throw UsageError{"--output and --dry-run exclude each other"};
        // The promise is to leave the input as it is: the output may not
        // be the input under any of its names.
        if (NamesSameFile(o.paths[0], *o.output, fs))
            throw UsageError{"--output names the input file itself"};
        o.switches.keepBackup = false;
    }
    return o;
}

// The lines the command line prints, on stdout and stderr, and its
// progress bar: from the main thread and from the batch's thread alike,
// each line whole and at once, a bar on the screen cleared first.
class Output {
public:
    void line(StandardStream stream, const std::string& text)
    {
        std::lock_guard lock(mutex_);
        clearBarLocked();
        const int error = WriteText(stream, text + '\n');
        if (error != 0 && stream == StandardStream::kOutput && stdoutError_ == 0)
            stdoutError_ = error;
    }

    void bar(const std::string& text)
    {
        std::lock_guard lock(mutex_);
        WriteText(StandardStream::kError, text);
        barDrawn_ = true;
    }

    void clearBar()
    {
        std::lock_guard lock(mutex_);
        clearBarLocked();
    }

    // The error of the first line stdout did not take, 0 while none.
    int stdoutError()
    {
        std::lock_guard lock(mutex_);
        return stdoutError_;
    }

private:
    void clearBarLocked()
    {
        if (barDrawn_)
            WriteText(StandardStream::kError, "\r\033[K");
        barDrawn_ = false;
    }

    std::mutex mutex_;
    bool barDrawn_ = false;
    int stdoutError_ = 0;
};

// Draws "[#####.....]  45% NAME" on a terminal's stderr.
class ProgressBar {
public:
    ProgressBar(Output& output, const std::string& name, bool enabled)
        : output_(output), name_(QuoteName(name)), enabled_(enabled)
    {
    }
    ~ProgressBar() { clear(); }

    void show(int percent)
    {
        if (!enabled_)
            return;
        constexpr int width = 30;
        const int filled = percent * width / 100;
        const std::string number = std::to_string(percent);
        std::string text = "\r[";
        text.append(static_cast<std::size_t>(filled), '#').append(static_cast<std::size_t>(width - filled), '.');
        text.append("] ").append(number.size() < 3 ? 3 - number.size() : 0, ' ');
        output_.bar(text + number + "% " + name_);
    }

    void clear()
    {
        if (enabled_)
            output_.clearBar();
    }

private:
    Output& output_;
    std::string name_;
    bool enabled_;
};

class Runner {
public:
    Runner(const Options& o, FileSystem& fs, Output& output)
        : o_(o), fs_(fs), out_(output), terminal_(IsTerminal(StandardStream::kError)),
          // Drawings are flushed and replaced a group at a time while the
          // next group is converted; each one's line is printed the moment
          // it is replaced.
          batch_([this](const Batch::Outcome& outcome) { finished(outcome); })
    {
    }

    int run()
    {
        for (const auto& path : o_.paths)
            visit(path);
        batch_.flush();
        if (!o_.quiet && seen_ > 1)
            out_.line(StandardStream::kOutput, std::to_string(done_) + " file(s) " + (o_.dryRun ? "checked" : o_.restore ? "restored" : "converted") + ", "
                                  + std::to_string(failed_) + " failed");
        return failed_ == 0 ? 0 : 1;
    }

private:
    void error(const std::string& name, const std::string& message)
    {
        out_.line(StandardStream::kError, std::string(kProgram) + ": " + QuoteName(name) + ": " + message);
        ++failed_;
    }

    // The window's text for a failure, then what failed, in words:
    // "I/O error 32. (replacing plan.dxf: the name leads to another file
    // than the one read)".
    void error(const std::string& name, const ConversionError& e)
    {
        std::string message = e.what();
        // The other drawing's name, like any name, reaches the terminal quoted.
        if (const auto* refusal = dynamic_cast<const Refusal*>(&e); refusal && e.code() == kSharedBackupName)
            message = sharedBackupText(QuoteName(refusal->backupName()), QuoteName(refusal->otherDrawing()));
        const FailureDetail& d = e.detail();
        if (!d.empty()) {
            std::string words = d.step;
            auto add = [&words](const char* separator, const std::string& part) {
                if (!words.empty())
                    words.append(separator);
                words.append(part);
            };
            if (!d.name.empty())
                add(" ", QuoteName(d.name));
            if (!d.reason.empty())
                add(": ", d.reason);
            message.append(" (").append(words).append(")");
        }
        error(name, message);
    }

    // Converts what a command-line path names: a drawing, or the drawings
    // of a directory (and of its subdirectories, with -r), each as the
    // walk gets to it.
    void visit(const std::string& path)
    {
        PathKind kind;
        try {
            kind = fs_.kindOf(path);
        } catch (const IoError& e) {
            // Out of reach ("File access denied."), or a name the system
            // cannot take ("Invalid filename.").
            error(path, e);
            return;
        }
        if (kind == PathKind::kMissing) {
            error(path, ioErrorText(kFileNotFound));
        } else if (kind == PathKind::kDirectory) {
            if (o_.output) {
                error(path, "is a directory; --output takes a file");
                return;
            }
            WalkDrawings(
                path, o_.recursive, lessIgnoringCase,
                [this](const Drawing& drawing) { convertOne(drawing); },
                [this](const std::string& directory, const IoError& e) { error(directory, e); }, fs_);
        } else if (kind == PathKind::kRegular) {
            convertOne(Drawing::FromPath(path));
        } else {
            error(path, "not a regular file");
        }
    }

    // `drawing.Named()` is its name for the user: as given on the command
    // line, or its directory's path and its name.
    void convertOne(const Drawing& drawing)
    {
        ++seen_;
        const std::string path = drawing.Named();
        if (StopSignal() != 0) {
            // The batch ends: nothing more is started. The drawings before
            // are put in place and reported; the drawing the stop came
            // before is named, as if its pass had begun.
            batch_.finish();
            interrupted(path);
            return;
        }
        const std::string& name = drawing.name;
        if (o_.restore) {
            restoreOne(drawing);
            return;
        }
        if (o_.switches.keepBackup && !o_.dryRun && BackupName(name) == name) {
            error(path, "the backup would take the file's own name; use --no-backup");
            return;
        }
        std::error_code ec;
        // (The path is UTF-8, on Windows too.)
        const fs::path file(std::u8string(path.begin(), path.end()));
        const bool bar = terminal_ && !o_.quiet && fs::file_size(file, ec) >= kProgressBarFrom;
        ProgressBar progress(out_, name, bar);
        const ProgressSink sink = [&progress](int percent) { progress.show(percent); };
        try {
            PassReport report;
            if (o_.dryRun)
                report = InspectFile(drawing, o_.switches, sink, fs_, &batch_);
            else if (o_.output)
                report = ConvertToFile(drawing, Drawing::FromPath(*o_.output), o_.switches, sink, fs_);
            else
                report = Convert(drawing, o_.switches, sink, fs_, &batch_);
            progress.clear();
            // In place, the outcome comes through the batch.
            if (!report.pending)
                finished({drawing, report, nullptr});
        } catch (const ConversionError&) {
            progress.clear();
            finished({drawing, {}, std::current_exception()});
        } catch (const Interrupted&) {
            // No failure of the drawing's: it stays as it was.
            progress.clear();
            interrupted(path);
        }
    }

    // Puts a drawing's backup back in its place, or with -n says it would.
    void restoreOne(const Drawing& drawing)
    {
        const std::string path = drawing.Named();
        try {
            const RestoreReport report = Restore(drawing, o_.dryRun, fs_);
            if (!report.found) {
                error(path, ioErrorText(kFileNotFound));
            } else if (!report.backupFound) {
                error(path, "no backup " + QuoteName(report.backupName) + " to restore from");
            } else {
                ++done_;
                if (!o_.quiet)
                    out_.line(StandardStream::kOutput, QuoteName(path) + ": " + (o_.dryRun ? "would restore" : "restored")
                                                           + " from " + QuoteName(report.backupName));
            }
        } catch (const ConversionError& e) {
            error(path, e);
        } catch (const Interrupted&) {
            interrupted(path);
        }
    }

    // Says once which drawing a stop left as it was.
    void interrupted(const std::string& path)
    {
        if (!interruptionReported_)
            out_.line(StandardStream::kError, std::string(kProgram) + ": " + QuoteName(path) + ": interrupted, left as it was");
        interruptionReported_ = true;
    }

    void summarise(const std::string& path, const std::string& name, const PassReport& r)
    {
        auto count = [](std::uint64_t n, const char* what) {
            return std::to_string(n).append(" ").append(what).append(n == 1 ? "" : "s");
        };
        const bool dry = o_.dryRun;
        std::string line = QuoteName(path) + ": ";
        line += o_.switches.recodeTexts ? (dry ? "would recode " : "recoded ") + count(r.textsRecoded, "text")
                                        : std::string("texts left alone");
        line += ", ";
        line += o_.switches.renumberColours()
                    ? (dry ? "would renumber " : "renumbered ") + count(r.coloursRenumbered, "colour")
                    : std::string("colours left alone");
        line += ", ";
        line += (dry ? "would set " : "set ") + count(r.codePagesSet, "code page value");
        if (o_.output)
            line += "; written to " + QuoteName(*o_.output);
        else if (o_.switches.keepBackup && !o_.dryRun)
            line += "; backup " + QuoteName(BackupName(name));
        if (!r.modeKept)
            line += "; warning: its permissions could not be kept";
        if (!r.ownerKept || !r.groupKept)
            line += std::string("; warning: its ") + (r.ownerKept ? "group" : r.groupKept ? "owner" : "owner and group")
                    + " could not be kept, it is now yours";
        out_.line(StandardStream::kOutput, line);
        if (r.charsLost != 0) {
            std::string lines;
            for (const auto n : r.lostCharLines) {
                if (!lines.empty())
                    lines += ", ";
                lines += std::to_string(n);
            }
            if (r.lostCharLines.size() == PassReport::kMaxLostLines)
                lines += ", ...";
            out_.line(StandardStream::kError, std::string(kProgram) + ": " + QuoteName(path) + ": warning: " + std::to_string(r.charsLost)
                                  + (r.charsLost == 1 ? " character" : " characters")
                                  + " with no counterpart in the target code page became spaces ("
                                  + (r.lostCharLines.size() == 1 ? "line " : "lines ") + lines + ")");
        }
    }

    // What became of a drawing: from the batch (on its thread, or on this
    // one), or from a dry run or a conversion to another file.
    void finished(const Batch::Outcome& outcome)
    {
        const std::string path = outcome.drawing.Named();
        const PassReport& report = outcome.report;
        try {
            if (outcome.failure)
                std::rethrow_exception(outcome.failure);
            if (!report.found) {
                error(path, ioErrorText(kFileNotFound));
                return;
            }
            if (report.repeated) {
                // Named twice (or once more through a link): converting it
                // again would change it twice and put the once-converted
                // file in the backup.
                if (!o_.quiet)
                    out_.line(StandardStream::kOutput, QuoteName(path) + ": skipped, the same file as one "
                                          + (o_.dryRun ? "checked" : "converted") + " before");
                return;
            }
            ++done_;
            if (!o_.quiet)
                summarise(path, outcome.drawing.name, report);
        } catch (const ConversionError& e) {
            error(path, e);
        }
    }

    const Options& o_;
    FileSystem& fs_;
    Output& out_;
    const bool terminal_;
    std::size_t seen_ = 0;      // drawings met
    bool interruptionReported_ = false;
    std::atomic<std::size_t> done_ = 0;
    std::atomic<std::size_t> failed_ = 0;
    Batch batch_;  // last: its outcomes go to the members above
};

}  // namespace

int RunCli(const std::vector<std::string>& args, FileSystem& fs)
{
    bool stop = false;
    int stopCode = 0;
    Options options;
    try {
        options = parse(args, fs, stop, stopCode);
    } catch (const UsageError& e) {
        WriteText(StandardStream::kError, std::string(kProgram) + ": " + e.message + "\nTry '" + kProgram + " --help'.\n");
        return 2;
    }
    if (stop)
        return stopCode;
    // A closed pipe or the file-size limit fails a write with its error:
    // the drawing is left as it was and reported, the rest goes on.
    IgnoreSignalsOfFailedWrites();
    // Ctrl-C, kill or a closed terminal stop the pass under way, let the
    // drawings already converted be replaced and reported, then end the
    // program by that signal.
    StopPassesOnSignals();
    Output output;
    int code = Runner(options, fs, output).run();
    int outputError = output.stdoutError();
    if (std::fflush(stdout) != 0 && outputError == 0)
        outputError = errno;
    if (outputError != 0) {
        // The report is lost, not the work: as GNU tools say so.
        std::fprintf(stderr, "%s: write error: %s\n", kProgram, std::strerror(outputError));
        code = 1;
    }
    if (const int signal = StopSignal())
        EndBySignal(signal);
    return code;
}

}  // namespace dxfkonv::cli
