#include "engine/replace/Convert.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "engine/IoError.h"
#include "engine/pass/BackgroundIo.h"
#include "engine/platform/ContentHash.h"
#include "engine/pass/HandOff.h"
#include "engine/rules/DxfRules.h"

namespace dxfkonv {

namespace {

constexpr std::size_t kDrainChunk = 1 << 20;
// Inputs smaller than this are read and written by the pass itself: a
// thread would cost more to start than it saves.
constexpr std::uint64_t kBackgroundIoFrom = 4u << 20;

// The drawing as the pass reads it, counted, and hashed when `hash` is
// given.
class InputSource final : public ByteSource {
public:
    InputSource(InputFile& file, ContentHash* hash) : file_(file), hash_(hash) {}
    std::size_t read(char* buffer, std::size_t n) override
    {
        // Every pass reads its drawing block by block, and nothing else
        // reads through here: where a signal stops a pass.
        if (const int signal = StopSignal())
            throw Interrupted(signal);
        const std::size_t got = file_.read(buffer, n);
        total_ += got;
        if (hash_)
            hash_->add(buffer, got);
        return got;
    }
    // Neither counted nor hashed: the pass reads the same bytes with
    // read() as well.
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override
    {
        if (const int signal = StopSignal())
            throw Interrupted(signal);
        return file_.readAt(offset, buffer, n);
    }

