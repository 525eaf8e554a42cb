#include "platform/linux/desktop/message_box_alerts.h"

#include "platform/outside_text.h"

#include <QMessageBox>
#include <QPushButton>

int MessageBoxAlerts::run(const Alert& alert)
{
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Korvala"));
    box.setIcon(QMessageBox::Warning);
    box.setText(alert.message);
    box.setInformativeText(alert.informativeText);
    // Alerts carry the service's messages and titles, file names and errors.
    OutsideText::makePlain(box);
    box.setWindowModality(Qt::ApplicationModal);

    QList<QAbstractButton*> buttons;
    for (const QString& title : alert.buttons)
        buttons.append(box.addButton(title, QMessageBox::ActionRole));
    if (!buttons.isEmpty())
        box.setDefaultButton(static_cast<QPushButton*>(buttons.first()));
    // With one button Esc means it; with more, Esc and the window's close
    // answer no button at all rather than guessing which one.
    if (buttons.size() == 1)
        box.setEscapeButton(buttons.first());

    // A tray application has no window of its own to come forward with.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();

    const int index = buttons.indexOf(box.clickedButton());
    return index < 0 ? noButton : firstButton + index;
}
