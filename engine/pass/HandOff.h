// One piece of work at a time handed to a thread of its own: the owner
// sets up what the work needs, post()s it, does something else, and
// wait()s for it before it touches what the work uses again. The lock
// taken on both sides makes what one side wrote before it visible to the
// other. Work that throws is not run again; the first failure is kept.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace dxfkonv {

class HandOff {
public:
    explicit HandOff(std::function<void()> work) : work_(std::move(work)) {}

    // Waits for work under way, then ends the thread.
    ~HandOff()
    {
        if (!thread_.joinable())
            return;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !posted_; });
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    HandOff(const HandOff&) = delete;
    HandOff& operator=(const HandOff&) = delete;

    // Starts the thread; false where the system gives none, and the owner
    // does the work itself.
    bool start()
    {
        try {
            thread_ = std::thread([this] { loop(); });
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    bool started() const { return thread_.joinable(); }

    // Has the work run once more; only after wait().
    void post()
    {
        {
            std::lock_guard lock(mutex_);
            posted_ = true;
        }
        changed_.notify_all();
    }

    // Waits until the work posted is done; returns the first failure of
    // any run so far, or nothing.
    std::exception_ptr wait()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !posted_; });
        return failure_;
    }

private:
    void loop()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return posted_ || stopping_; });
            if (!posted_)
                return;
            if (!failure_) {
                lock.unlock();
                std::exception_ptr failed;
                try {
                    work_();
                } catch (...) {
                    failed = std::current_exception();
                }
                lock.lock();
                failure_ = failed;
            }
            posted_ = false;
            changed_.notify_all();
        }
    }

    const std::function<void()> work_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool posted_ = false;  // the work is to run, or runs
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace dxfkonv
