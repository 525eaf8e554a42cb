#pragma once

// Blocking work (a round trip to a server, a join) for coroutines on the main
// thread: the work runs elsewhere and the coroutine awaits its result.

#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <memory>
#include <thread>
#include <type_traits>

// On a thread of its own, for work of objects that may outlive any pool.
template <class Work>
QFuture<std::invoke_result_t<Work>> runOnThread(Work work)
{
    using Result = std::invoke_result_t<Work>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    std::thread([promise, work = std::move(work)]() mutable {
        promise->addResult(work());
        promise->finish();
    }).detach();
    return future;
}

// On `pool`, for work that must not outlive its owner (which waits for the
// pool when it goes).
template <class Work>
QFuture<std::invoke_result_t<Work>> runOnPool(QThreadPool& pool, Work work)
{
    using Result = std::invoke_result_t<Work>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    pool.start([promise, work = std::move(work)]() mutable {
        promise->addResult(work());
        promise->finish();
    });
    return future;
}
