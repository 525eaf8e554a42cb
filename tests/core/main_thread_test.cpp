#include "core/main_thread.h"
#include "core/serial_queue.h"
#include "tests/support/qt_wait.h"

#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

struct Counter : QObject {
    int hits = 0;
    QThread* ranOn = nullptr;
};

} // namespace

TEST(PostToMain, RunsOnTheMainThreadWhileTheTargetLives)
{
    auto counter = std::make_unique<Counter>();
    SerialQueue queue(queueLabel(".system"));
    QPointer<Counter> weak(counter.get());
    for (int i = 0; i < 10; ++i)
        queue.async([weak] { postToMain(weak, [](Counter& c) { ++c.hits; c.ranOn = QThread::currentThread(); }); });
    queue.sync([] {});
    ASSERT_TRUE(waitUntil([&] { return counter->hits == 10; }));
    EXPECT_EQ(counter->ranOn, QCoreApplication::instance()->thread());
}

TEST(PostToMain, DoesNothingOnceTheTargetIsGone)
{
    auto counter = std::make_unique<Counter>();
    auto shared = std::make_shared<Counter>();
    std::atomic<int> ran = 0;
    {
        SerialQueue queue(queueLabel(".screen"));
        QPointer<Counter> weak(counter.get());
        std::weak_ptr<Counter> weakShared = shared;
        queue.async([weak, weakShared, &ran] {
            postToMain(weak, [&ran](Counter&) { ++ran; });
            postToMain(weakShared, [&ran](Counter&) { ++ran; });
        });
    }
    counter.reset();
    shared.reset();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(ran.load(), 0);
}
