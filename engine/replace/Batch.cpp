// A batch's memory of the drawings it met, its queue of drawings waiting
// to replace their old selves, a group at a time, and the directory
// flushes it keeps for the end of a group.
#include "engine/replace/Batch.h"

#include <algorithm>

#include "engine/IoError.h"
#include "engine/pass/HandOff.h"

namespace dxfkonv {

namespace {

// Runs `work`, keeping what it throws for later.
std::exception_ptr attempt(const std::function<void()>& work)
{
    try {
        work();
        return nullptr;
    } catch (...) {
        return std::current_exception();
    }
}

}  // namespace

Batch::Batch() = default;

Batch::Batch(Finished finished, Threads threads)
    : finished_(std::move(finished)), noThread_(threads == Threads::kCallers)
{
}

Batch::Batch(Batch&& other) noexcept { *this = std::move(other); }

Batch& Batch::operator=(Batch&& other) noexcept
{
    if (this != &other) {
        flush();
        other.flush();
        finished_ = std::move(other.finished_);
        worker_ = std::move(other.worker_);
        flushers_ = std::move(other.flushers_);
        noThread_ = other.noThread_;
        dropping_ = other.dropping_;
        files_ = std::move(other.files_);
        entries_ = std::move(other.entries_);
        cleaned_ = std::move(other.cleaned_);
        foldsCase_ = std::move(other.foldsCase_);
    }
    return *this;
}

Batch::~Batch() { flush(); }

void Batch::done(Outcome outcome)
{
    if (dropping_)
        return;
    if (gatheredSteps_ == 0) {
        // Nothing gathered to wait for: once the group under way is in
        // place, this one is next.
        if (worker_)
            worker_->wait();
        finished_(outcome);
        return;
    }
    const bool failed = outcome.failure != nullptr;
    gathering_.push_back({std::move(outcome), nullptr, {}});
    if (failed || gathering_.size() >= kGroupOutcomes)
        closeGroup();
}

PassReport Batch::finishLater(std::unique_ptr<LastSteps> steps, const Drawing& drawing, PassReport prepared,
                              const FileKey& input, std::uint64_t size)
{
    prepared.pending = true;
    if (dropping_)
        return prepared;  // its work file goes with `steps`
    gathering_.push_back({{drawing, prepared, nullptr}, std::move(steps), input});
    ++gatheredSteps_;
    gatheredBytes_ += size;
    if (gatheredSteps_ >= kGroupDrawings || gatheredBytes_ >= kGroupBytes)
        closeGroup();
    return prepared;
}

bool Batch::finishing(const FileKey& file) const
{
    if (file == FileKey{})
        return false;
    for (const Queued& queued : gathering_)
        if (queued.steps && queued.input == file)
            return true;
    return std::find(underWayInputs_.begin(), underWayInputs_.end(), file) != underWayInputs_.end();
}

void Batch::aheadOf(std::uint64_t size)
{
    if (finished_ && gatheredSteps_ != 0 && gatheredBytes_ + size > kGroupBytes)
        closeGroup();
}

void Batch::closeGroup()
{
    if (gathering_.empty())
        return;
    if (worker_)
        worker_->wait();
    underWayInputs_.clear();
    for (const Queued& queued : gathering_)
        if (queued.steps)
            underWayInputs_.push_back(queued.input);
    auto group = std::make_shared<Group>(std::move(gathering_));
    gathering_.clear();
    gatheredSteps_ = 0;
    gatheredBytes_ = 0;
    if (!worker_ && !noThread_) {
        worker_ = std::make_unique<HandOff>();
        if (!worker_->start()) {
            worker_.reset();
            noThread_ = true;
        }
    }
    if (worker_)
        worker_->run([this, group] { runGroup(*group); });
    else
        runGroup(*group);
}

void Batch::runGroup(Group& group)
{
    // The directories the group before replaced drawings in go to the
    // disk along with this group's work files: one wait for both.
    std::deque<Waiting> directories = std::move(directories_);
    directories_.clear();
    std::vector<std::exception_ptr> failures(group.size());
    flushTogether(group, failures, directories);
    for (std::size_t i = 0; i < group.size(); ++i) {
        Queued& queued = group[i];
        if (dropping_) {
            queued.steps.reset();  // let go untouched and unreported
            continue;
        }
        if (queued.steps && !failures[i])
            failures[i] = attempt([&] { queued.outcome.report = queued.steps->complete(*this); });
        if (failures[i]) {
            queued.outcome.report = {};
            queued.outcome.failure = failures[i];
        }
        queued.outcome.report.pending = false;
        // The work file of a drawing that failed goes, and the drawing is
        // let go, before anybody hears of it.
        queued.steps.reset();
        finished_(queued.outcome);
    }
}

void Batch::flushTogether(Group& group, std::vector<std::exception_ptr>& failures, std::deque<Waiting>& directories)
{
    // Each work file and each directory on a thread of its own, this
    // one's among them, so the waits for the disk overlap; where fewer
    // threads are to be had, some take turns. A directory's flush is best
    // effort: the renames in it have happened.
    // The work files of a file system that puts all its writes on the disk
    // at once, where there are several, are flushed so by the first of
    // them, and the directories on it with them.
    std::map<std::uint64_t, std::vector<std::size_t>> onDevice;
    for (std::size_t i = 0; i < group.size(); ++i)
        if (group[i].steps)
            onDevice[group[i].input.device].push_back(i);
    std::set<std::uint64_t> flushedDevices;
    for (const auto& [device, members] : onDevice) {
        bool flushed = false;
        if (members.size() > 1)
            attempt([&] { flushed = group[members.front()].steps->flushFileSystem(); });
        if (flushed)
            flushedDevices.insert(device);
    }
    std::vector<std::function<void()>> jobs;
    for (std::size_t i = 0; i < group.size(); ++i)
        if (group[i].steps && flushedDevices.count(group[i].input.device) == 0)
            jobs.push_back([&group, &failures, i] {
                failures[i] = attempt([&] { group[i].steps->flush(); });
            });
    for (Waiting& waiting : directories)
        if (flushedDevices.count(waiting.key.device) == 0)
            jobs.push_back([&waiting] { attempt([&] { waiting.directory->flush(); }); });
    const std::size_t helpers = jobs.empty() ? 0 : std::min(jobs.size() - 1, kFlushThreads);
    while (flushers_.size() < helpers) {
        auto flusher = std::make_unique<HandOff>();
        if (!flusher->start())
            break;
        flushers_.push_back(std::move(flusher));
    }
    const std::size_t ways = std::min(helpers, flushers_.size()) + 1;
    auto share = [&jobs, ways](std::size_t way) {
        for (std::size_t k = way; k < jobs.size(); k += ways)
            jobs[k]();
    };
    for (std::size_t way = 1; way < ways; ++way)
        flushers_[way - 1]->run([&share, way] { share(way); });
    share(0);
    for (std::size_t way = 1; way < ways; ++way)
        flushers_[way - 1]->wait();
}

void Batch::finish()
{
    closeGroup();
    if (worker_)
        worker_->wait();
    underWayInputs_.clear();
}

void Batch::flushLater(Directory& directory)
{
    // The drawing is replaced by now: nothing here may fail it.
    FileKey key;
    std::unique_ptr<Directory> copy;
    try {
        key = directory.key();
        for (const auto& waiting : directories_)
            if (waiting.key == key)
                return;
        copy = directory.reopen();
    } catch (const IoError&) {
        directory.flush();  // no handle to keep: flush it now
        return;
    }
    if (directories_.size() == kMaxWaitingDirectories) {
        Waiting oldest = std::move(directories_.front());
        directories_.pop_front();
        oldest.directory->flush();
    }
    directories_.push_back({key, std::move(copy)});
}

void Batch::flushDirectories()
{
    for (const auto& waiting : directories_)
        waiting.directory->flush();
    directories_.clear();
}

void Batch::flush()
{
    finish();
    flushDirectories();
}

}  // namespace dxfkonv
