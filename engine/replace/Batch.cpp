// A batch's memory of the drawings it met, the hand-over of the last
// steps to its thread, and the directory flushes it keeps for later.
#include "engine/replace/Batch.h"

#include "engine/IoError.h"
#include "engine/pass/HandOff.h"

namespace dxfkonv {

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

void Batch::flush()
{
    finish();
    for (const auto& waiting : directories_)
        waiting.directory->flush();
    directories_.clear();
}

}  // namespace dxfkonv
