// The conversion of one drawing: the pass run from the drawing into a
// work file beside it, and the last steps that put that in its place;
// also the conversion to another file and the dry run.
#include "engine/replace/Convert.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "engine/IoError.h"
#include "engine/pass/BackgroundIo.h"
#include "engine/platform/ContentHash.h"
#include "engine/replace/Checks.h"
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
    InputSource(HeldDrawing& file, ContentHash* hash) : file_(file), hash_(hash) {}
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
    HeldDrawing& file_;
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

// Runs the pass from the drawing `held` into `out`, on threads of their own for reading
// and writing when the input is large enough to gain from them. `read`,
// when given, is told how many bytes the input gave in all; `hash`, when
// given, is given them all.
PassReport runPass(HeldDrawing& held, std::uint64_t inputSize, ByteSink& out, const ConversionSwitches& switches,
                   const ProgressSink& progress, const AskConvertAgain& ask, std::uint64_t* read = nullptr,
                   ContentHash* hash = nullptr)
{
    InputSource input(held, hash);
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

// The backup name of the drawing `drawing`, unless the switches or its own
// name leave it without a backup.
std::optional<std::string> backupNameOf(const Drawing& drawing, const ConversionSwitches& switches)
{
    std::optional<std::string> backupName = BackupName(drawing.name);
    if (!switches.keepBackup || *backupName == drawing.name)
        backupName.reset();
    return backupName;
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
    // `held` is the drawing read, open (and held, when converted in place);
    // the backup, when asked for, goes beside the name the caller gave.
    Replace(Found found, std::unique_ptr<HeldDrawing> held, const FileState& inputState,
            const std::optional<std::string>& backupName)
        : found_(std::move(found)), held_(std::move(held)), inputState_(inputState), backupName_(backupName)
    {
    }

    // Runs the pass into the work file and gives that the owner and
    // permissions `like` says. `expected`, when given, is the file the name
    // must still lead to at the moment of the replace.
    void convert(const ConversionSwitches& switches, const ProgressSink& progress, const AskConvertAgain& ask,
                 Like like, std::optional<FileKey> expected, bool cleanUp = true)
    {
        expected_ = expected;
        // A work file made for the drawing read takes its owner and
        // permissions; one made for the name found, those of what is there.
        const HoldsWorkContent leftBehind = cleanUp ? &holdsWorkFileContent : nullptr;
        work_ = like == Like::kInput ? held_->createWorkFile(inputState_.size, leftBehind)
                                     : found_.directory->createWorkFile(found_.name, inputState_.size, leftBehind);
        WorkSink sink(*work_);
        {
            const IoStep step("converting");
            // Where a change of the drawing replaced need not show in its
            // size and times, what the pass read is hashed, to be compared
            // at the end. (Converted to another file, the input is not
            // replaced: its times say enough.)
            ContentHash hash;
            const bool hashed = like == Like::kInput && !inputState_.changesShow;
            report_ = runPass(*held_, inputState_.size, sink, switches, progress, ask, &read_,
                              hashed ? &hash : nullptr);
            if (hashed)
                content_ = hash.content();
        }
        const MetadataKept kept = like == Like::kNewFile ? work_->takeNewFileMetadata() : work_->takeMetadata();
        report_.ownerKept = kept.owner;
        report_.groupKept = kept.group;
        report_.modeKept = kept.mode;
    }

    const PassReport& report() const { return report_; }
    // The file the name will lead to once replaced.
    FileKey result() const { return work_->key(); }

    // The last steps, in two: the work file put on the disk, and the
    // rest. Directories are flushed through `batch` when given.
    void flush() { work_->flush(); }
    bool flushFileSystem() { return work_->flushFileSystem(); }
    PassReport complete(Batch* batch)
    {
        if (expected_)
            requireStillThere(found_, *expected_);
        requireUnchanged(inputState_, held_->state(), read_);
        // The last look at the drawing comes once its backup is made and
        // before that takes its name: a change while the backup is made
        // leaves an earlier backup as it was. It goes beside the name the
        // caller gave, a link's as well.
        if (backupName_)
            held_->backUp(*backupName_, [this](const Content* copied) {
                if (copied && content_ && *copied != *content_)
                    throw IoError(kChangedMeanwhile, "the copy for the backup is not what was read");
                requireSameAsRead(!copied);
            });
        else
            requireSameAsRead();
        work_->keep();
        if (batch)
            batch->flushLater(*found_.directory);
        else
            found_.directory->flush();
        return report_;
    }
    PassReport finish(Batch* batch)
    {
        flush();
        return complete(batch);
    }

private:
    // Refuses to go on when the drawing no longer holds what the pass
    // read: by its size and times where any change shows in them, else by
    // its content, read once more. `linked`: a backup was just linked to
    // it, which moved its change time; then checked as well just before.
    void requireSameAsRead(bool linked = false)
    {
        requireUnchanged(inputState_, held_->state(), read_, linked);
        if (content_ && held_->contentOf() != *content_)
            throw IoError(kChangedMeanwhile, "its content changed while it was converted");
    }

    Found found_;
    std::unique_ptr<HeldDrawing> held_;
    FileState inputState_;
    std::optional<std::string> backupName_;
    std::optional<FileKey> expected_;
    std::unique_ptr<WorkFile> work_;
    std::uint64_t read_ = 0;          // bytes the input gave
    std::optional<Content> content_;  // and what they were, where hashed
    PassReport report_;
};

// A drawing's last steps, queued in a batch.
class QueuedReplace final : public Batch::LastSteps {
public:
    explicit QueuedReplace(std::unique_ptr<Replace> replace) : replace_(std::move(replace)) {}
    void flush() override { replace_->flush(); }
    bool flushFileSystem() override { return replace_->flushFileSystem(); }
    PassReport complete(Batch& batch) override { return replace_->complete(&batch); }

private:
    std::unique_ptr<Replace> replace_;
};

// Convert() up to the queue of a batch, or with `batch` null or running
// each drawing's last steps at once, to the end.
PassReport convertOrQueue(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress,
                          FileSystem& fs, Batch* batch, const AskConvertAgain& ask)
{
    Found found = drawing.Find(fs);
    if (!found.regular())
        return notFound();
    if (batch && batch->finishing(found.state->key)) {
        // Another name of a drawing waiting to be replaced: once it is,
        // the name leads to the file written, or, as another hard link,
        // still to the file read.
        batch->finish();
        found = drawing.Find(fs);
        if (!found.regular())
            return notFound();
    }
    if (batch && batch->met(found.state->key))
        return repeated();
    const std::optional<std::string> backupName = backupNameOf(drawing, switches);
    FileState st;
    auto held = holdForReplace(found, drawing, backupName, st, batch);
    // A batch looks for what killed passes left in each directory once.
    const bool cleanUp = !batch || batch->firstTimeIn(found.directory->key());
    if (batch)
        batch->aheadOf(st.size);
    auto replace = std::make_unique<Replace>(std::move(found), std::move(held), st, backupName);
    replace->convert(switches, progress, ask, Like::kInput, st.key, cleanUp);
    // Whatever becomes of it, a batch does not convert the file it writes
    // once more.
    if (batch)
        batch->remember(replace->result());
    if (!batch || !batch->queues())
        return replace->finish(batch);
    const PassReport prepared = replace->report();
    return batch->finishLater(std::make_unique<QueuedReplace>(std::move(replace)), drawing, prepared, st.key,
                              st.size);
}

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
    if (!batch || !batch->queues())
        return convertOrQueue(drawing, switches, progress, fs, batch, ask);
    // Every outcome goes through the batch's queue, in order; what stops
    // the whole batch comes once the drawings before are reported.
    PassReport queued;
    queued.pending = true;
    try {
        const PassReport report = convertOrQueue(drawing, switches, progress, fs, batch, ask);
        if (!report.pending)
            batch->done({drawing, report, nullptr});
    } catch (const ConversionError&) {
        batch->done({drawing, {}, std::current_exception()});
    } catch (...) {
        batch->finish();
        throw;
    }
    return queued;
}