    // Reads on to the end (where the pass stopped at an end-of-file mark)
    // and says how many bytes the file gave in all.
    std::uint64_t total()
    {
        std::unique_ptr<char[]> rest;
        for (;;) {
            if (!rest)
                rest.reset(new char[kDrainChunk]);
            if (read(rest.get(), kDrainChunk) == 0)
                return total_;
        }
    }

private:
    InputFile& file_;
    ContentHash* hash_;
    std::uint64_t total_ = 0;
};

class WorkSink final : public ByteSink {
public:
    explicit WorkSink(WorkFile& file) : file_(file) {}
    void write(const char* data, std::size_t n) override { file_.write(data, n); }

private:
    WorkFile& file_;
};

class NullSink final : public ByteSink {
public:
    void write(const char*, std::size_t) override {}
    bool discards() const override { return true; }
};

// Runs the pass from `in` into `out`, on threads of their own for reading
// and writing when the input is large enough to gain from them. `read`,
// when given, is told how many bytes the input gave in all; `hash`, when
// given, is given them all.
PassReport runPass(InputFile& in, std::uint64_t inputSize, ByteSink& out, const ConversionSwitches& switches,
                   const ProgressSink& progress, const AskConvertAgain& ask, std::uint64_t* read = nullptr,
                   ContentHash* hash = nullptr)
{
    InputSource input(in, hash);
    PassReport report;
    if (inputSize < kBackgroundIoFrom) {
        report = ConvertStream(input, out, inputSize, switches, progress);
    } else {
        ReadAheadSource source(input);
        WriteBehindSink sink(out);
        report = ConvertStream(source, sink, inputSize, switches, progress);
        sink.finish();
    }
    if (read)
        *read = input.total();
    // A drawing converted before is refused at the end of its pass, its
    // work file then going with it, unless it is to be converted again.
    if (report.alreadyConverted && !switches.convertAgain) {
        const std::string codePage(CodePageValue(switches.textDirection == kLatinToWindows));
        if (!ask || !ask(codePage))
            throw Refusal(kAlreadyConverted, codePage);
    }
    return report;
}

// Refuses to go on when the file read (as it was when the pass began:
// `before`) was changed by another program while the pass read it: cut
// short, written to or grown, or when the pass did not read exactly its
// size. Its content is then neither what the pass converted nor a fit
// backup. Once a backup is linked to it, its change time is the link's.
void requireUnchanged(const FileState& before, const FileState& now, std::uint64_t read, bool linked = false)
{
    if (now.size != before.size || now.modified != before.modified || (!linked && now.changed != before.changed)
        || read != before.size)
        throw IoError(kChangedMeanwhile, "its size or times changed while it was read");
}

// Refuses to go on unless the name found still leads to the file `key`:
// another program has put something else there.
void requireStillThere(FileSystem& fs, const Found& found, const FileKey& key)
{
    const std::optional<FileState> now = fs.lookUp(*found.directory, found.name);
    if (!now || now->key != key)
        throw IoError(kFileInUse, "the name leads to another file than the one read");
}

// The names that give the same backup name as `name`: its stem (the name
// cut before its last ".") followed by ".dxf" in each of its eight letter
// cases, and the stem alone where it has no "." ("PLAN", "PLAN.dxf" and
// "PLAN.DXF" all back up to "PLAN.old"). A file system that compares
// names without regard to case finds every other spelling through these.
std::vector<std::string> namesSharingTheBackup(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    std::vector<std::string> names;
    for (unsigned upper = 0; upper < 8; ++upper) {
        std::string extension = ".dxf";
        for (unsigned i = 0; i < 3; ++i)
            if (upper & (1u << i))
                extension[i + 1] = static_cast<char>(extension[i + 1] - 'a' + 'A');
        names.push_back(stem + extension);
    }
    if (!stem.empty() && stem.find('.') == std::string::npos)
        names.push_back(stem);
    return names;
}

// What the name `name` in `directory` leads to where that is a regular
// file other than `self`: another drawing. A symbolic link counts as what
// it leads to, as a directory's listing counts it; one the pass may not
// follow still leads to a file somebody may convert, and counts too.
std::optional<FileKey> otherDrawing(FileSystem& fs, Directory& directory, const std::string& name,
                                    const FileKey& self)
{
    std::optional<FileState> there;
    try {
        there = fs.lookUp(directory, name);
    } catch (const IoError& e) {
        // A name longer than the system takes: nothing can have it.
        if (e.code() == kInvalidFilename)
            return std::nullopt;
        throw;
    }
    if (!there)
        return std::nullopt;
    if (!there->regular) {
        try {
            const Found target = fs.find(&directory, "", name);
            if (!target.regular())
                return std::nullopt;
            there = target.state;
        } catch (const IoError& e) {
            if (e.code() != kFileAccessDenied)
                throw;
        }
    }
    if (there->key == self)
        return std::nullopt;
    return there->key;
}

bool equalIgnoringCase(const std::string& a, const std::string& b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [&lower](char x, char y) { return lower(x) == lower(y); });
}

// The other drawing's name as its directory spells it, for the message: a
// lookup on a file system that ignores case finds "plan.DXF" as
// "PLAN.dxf". Only read in the rare case of a shared backup name.
std::string spelledAsListed(FileSystem& fs, Directory& directory, const std::string& looked, const FileKey& other)
{
    try {
        const DirectoryListing listing = fs.list(directory);
        for (const std::string& name : listing.drawings)
            if (name == looked)
                return name;
        for (const std::string& name : listing.drawings) {
            const Found found = fs.find(&directory, "", name);
            if (found.state && found.state->key == other)
                return name;
        }
        // A file system that ignores case and numbers each spelling apart.
        for (const std::string& name : listing.drawings)
            if (equalIgnoringCase(name, looked))
                return name;
    } catch (const IoError&) {
        // Unreadable: the name looked up is near enough.
    }
    return looked;
}

// `name` with the case of each ASCII letter turned.
std::string caseTurned(const std::string& name)
{
    std::string turned = name;
    for (char& c : turned) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return turned;
}

// Whether the file system of `directory` compares names without regard to
// case, as exFAT, FAT and NTFS do: the drawing `name` (the file `self`)
// is found under its name in the other case too. Some of them (exFAT
// through FUSE) give each spelling a number of its own, so where the
// other spelling leads to another number the listing says whether that
// is a file of its own.
bool foldsCase(FileSystem& fs, Directory& directory, const std::string& name, const FileKey& self)
{
    const std::string turned = caseTurned(name);
    if (turned == name)
        return false;
    const std::optional<FileState> there = fs.lookUp(directory, turned);
    if (!there)
        return false;
    if (there->key == self)
        return true;
    const DirectoryListing listing = fs.list(directory);
    for (const std::string& listed : listing.drawings)
        if (listed == turned)
            return false;
    return true;
}

// Refuses a drawing whose backup name another drawing of the directory
// the backup goes to also has: one backup would replace the other, and
// with it the other drawing's original. `self` is the drawing read, which
// another of its names (a hard link, a link) does not make another
// drawing. Where the file system ignores case, the other spellings of the
// drawing's own name lead to the drawing itself; `folds` says so, and is
// worked out here when the caller does not know it yet.
void requireOwnBackupName(FileSystem& fs, Directory& directory, const std::string& name,
                          const std::string& backupName, const FileKey& self, std::optional<bool>& folds)
{
    for (const std::string& candidate : namesSharingTheBackup(name)) {
        if (candidate == name)
            continue;
        if (equalIgnoringCase(candidate, name)) {
            if (!folds)
                folds = foldsCase(fs, directory, name, self);
            if (*folds)
                continue;
        }
        if (const std::optional<FileKey> other = otherDrawing(fs, directory, candidate, self))
            throw Refusal(kSharedBackupName, spelledAsListed(fs, directory, candidate, *other), backupName);
    }
}

// The backup name of the drawing `drawing`, unless the switches or its own
// name leave it without a backup.
std::optional<std::string> backupNameOf(const Drawing& drawing, const ConversionSwitches& switches)
{
    std::optional<std::string> backupName = BackupName(drawing.name);
    if (!switches.keepBackup || *backupName == drawing.name)
        backupName.reset();
    return backupName;
}

// Opens the drawing found for its replace and makes every check that can
// be made before anything is written: one pass at a time, the name still
// leading to the file held, a file the caller may replace, and a backup
// name of its own. A dry run makes them too, so that it meets what the
// conversion would meet. `state` is the file as it is from here on.
std::unique_ptr<InputFile> holdForReplace(FileSystem& fs, const Found& found, const Drawing& drawing,
                                          const std::optional<std::string>& backupName, FileState& state,
                                          Batch* batch = nullptr)
{
    auto in = fs.open(found, true);
    state = in->state();
    requireStillThere(fs, found, state.key);
    fs.requireReplaceable(found);
    // The file as it is from here on: the pass checks at its end that
    // nobody changed it meanwhile.
    state = in->state();
    // The backup goes beside the name given, a link's as well.
    if (backupName) {
        Directory& backupDirectory = found.namedIn ? *found.namedIn : *found.directory;
        // Whether its file system ignores case is worked out once a batch.
        const FileKey key = batch ? backupDirectory.key() : FileKey{};
        std::optional<bool> folds = batch ? batch->foldsCase(key) : std::nullopt;
        requireOwnBackupName(fs, backupDirectory, drawing.name, *backupName, state.key, folds);
        if (batch && folds)
            batch->rememberFoldsCase(key, *folds);
    }
    return in;
}

PassReport notFound()
{
    PassReport skipped;
    skipped.found = false;
    return skipped;
}

PassReport repeated()
{
    PassReport skipped;
    skipped.repeated = true;
    return skipped;
}

// Where the work file's owner and permissions come from.
enum class Like { kInput, kFound, kNewFile };

// A drawing on its way to being replaced: the pass streams the input
// through a work file beside the name found, then the last steps put the
// work file on the disk, check that nobody changed the drawing, keep the
// backup when asked, and put the work file in its place. It owns all they
// need, so the last steps can also run later, on a batch's own thread.
class Replace {
public:
    // `input` is the file read, open (and held, when converted in place);
    // the backup, when asked for, goes beside the name the caller gave.
    Replace(FileSystem& fs, Found found, std::unique_ptr<InputFile> input, const FileState& inputState,
            const std::optional<std::string>& backupName)
        : fs_(fs), found_(std::move(found)), input_(std::move(input)), inputState_(inputState),
          backupName_(backupName)
    {
    }

