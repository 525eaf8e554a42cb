#pragma once

#include "service/busy_spinner.h"

#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class QSpacerItem;
class Workspace;

// The "Вход" window: e-mail and password, one button. What a submit does is
// the caller's callback, which answers an error text to show under the
// fields, or none when the window may close. The controls exist from the
// start; the window itself is built on the first show and kept afterwards.
class SignInWindow final : public QObject {
    Q_OBJECT

public:
    // Takes (email, password); answers an error text, or none on success.
    using OnSubmit = std::function<QCoro::Task<std::optional<QString>>(QString email, QString password)>;

    static constexpr int width = 360;
    static constexpr int height = 400;

    explicit SignInWindow(Workspace& workspace);
    ~SignInWindow() override;

    // Shows the window, building it the first time. A window already built
    // keeps what was typed and its error text, and one still up on another
    // desktop comes to the desktop in use.
    void show(OnSubmit onSubmit);
    // The button's and the fields' Return.
    void submit();
    void setBusy(bool busy);

    // The e-mail without the blanks and tabs around it; line breaks stay.
    static QString trimmedEmail(const QString& typed);

    QWidget* window() const { return window_.get(); }
    QLineEdit& email() const { return *email_; }
    QLineEdit& password() const { return *password_; }
    QLabel& error() const { return *error_; }
    QPushButton& button() const { return *button_; }
    BusySpinner& spinner() const { return *spinner_; }

signals:
    // A submit's callback has answered and the window shows its outcome.
    void submitFinished();

private:
    QWidget* build();
    void bringForward();
    void showError(const QString& text);
    QCoro::Task<void> finishSubmit(QString email, QString password);

    Workspace& workspace_;
    std::unique_ptr<QWidget> window_;
    // Owned by the window once it is built, by this object until then.
    QPointer<QLabel> logo_;
    QPointer<QLabel> title_;
    QPointer<QLabel> subtitle_;
    QPointer<QLineEdit> email_;
    QPointer<QLineEdit> password_;
    QPointer<QLabel> error_;
    QPointer<QPushButton> button_;
    QPointer<BusySpinner> spinner_;
    QSpacerItem* afterError_ = nullptr;
    OnSubmit onSubmit_;
};