PassReport ConvertToFile(const Drawing& input, const Drawing& output, const ConversionSwitches& switches,
                         const ProgressSink& progress, FileSystem& fs)
{
    const Found source = input.Find(fs);
    if (!source.regular())
        throw IoError(kFileNotFound, "no regular file");
    auto held = source.directory->open(source.name, false);
    const FileState inputState = held->state();

    Found target = output.Find(fs);
    if (!target.directory)
        throw IoError(kFileNotFound, "no such directory");
    if (!target.state) {
        // Nothing there yet: a new file gets what a new file would get.
        Replace replace(std::move(target), std::move(held), inputState, std::nullopt);
        replace.convert(switches, progress, {}, Like::kNewFile, std::nullopt);
        return replace.finish(nullptr);
    }
    if (!target.regular())
        throw IoError(kFileAccessDenied, "the output is no regular file");
    if (target.state->key == inputState.key)
        throw IoError(kFileAccessDenied, "the output is the input itself");
    target.directory->requireReplaceable(target.name);
    const FileKey existing = target.state->key;
    Replace replace(std::move(target), std::move(held), inputState, std::nullopt);
    replace.convert(switches, progress, {}, Like::kFound, existing);
    return replace.finish(nullptr);
}

PassReport InspectFile(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress,
                       FileSystem& fs, Batch* batch)
{
    const Found found = drawing.Find(fs);
    if (!found.regular())
        return notFound();
    if (batch && batch->checked(found.directory->key(), found.name))
        return repeated();
    // What the conversion would refuse or fail at before writing, the dry
    // run reports alike.
    FileState st;
    auto held = holdForReplace(found, drawing, backupNameOf(drawing, switches), st, batch);
    if (batch)
        batch->rememberChecked(found.directory->key(), found.name);
    NullSink sink;
    return runPass(*held, st.size, sink, switches, progress, {});
}

}  // namespace dxfkonv