    // Runs the pass into the work file and gives that the owner and
    // permissions `like` says. `expected`, when given, is the file the name
    // must still lead to at the moment of the replace.
    void convert(const ConversionSwitches& switches, const ProgressSink& progress, const AskConvertAgain& ask,
                 Like like, std::optional<FileKey> expected, bool cleanUp = true)
    {
        expected_ = expected;
        work_ = fs_.createWorkFile(*found_.directory, inputState_.size, cleanUp ? &found_.name : nullptr);
        WorkSink sink(*work_);
        {
            const IoStep step("converting");
            // Where a change of the drawing replaced need not show in its
            // size and times, what the pass read is hashed, to be compared
            // at the end. (Converted to another file, the input is not
            // replaced: its times say enough.)
            ContentHash hash;
            const bool hashed = like == Like::kInput && !inputState_.changesShow;
            report_ = runPass(*input_, inputState_.size, sink, switches, progress, ask, &read_,
                              hashed ? &hash : nullptr);
            if (hashed)
                content_ = hash.content();
        }
        const MetadataKept kept = like == Like::kInput   ? fs_.giveMetadata(*work_, *input_)
                                  : like == Like::kFound ? fs_.giveMetadata(*work_, found_)
                                                         : fs_.giveNewFileMetadata(*work_);
        report_.ownerKept = kept.owner;
        report_.groupKept = kept.group;
        report_.modeKept = kept.mode;
    }

