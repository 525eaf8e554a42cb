#include "core/serial_queue.h"

#include "core/version.h"

#include <cassert>
#include <pthread.h>

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label))
{
    worker_ = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (worker_.joinable())
        worker_.join();
}

void SerialQueue::async(std::function<void()> work)
{
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void SerialQueue::sync(const std::function<void()>& work)
{
    assert(!isCurrent() && "sync on its own queue would wait forever");
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    async([&] {
        work();
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

std::string SerialQueue::threadName(const std::string& label)
{
    // Drop leading dot-separated components until the rest fits: the suffix
    // is what tells the queues apart.
    std::string name = label;
    while (name.size() > 15) {
        auto dot = name.find('.');
        if (dot == std::string::npos || dot + 1 >= name.size())
            return name.substr(name.size() - 15);
        name = name.substr(dot + 1);
    }
    return name;
}

void SerialQueue::run()
{
    pthread_setname_np(pthread_self(), threadName(label_).c_str());
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            if (pending_.empty())
                return;
            work = std::move(pending_.front());
            pending_.pop_front();
        }
        work();
    }
}

std::string queueLabel(const char* suffix)
{
    return std::string(KORVALA_APP_ID) + suffix;
}
