#pragma once

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <type_traits>

// How a task ended: its value (Done for a task without one), the error of
// type Error it threw, or anything else it threw.
struct Done {};

template <typename T, typename Error>
struct TaskOutcome {
    std::optional<std::conditional_t<std::is_void_v<T>, Done, T>> value;
    std::optional<Error> error;
    std::exception_ptr other;
};

template <typename Error, typename T>
QCoro::Task<TaskOutcome<T, Error>> captureOutcome(QCoro::Task<T> task)
{
    TaskOutcome<T, Error> outcome;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome.value = Done{};
        } else {
            outcome.value = co_await std::move(task);
        }
    } catch (const Error& error) {
        outcome.error = error;
    } catch (...) {
        outcome.other = std::current_exception();
    }
    co_return outcome;
}

// Runs a task to its end in a nested event loop and keeps what it threw.
// QCoro::waitFor alone never returns when the task throws.
template <typename Error, typename T>
TaskOutcome<T, Error> runTask(QCoro::Task<T> task)
{
    return QCoro::waitFor(captureOutcome<Error>(std::move(task)));
}
