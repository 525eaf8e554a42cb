#pragma once

#include <QFuture>
#include <QPromise>

#include <memory>
#include <type_traits>
#include <utility>

// Hands `work` to `submit` (a queue, a pool, a thread of its own) and gives
// its result as a future that a coroutine on the main thread can await. The
// job that `submit` receives is copyable, as std::function wants.
template <class Submit, class Work>
QFuture<std::invoke_result_t<Work&>> promised(Submit&& submit, Work work)
{
    using Result = std::invoke_result_t<Work&>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    std::forward<Submit>(submit)([promise, work = std::move(work)]() mutable {
        promise->addResult(work());
        promise->finish();
    });
    return future;
}