    const PassReport& report() const { return report_; }
    // The file the name will lead to once replaced.
    FileKey result() const { return work_->key(); }

    // The last steps. Directories are flushed through `batch` when given.
    PassReport finish(Batch* batch)
    {
        fs_.flush(*work_);
        if (expected_)
            requireStillThere(fs_, found_, *expected_);
        requireUnchanged(inputState_, input_->state(), read_);
        // The last look at the drawing comes once its backup is made and
        // before that takes its name: a change while the backup is made
        // leaves an earlier backup as it was.
        if (backupName_)
            fs_.backUp(*input_, found_.namedIn ? *found_.namedIn : *found_.directory, *backupName_,
                       [this](const Content* copied) {
                           if (copied && content_ && *copied != *content_)
                               throw IoError(kChangedMeanwhile, "the copy for the backup is not what was read");
                           requireSameAsRead(!copied);
                       });
        else
            requireSameAsRead();
        fs_.replace(*work_, *found_.directory, found_.name);
        if (batch)
            batch->flushLater(fs_, *found_.directory);
        else
            fs_.flush(*found_.directory);
        return report_;
    }

private:
    // Refuses to go on when the drawing no longer holds what the pass
    // read: by its size and times where any change shows in them, else by
    // its content, read once more. `linked`: a backup was just linked to
    // it, which moved its change time; then checked as well just before.
    void requireSameAsRead(bool linked = false)
    {
        requireUnchanged(inputState_, input_->state(), read_, linked);
        if (content_ && fs_.contentOf(*input_) != *content_)
            throw IoError(kChangedMeanwhile, "its content changed while it was converted");
    }

    FileSystem& fs_;
    Found found_;
    std::unique_ptr<InputFile> input_;
    FileState inputState_;
    std::optional<std::string> backupName_;
    std::optional<FileKey> expected_;
    std::unique_ptr<WorkFile> work_;
    std::uint64_t read_ = 0;          // bytes the input gave
    std::optional<Content> content_;  // and what they were, where hashed
    PassReport report_;
};

}  // namespace

std::string BackupName(const std::string& fileName)
{
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return fileName + ".old";
    return fileName.substr(0, dot + 1) + "old";
}

