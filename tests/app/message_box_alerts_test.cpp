#include "platform/linux/desktop/message_box_alerts.h"

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
