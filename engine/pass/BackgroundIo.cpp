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

ReadAheadSource::ReadAheadSource(ByteSource& source)
    : source_(source), reading_([this] { got_ = fill(block_.get(), size_, capacity_, job_); })
{
}

ReadAheadSource::~ReadAheadSource() = default;

std::size_t ReadAheadSource::readBuffer(Block& buffer, std::size_t size, std::size_t capacity)
{
    if (alone_)
        return fill(buffer.get(), size, capacity, job_);
    if (!reading_.started()) {
        // The first block: nothing was read ahead yet.
        if (!reading_.start()) {
            alone_ = true;
            return fill(buffer.get(), size, capacity, job_);
        }
        block_ = NewBlock(size);
        size_ = size;
        capacity_ = capacity;
        reading_.post();
    }
    if (const std::exception_ptr failure = reading_.wait())
        std::rethrow_exception(failure);
    if (ended_ || got_ == 0) {
        ended_ = true;
        return 0;
    }
    std::swap(buffer, block_);
    const std::size_t got = got_;
    // The buffer given back is the next one to fill.
    size_ = size;
    capacity_ = capacity;
    reading_.post();
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
    reading_.wait();  // a failure stays for the next read
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

WriteBehindSink::WriteBehindSink(ByteSink& target)
    : target_(target), writing_([this] { target_.write(pending_.get(), pendingSize_); })
{
    writing_.start();
}

WriteBehindSink::~WriteBehindSink() = default;

// Waits for the buffer in hand to be written; rethrows a failure.
void WriteBehindSink::drain()
{
    if (const std::exception_ptr failure = writing_.wait())
        std::rethrow_exception(failure);
}

void WriteBehindSink::write(const char* data, std::size_t n)
{
    drain();
    target_.write(data, n);
}

void WriteBehindSink::writeBuffer(Block& buffer, std::size_t n, std::size_t capacity)
{
    if (!writing_.started()) {
        target_.write(buffer.get(), n);
        return;
    }
    drain();
    if (!pending_)
        pending_ = NewBlock(capacity);
    std::swap(buffer, pending_);
    pendingSize_ = n;
    writing_.post();
}

void WriteBehindSink::finish()
{
    drain();
}

}  // namespace dxfkonv
