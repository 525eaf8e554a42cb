#pragma once

// Blocking work (a round trip to a server, a join) for coroutines on the main
// thread: the work runs elsewhere and the coroutine awaits its result.

#include "core/promised.h"

#include <QThreadPool>

#include <functional>
#include <thread>

// On a thread of its own, for work of objects that may outlive any pool.
template <class Work>
QFuture<std::invoke_result_t<Work&>> runOnThread(Work work)
{
    return promised([](auto job) { std::thread(std::move(job)).detach(); }, std::move(work));
}

// On `pool`, for work that must not outlive its owner (which waits for the
// pool when it goes).
template <class Work>
QFuture<std::invoke_result_t<Work&>> runOnPool(QThreadPool& pool, Work work)
{
    return promised([&pool](std::function<void()> job) { pool.start(std::move(job)); }, std::move(work));
}
