#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <memory>
#include <utility>

// Posting work from another thread to an object that lives on the main
// thread. The target is held weakly: once it is gone the work does nothing.
// What the work needs must be copied into it by the caller.

template <class T, class Work>
void postToMain(QPointer<T> target, Work&& work)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [target = std::move(target), work = std::forward<Work>(work)]() mutable {
            if (T* object = target.data())
                work(*object);
        },
        Qt::QueuedConnection);
}

template <class T, class Work>
void postToMain(std::weak_ptr<T> target, Work&& work)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [target = std::move(target), work = std::forward<Work>(work)]() mutable {
            if (auto object = target.lock())
                work(*object);
        },
        Qt::QueuedConnection);
}