PassReport Convert(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress,
                   FileSystem& fs, Batch* batch, const AskConvertAgain& ask)
{
    // Whatever becomes of this drawing, the one before it is reported first.
    Batch::InOrder inOrder(batch);
    Found found = fs.find(drawing.opened.get(), drawing.directory, drawing.name);
    if (!found.regular())
        return notFound();
    if (batch && batch->finishing(found.state->key)) {
        // Another name of the drawing whose last steps are under way: once
        // they are done the name leads to the file written, or, as another
        // hard link, still to the file read.
        batch->finish();
        found = fs.find(drawing.opened.get(), drawing.directory, drawing.name);
        if (!found.regular())
            return notFound();
    }
    if (batch && batch->met(found.state->key))
        return repeated();
    const std::optional<std::string> backupName = backupNameOf(drawing, switches);
    FileState st;
    auto in = holdForReplace(fs, found, drawing, backupName, st, batch);
    // A batch looks for what killed passes left in each directory once.
    const bool cleanUp = !batch || batch->firstTimeIn(found.directory->key());
    auto replace = std::make_shared<Replace>(fs, std::move(found), std::move(in), st, backupName);
    replace->convert(switches, progress, ask, Like::kInput, st.key, cleanUp);
    if (!batch)
        return replace->finish(nullptr);
    // Whatever becomes of it, the batch does not convert the file it
    // writes once more.
    batch->remember(replace->result());
    return batch->finishLater([replace, batch] { return replace->finish(batch); }, replace->report(), inOrder,
                              st.key);
}

PassReport ConvertToFile(const Drawing& input, const Drawing& output, const ConversionSwitches& switches,
                         const ProgressSink& progress, FileSystem& fs)
{
    const Found source = fs.find(input.opened.get(), input.directory, input.name);
    if (!source.regular())
        throw IoError(kFileNotFound, "no regular file");
    auto in = fs.open(source, false);
    const FileState inputState = in->state();

    Found target = fs.find(output.opened.get(), output.directory, output.name);
    if (!target.directory)
        throw IoError(kFileNotFound, "no such directory");
    if (!target.state) {
        // Nothing there yet: a new file gets what a new file would get.
        Replace replace(fs, std::move(target), std::move(in), inputState, std::nullopt);
        replace.convert(switches, progress, {}, Like::kNewFile, std::nullopt);
        return replace.finish(nullptr);
    }
    if (!target.regular())
        throw IoError(kFileAccessDenied, "the output is no regular file");
    if (target.state->key == inputState.key)
        throw IoError(kFileAccessDenied, "the output is the input itself");
    fs.requireReplaceable(target);
    const FileKey existing = target.state->key;
    Replace replace(fs, std::move(target), std::move(in), inputState, std::nullopt);
    replace.convert(switches, progress, {}, Like::kFound, existing);
    return replace.finish(nullptr);
}

PassReport InspectFile(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress,
                       FileSystem& fs, Batch* batch)
{
    const Found found = fs.find(drawing.opened.get(), drawing.directory, drawing.name);
    if (!found.regular())
        return notFound();
    if (batch && batch->checked(found.directory->key(), found.name))
        return repeated();
    // What the conversion would refuse or fail at before writing, the dry
    // run reports alike.
    FileState st;
    auto in = holdForReplace(fs, found, drawing, backupNameOf(drawing, switches), st, batch);
    if (batch)
        batch->rememberChecked(found.directory->key(), found.name);
    NullSink sink;
    return runPass(*in, st.size, sink, switches, progress, {});
}

