// A thread of its own that runs one job at a time, handed over by another
// thread, which waits for it to be done before it hands over the next: the
// one way work changes threads here (reading ahead, writing behind, and a
// batch's last steps of a drawing).
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace dxfkonv {

class HandOff {
public:
    HandOff() = default;
    HandOff(const HandOff&) = delete;
    HandOff& operator=(const HandOff&) = delete;
    // Waits for the job under way, then ends the thread.
    ~HandOff();

    // Starts the thread; false where the system gives none.
    bool start();
    bool running() const { return thread_.joinable(); }

    // Hands `job` over, once the job before is done (see wait()). A job
    // keeps what it throws to itself.
    void run(std::function<void()> job);
    // Waits until the job handed over is done; what it did is then seen
    // here.
    void wait();

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace dxfkonv
