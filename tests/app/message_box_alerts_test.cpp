#include "platform/linux/desktop/message_box_alerts.h"

#include "tests/support/shown_text.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Clicks the button titled `title` of the message box that comes up next and
// records what the box showed.
struct Clicker {
    QString title;
    QStringList seen;
    QStringList shown;
    bool linksOpen = false;

    void arm()
    {
        QTimer::singleShot(0, [this] { clickWhenUp(); });
    }
    void clickWhenUp()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(5, [this] { clickWhenUp(); });
            return;
        }
        seen = {box->text(), box->informativeText()};
        shown = {shownText(box->text(), box->textFormat())};
        if (auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel")) {
            shown.append(shownText(*informative));
            linksOpen = informative->openExternalLinks();
        }
        for (QAbstractButton* button : box->buttons())
            seen.append(button->text());
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == title)
                button->click();
        }
    }
};

TEST(MessageBoxAlerts, AnswersByButtonOrderFrom1000)
{
    MessageBoxAlerts alerts;
    const Alerts::Alert alert{"Не получилось", "Нет доступа к микрофону", {"Понятно", "Открыть настройки"}};

    Clicker second{"Открыть настройки", {}};
    second.arm();
    EXPECT_EQ(alerts.run(alert), Alerts::secondButton);
    EXPECT_EQ(second.seen, QStringList({"Не получилось", "Нет доступа к микрофону", "Понятно", "Открыть настройки"}));

    Clicker first{"Понятно", {}};
    first.arm();
    EXPECT_EQ(alerts.run(alert), Alerts::firstButton);
}

} // namespace

namespace {

TEST(MessageBoxAlerts, ShowMarkupInTheMessageAndTheInformativeTextAsText)
{
    MessageBoxAlerts alerts;
    Clicker clicker{"Понятно", {}};
    clicker.arm();
    EXPECT_EQ(alerts.run({markupText, markupText + "\n" + markupText, {"Понятно"}}), Alerts::firstButton);
    EXPECT_EQ(clicker.shown, QStringList({markupText, markupText + "\n" + markupText}));
    EXPECT_FALSE(clicker.linksOpen);
}

} // namespace
