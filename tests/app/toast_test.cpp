#include "app/toast.h"

#include "tests/support/manual_clock.h"
#include "tests/support/shown_text.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include <gtest/gtest.h>

TEST(ToastTest, ShowsAtTopCentreOfTheScreenUnderThePointer)
{
    ManualClock clock;
    const auto screens = QGuiApplication::screens();
    ASSERT_GE(screens.size(), 2) << "the unit tests run with two offscreen screens";

    for (QScreen* screen : screens) {
        QCursor::setPos(screen->geometry().center());
        Toast::show(QString::fromUtf8("Ссылка скопирована"), 2.5, clock);
        QWidget* panel = Toast::panel();
        ASSERT_NE(panel, nullptr);
        const QRect visible = screen->availableGeometry();
        EXPECT_EQ(panel->y(), visible.y() + 24);
        EXPECT_LE(std::abs(panel->geometry().center().x() - visible.center().x()), 1);
        EXPECT_TRUE(visible.contains(panel->geometry()));
    }
}

TEST(ToastTest, NewerNoticeReplacesOlderKeepsItsOwnDurationAndShowsMarkupAsText)
{
    ManualClock clock;
    Toast::show("первый", 1.0, clock);
    QWidget* first = Toast::panel();
    clock.advance(0.5);
    Toast::show(markupText, 2.5, clock);
    QWidget* second = Toast::panel();
    ASSERT_NE(first, second);
    EXPECT_TRUE(second->isVisible());
    auto* label = second->findChild<QLabel*>();
    ASSERT_TRUE(label);
    EXPECT_EQ(shownText(*label), markupText);

    // The first one's timer comes due and must not hide the second.
    clock.advance(0.6);
    EXPECT_TRUE(second->isVisible());
    clock.advance(1.8);
    EXPECT_TRUE(second->isVisible());
    clock.advance(0.2);
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(Toast::panel(), second) << "the last notice is kept after it hides";
}
