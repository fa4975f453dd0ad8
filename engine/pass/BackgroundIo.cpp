#include "engine/pass/BackgroundIo.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

namespace dxfkonv {

namespace {

constexpr std::size_t kReadBlock = 1 << 20;  // for read(), which names no size

}  // namespace

bool StartThread(std::thread& thread, std::function<void()> work)
{
    try {
        thread = std::thread(std::move(work));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// ---- reading ahead ---------------------------------------------------------

ReadAheadSource::ReadAheadSource(ByteSource& source) : source_(source) {}

ReadAheadSource::~ReadAheadSource()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void ReadAheadSource::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return wanted_ || stopping_; });
        if (stopping_)
            return;
        BlockJob* const job = job_;
        lock.unlock();
        std::size_t got = 0;
        std::exception_ptr failed;
        try {
            got = fill(block_.get(), size_, capacity_, job);
        } catch (...) {
            failed = std::current_exception();
        }
        lock.lock();
        got_ = got;
        failure_ = failed;
        ended_ = got == 0 || failed;
        wanted_ = false;
        changed_.notify_all();
        if (ended_)
            return;
    }
}

std::size_t ReadAheadSource::readBuffer(Block& buffer, std::size_t size, std::size_t capacity)
{
    if (alone_)
        return fill(buffer.get(), size, capacity, job_);
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) {
        // The first block: nothing was read ahead yet.
        if (!StartThread(thread_, [this] { work(); })) {
            alone_ = true;
            lock.unlock();
            return fill(buffer.get(), size, capacity, job_);
        }
        block_ = NewBlock(size);
        size_ = size;
        capacity_ = capacity;
        wanted_ = true;
        changed_.notify_all();
    }
    changed_.wait(lock, [this] { return !wanted_; });
    if (failure_)
        std::rethrow_exception(failure_);
    if (ended_ && got_ == 0)
        return 0;
    std::swap(buffer, block_);
    const std::size_t got = got_;
    got_ = 0;
    if (!ended_) {
        // The buffer given back is the next one to fill.
        size_ = size;
        capacity_ = capacity;
        wanted_ = true;
        changed_.notify_all();
    }
    return got;
}

// One read, and the job on what came; on the reading thread, or in the
// caller's where no thread could be had.
std::size_t ReadAheadSource::fill(char* buffer, std::size_t size, std::size_t capacity, BlockJob* job)
{
    const std::size_t got = source_.read(buffer, capacity);
    if (job && got != 0)
        job->run(buffer, got, size);
    return got;
}

bool ReadAheadSource::takeBlockJob(BlockJob* job)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !wanted_; });
    job_ = job;
    return true;
}

std::size_t ReadAheadSource::read(char* buffer, std::size_t n)
{
    if (leftAt_ == leftEnd_) {
        if (!left_)
            left_ = NewBlock(kReadBlock);
        leftAt_ = 0;
        leftEnd_ = readBuffer(left_, kReadBlock, kReadBlock);
    }
    n = std::min(n, leftEnd_ - leftAt_);
    std::memcpy(buffer, left_.get() + leftAt_, n);
    leftAt_ += n;
    return n;
}

// ---- writing behind --------------------------------------------------------

WriteBehindSink::WriteBehindSink(ByteSink& target) : target_(target)
{
    StartThread(thread_, [this] { work(); });
}

WriteBehindSink::~WriteBehindSink()
{
    if (!thread_.joinable())
        return;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void WriteBehindSink::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || stopping_; });
        if (!busy_)
            return;
        if (!failure_) {
            lock.unlock();
            std::exception_ptr failed;
            try {
                target_.write(pending_.get(), pendingSize_);
            } catch (...) {
                failed = std::current_exception();
            }
            lock.lock();
            failure_ = failed;
        }
        busy_ = false;
        changed_.notify_all();
    }
}

// Waits for the buffer in hand to be written; rethrows a failure.
void WriteBehindSink::drain()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (failure_)
        std::rethrow_exception(failure_);
}

void WriteBehindSink::write(const char* data, std::size_t n)
{
    drain();
    target_.write(data, n);
}

void WriteBehindSink::writeBuffer(Block& buffer, std::size_t n, std::size_t capacity)
{
    if (!thread_.joinable()) {
        target_.write(buffer.get(), n);
        return;
    }
    drain();
    if (!pending_)
        pending_ = NewBlock(capacity);
    {
        std::lock_guard lock(mutex_);
        std::swap(buffer, pending_);
        pendingSize_ = n;
        busy_ = true;
    }
    changed_.notify_all();
}

void WriteBehindSink::finish()
{
    drain();
}

}  // namespace dxfkonv
