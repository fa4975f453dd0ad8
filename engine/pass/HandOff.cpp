#include "engine/pass/HandOff.h"

#include <system_error>
#include <utility>

namespace dxfkonv {

namespace {

// Runs `work` on a thread of its own; false where the system gives none.
bool startThread(std::thread& thread, std::function<void()> work)
{
    try {
        thread = std::thread(std::move(work));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace

HandOff::~HandOff()
{
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool HandOff::start() { return startThread(thread_, [this] { loop(); }); }

void HandOff::loop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || stopping_; });
        if (!busy_)
            return;
        lock.unlock();
        job_();
        job_ = nullptr;  // what the job owned goes with it
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

void HandOff::run(std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        busy_ = true;
    }
    changed_.notify_all();
}

void HandOff::wait()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
}

}  // namespace dxfkonv
