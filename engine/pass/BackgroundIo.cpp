#include "engine/pass/BackgroundIo.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace dxfkonv {

namespace {

constexpr std::size_t kReadBlock = 1 << 20;  // for read(), which names no size

}  // namespace

// ---- reading ahead ---------------------------------------------------------

ReadAheadSource::ReadAheadSource(ByteSource& source) : source_(source) {}

ReadAheadSource::~ReadAheadSource() = default;

void ReadAheadSource::readNext(std::size_t size, std::size_t capacity)
{
    reader_.run([this, size, capacity, job = job_] {
        try {
            got_ = fill(block_.get(), size, capacity, job);
            ended_ = got_ == 0;
        } catch (...) {
            failure_ = std::current_exception();
            ended_ = true;
        }
    });
}

std::size_t ReadAheadSource::readBuffer(Block& buffer, std::size_t size, std::size_t capacity)
{
    if (alone_)
        return fill(buffer.get(), size, capacity, job_);
    if (!reader_.running()) {
        // The first block: nothing was read ahead yet.
        if (!reader_.start()) {
            alone_ = true;
            return fill(buffer.get(), size, capacity, job_);
        }
        block_ = NewBlock(size);
        readNext(size, capacity);
    }
    reader_.wait();
    if (failure_)
        std::rethrow_exception(failure_);
    if (ended_ && got_ == 0)
        return 0;
    std::swap(buffer, block_);
    const std::size_t got = std::exchange(got_, 0);
    if (!ended_)
        readNext(size, capacity);  // into the buffer given back
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

std::size_t ReadAheadSource::readAt(std::uint64_t offset, char* buffer, std::size_t n)
{
    // The source is used by one thread at a time.
    reader_.wait();
    return source_.readAt(offset, buffer, n);
}

bool ReadAheadSource::takeBlockJob(BlockJob* job)
{
    reader_.wait();  // a block under way is done with the job it had
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
    writer_.start();
}

WriteBehindSink::~WriteBehindSink() = default;

// Waits for the buffer in hand to be written; rethrows a failure.
void WriteBehindSink::drain()
{
    writer_.wait();
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
    if (!writer_.running()) {
        target_.write(buffer.get(), n);
        return;
    }
    drain();
    if (!pending_)
        pending_ = NewBlock(capacity);
    std::swap(buffer, pending_);
    pendingSize_ = n;
    writer_.run([this] {
        try {
            target_.write(pending_.get(), pendingSize_);
        } catch (...) {
            failure_ = std::current_exception();
        }
    });
}

void WriteBehindSink::finish()
{
    drain();
}

}  // namespace dxfkonv