RestoreReport Restore(const Drawing& drawing, bool dryRun, FileSystem& fs)
{
    RestoreReport report;
    report.backupName = BackupName(drawing.name);
    const Found found = fs.find(drawing.opened.get(), drawing.directory, drawing.name);
    if (!found.regular()) {
        report.found = false;
        return report;
    }
    if (report.backupName == drawing.name)
        throw IoError(kFileNotFound, "a name ending in .old has no backup of its own");
    // The same checks as a conversion's: one pass at a time, a drawing the
    // caller may replace, and a backup that is this drawing's alone.
    FileState st;
    auto in = holdForReplace(fs, found, drawing, report.backupName, st);
    // The backup is beside the name given, a link's as well.
    Directory& backupDirectory = found.namedIn ? *found.namedIn : *found.directory;
    const Found backup = fs.find(&backupDirectory, "", report.backupName);
    if (!backup.regular()) {
        report.backupFound = false;
        return report;
    }
    auto old = fs.open(backup, false);
    const FileState oldState = old->state();
    if (dryRun)
        return report;

    // The backup's content into a work file that takes the drawing's owner
    // and permissions, and that in the drawing's place in one step. The
    // backup stays as it is: a restore can be repeated, and loses nothing
    // that was not converted from it.
    auto work = fs.createWorkFile(*found.directory, oldState.size, &found.name);
    std::uint64_t copied = 0;
    {
        const IoStep step("restoring", report.backupName);
        std::unique_ptr<char[]> buffer(new char[kDrainChunk]);
        for (;;) {
            if (const int signal = StopSignal())
                throw Interrupted(signal);
            const std::size_t got = old->read(buffer.get(), kDrainChunk);
            if (got == 0)
                break;
            work->write(buffer.get(), got);
            copied += got;
        }
        requireUnchanged(oldState, old->state(), copied);
    }
    fs.giveMetadata(*work, *in);
    fs.flush(*work);
    requireStillThere(fs, found, st.key);
    requireUnchanged(st, in->state(), st.size);
    fs.replace(*work, *found.directory, found.name);
    fs.flush(*found.directory);
    return report;
}

namespace {

// Runs a drawing's last steps, keeping what they throw for later.
std::pair<PassReport, std::exception_ptr> attempt(const std::function<PassReport()>& steps)
{
    try {
        return {steps(), nullptr};
    } catch (...) {
        return {PassReport{}, std::current_exception()};
    }
}

}  // namespace

Batch::Batch() = default;

Batch::Batch(Finished finished) : finished_(std::move(finished)) {}

Batch::Batch(Batch&& other) noexcept { *this = std::move(other); }

Batch& Batch::operator=(Batch&& other) noexcept
{
    if (this != &other) {
        flush();
        other.finish();
        finished_ = std::move(other.finished_);
        worker_ = std::move(other.worker_);
        noThread_ = other.noThread_;
        files_ = std::move(other.files_);
        entries_ = std::move(other.entries_);
        cleaned_ = std::move(other.cleaned_);
        foldsCase_ = std::move(other.foldsCase_);
        directories_ = std::exchange(other.directories_, {});
    }
    return *this;
}

Batch::~Batch() { flush(); }

PassReport Batch::finishLater(std::function<PassReport()> lastSteps, PassReport prepared, InOrder& inOrder,
                              const FileKey& input)
{
    if (!finished_)
        return lastSteps();
    // The drawing before ran its last steps alongside this one's pass.
    finish();
    inOrder.batch_ = nullptr;
    prepared.pending = true;
    auto stepsAndOutcome = [steps = std::move(lastSteps), finished = finished_] {
        const auto [done, failed] = attempt(steps);
        finished(done, failed);
    };
    if (!worker_ && !noThread_) {
        worker_ = std::make_unique<HandOff>();
        if (!worker_->start()) {
            worker_.reset();
            noThread_ = true;
        }
    }
    if (noThread_) {
        stepsAndOutcome();
    } else {
        pendingInput_ = input;
        worker_->run(std::move(stepsAndOutcome));
    }
    return prepared;
}

void Batch::finish()
{
    if (worker_)
        worker_->wait();
    pendingInput_ = {};
}

void Batch::flushLater(FileSystem& fs, Directory& directory)
{
    // The drawing is replaced by now: nothing here may fail it.
    FileKey key;
    std::unique_ptr<Directory> copy;
    try {
        key = directory.key();
        for (const auto& waiting : directories_)
            if (waiting.key == key)
                return;
        copy = fs.reopen(directory);
    } catch (const IoError&) {
        fs.flush(directory);  // no handle to keep: flush it now
        return;
    }
    if (directories_.size() == kMaxWaitingDirectories) {
        Waiting oldest = std::move(directories_.front());
        directories_.pop_front();
        oldest.fs->flush(*oldest.directory);
    }
    directories_.push_back({key, &fs, std::move(copy)});
}

void Batch::flush()
{
    finish();
    for (const auto& waiting : directories_)
        waiting.fs->flush(*waiting.directory);
    directories_.clear();
}

}  // namespace dxfkonv
