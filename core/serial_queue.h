#pragma once

#include "core/promised.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// A serial dispatch queue: one worker thread running work items in the order
// they were submitted. The label names the thread (as far as the kernel's
// 15-character limit allows) so that a stack dump shows whose work it is.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    // Runs everything already submitted, then stops the worker. Work submitted
    // from inside a work item during destruction still runs.
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    void async(std::function<void()> work);
    // Runs `work` on the queue after everything submitted before it and waits
    // for it. Must not be called from the queue's own thread.
    void sync(const std::function<void()>& work);
    // Runs `work` on the queue after everything submitted before it; the
    // future gives its result.
    template <class Work>
    QFuture<std::invoke_result_t<Work&>> run(Work work)
    {
        return promised([this](std::function<void()> job) { async(std::move(job)); }, std::move(work));
    }

    bool isCurrent() const { return std::this_thread::get_id() == worker_.get_id(); }

    // The name the kernel holds for a thread labelled `label`.
    static std::string threadName(const std::string& label);

private:
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> pending_;
    bool stopping_ = false;
    std::thread worker_;
};

// The label of a queue of this application: the application identifier plus
// a suffix such as ".writer".
std::string queueLabel(const char* suffix);
