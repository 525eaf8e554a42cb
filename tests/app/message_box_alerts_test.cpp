#include "platform/linux/desktop/message_box_alerts.h"

#include "tests/support/shown_text.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Clicks the button titled `button` of the message box that comes up next and
// records what the box showed.
struct Clicker {
    QString title;
    QStringList buttons;
    QStringList shown;
    bool linksOpen = false;

    void arm(const QString& button)
    {
        title = button;
        QTimer::singleShot(0, [this] { clickWhenUp(); });
    }
    void clickWhenUp()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(5, [this] { clickWhenUp(); });
            return;
        }
        shown = {shownText(box->text(), box->textFormat())};
        if (auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel")) {
            shown.append(shownText(*informative));
            linksOpen = informative->openExternalLinks();
        }
        for (QAbstractButton* button : box->buttons())
            buttons.append(button->text());
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == title)
                button->click();
        }
    }
};

TEST(MessageBoxAlerts, AnswersByButtonOrderAndShowsMarkupAsText)
{
    MessageBoxAlerts alerts;
    const Alerts::Alert alert{markupText, markupText + "\n" + markupText, {"Понятно", "Открыть настройки"}};

    Clicker second;
    second.arm("Открыть настройки");
    EXPECT_EQ(alerts.run(alert), Alerts::secondButton);
    EXPECT_EQ(second.buttons, alert.buttons);
    EXPECT_EQ(second.shown, QStringList({markupText, markupText + "\n" + markupText}));
    EXPECT_FALSE(second.linksOpen);

    Clicker first;
    first.arm("Понятно");
    EXPECT_EQ(alerts.run(alert), Alerts::firstButton);
}

} // namespace
