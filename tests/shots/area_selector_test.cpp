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

TEST(AreaSelector, OneOverlayCoversEachScreenAndADragOnTheSecondReportsThatScreen)
{
    AreaSelector selector(nullptr, testNumber);
    Outcome outcome;
    selector.begin(recordInto(outcome));

    const auto screens = QGuiApplication::screens();
    const auto windows = selector.windows();
    ASSERT_EQ(windows.size(), screens.size());
    for (int i = 0; i < screens.size(); ++i) {
        EXPECT_EQ(windows[i]->geometry(), screens[i]->geometry());
        EXPECT_EQ(windows[i]->displayID(), testNumber(screens[i]));
        EXPECT_TRUE(windows[i]->isVisible());
    }

    // A second begin is ignored and its callback never runs.
    Outcome ignored;
    selector.begin(recordInto(ignored));
    EXPECT_EQ(selector.windows(), windows);

    // From (100, 700) to (300, 500) in view coordinates on the 1440 × 900 screen.
    SelectionView* second = windows[1];
    drag(second, QPoint(100, 200), QPoint(300, 400));
    EXPECT_EQ(outcome.calls, 1);
    ASSERT_TRUE(outcome.area);
    EXPECT_EQ(outcome.area->rect, QRectF(100, 200, 200, 200));
    EXPECT_EQ(outcome.area->displayID, 101u);
    EXPECT_EQ(outcome.area->screenSize, QSizeF(1440, 900));
    EXPECT_EQ(outcome.overlaysVisibleAtCall, 0) << "the callback runs after every overlay is gone";
    EXPECT_TRUE(selector.windows().isEmpty());
    EXPECT_EQ(ignored.calls, 0);

    QPointer<SelectionView> gone = second;
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

TEST(SelectionView, DimsTheScreenPunchesAClearHoleAndOutlinesIt)
{
    AreaSelector selector(nullptr, testNumber);
    selector.begin([](std::optional<SelectedArea>) {});
    SelectionView* const view = selector.windows().front();

    QImage before = view->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_NEAR(qAlpha(before.pixel(5, 5)), 89, 1) << "35 % black";
    EXPECT_EQ(qRed(before.pixel(5, 5)), 0);

    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(400, 300));
    QTest::mouseMove(view, QPoint(800, 600));
    const QImage during = view->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(during.pixel(600, 450)), 0) << "the hole is fully clear";
    EXPECT_NEAR(qAlpha(during.pixel(5, 5)), 89, 1);
    const QColor accent = view->palette().color(QPalette::Highlight);
    const QColor edge = QColor::fromRgba(during.pixel(600, 300));
    EXPECT_EQ(edge.alpha(), 255);
    EXPECT_EQ(edge.rgb(), accent.rgb()) << "the outline is in the accent colour";
    // The size label sits just above the selection: dark box pixels there.
    EXPECT_GT(qAlpha(during.pixel(402, 285)), 150);
    EXPECT_NEAR(qAlpha(during.pixel(402, 620)), 89, 1);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(800, 600));
}
