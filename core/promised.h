#pragma once

#include <QFuture>
#include <QPromise>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>

#include <exception>

#include <memory>
#include <type_traits>
#include <utility>

// Hands `work` to `submit` (a queue, a pool, a thread of its own) and gives
// its result, or what it threw, as a future that a coroutine on the main
// thread can await. The job that `submit` receives is copyable, as
// std::function wants.
template <class Submit, class Work>
QFuture<std::invoke_result_t<Work&>> promised(Submit&& submit, Work work)
{
    using Result = std::invoke_result_t<Work&>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    std::forward<Submit>(submit)([promise, work = std::move(work)]() mutable {
        try {
            promise->addResult(work());
        } catch (...) {
            promise->setException(std::current_exception());
        }
        promise->finish();
    });
    return future;
}

// A future as a task, for functions that are not coroutines themselves: GCC 12
// destroys a lambda made inside a coroutine twice.
template <class T>
QCoro::Task<T> awaited(QFuture<T> future)
{
    co_return co_await future;
}
