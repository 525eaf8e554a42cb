#include "shots/area_selector.h"
#include "shots/selection_view.h"

#include "tests/support/qt_wait.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Display numbers that tell the two test screens apart.
quint32 testNumber(const QScreen* screen) { return 100 + QGuiApplication::screens().indexOf(screen); }

struct Outcome {
    int calls = 0;
    std::optional<SelectedArea> area;
    int overlaysVisibleAtCall = -1;
};

AreaSelector::OnSelect recordInto(Outcome& outcome)
{
    return [&outcome](std::optional<SelectedArea> area) {
        ++outcome.calls;
        outcome.area = area;
        outcome.overlaysVisibleAtCall = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (qobject_cast<SelectionView*>(window) && window->isVisible())
                ++outcome.overlaysVisibleAtCall;
    };
}

// A drag in Qt's top-left coordinates of the view.
void drag(QWidget* view, QPoint from, QPoint to)
{
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QTest::mouseMove(view, (from + to) / 2);
    QTest::mouseMove(view, to);
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
}

} // namespace

// The overlays, their pixels and a drag through them are checked on a real
// X server in the integration tests; here what only a test of its own shows.
TEST(AreaSelector, ASecondBeginIsIgnoredAndTheOverlaysAreDeletedAfterTheCallback)
{
    AreaSelector selector(nullptr, testNumber);
    Outcome outcome;
    selector.begin(recordInto(outcome));
    const auto windows = selector.windows();
    ASSERT_EQ(windows.size(), QGuiApplication::screens().size());
    Outcome ignored;
    selector.begin(recordInto(ignored));
    EXPECT_EQ(selector.windows(), windows);

    drag(windows[1], QPoint(100, 200), QPoint(300, 400));
    ASSERT_TRUE(outcome.area);
    EXPECT_EQ(outcome.area->displayID, 101u);
    EXPECT_EQ(outcome.overlaysVisibleAtCall, 0) << "the callback runs after every overlay is gone";
    EXPECT_EQ(ignored.calls, 0);
    QPointer<SelectionView> gone = windows[1];
    EXPECT_TRUE(waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return gone.isNull();
    }));
}

TEST(AreaSelector, EscapeAndSmallAreasCancelAndANewSelectionCanStartFromTheCallback)
{
    AreaSelector selector(nullptr, testNumber);
    Outcome escaped;
    selector.begin(recordInto(escaped));
    QTest::keyClick(selector.windows().front(), Qt::Key_A);
    EXPECT_EQ(escaped.calls, 0) << "other keys are ignored";
    QTest::keyClick(selector.windows().front(), Qt::Key_Escape);
    EXPECT_EQ(escaped.calls, 1);
    EXPECT_FALSE(escaped.area);

    Outcome thin;
    selector.begin(recordInto(thin));
    drag(selector.windows().front(), QPoint(10, 10), QPoint(110, 17));
    EXPECT_EQ(thin.calls, 1);
    EXPECT_FALSE(thin.area);

    // The callback may start the next selection at once.
    Outcome next;
    selector.begin([&](std::optional<SelectedArea>) { selector.begin(recordInto(next)); });
    QTest::keyClick(selector.windows().front(), Qt::Key_Escape);
    EXPECT_EQ(selector.windows().size(), QGuiApplication::screens().size());
    QTest::keyClick(selector.windows().back(), Qt::Key_Escape);
    EXPECT_EQ(next.calls, 1);
}
