#include "service/sign_in_window.h"

#include "core/described_error.h"
#include "platform/outside_text.h"
#include "platform/workspace.h"

#include <QCursor>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QShortcut>
#include <QSpacerItem>
#include <QVBoxLayout>

// The logo lives in the core library's resources, which nothing pulls into
// a program by itself; registering them again is harmless.
static void loadResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

constexpr int fieldWidth = 300;
constexpr int fieldHeight = 30;
constexpr int logoSide = 72;
constexpr int stackSpacing = 12;

QFont pixelFont(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font;
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

// The logo scaled into a square of `side` with rounded corners, drawn at the
// screen's density so that the corners stay smooth.
QPixmap roundedLogo(int side, qreal radius, qreal density)
{
    QPixmap result(QSize(side, side) * density);
    result.setDevicePixelRatio(density);
    result.fill(Qt::transparent);
    const QImage logo(QStringLiteral(":/logo.png"));
    if (logo.isNull())
        return result;

    const QSizeF fitted = QSizeF(logo.size()).scaled(side, side, Qt::KeepAspectRatio);
    const QRectF target((side - fitted.width()) / 2, (side - fitted.height()) / 2, fitted.width(), fitted.height());
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, side, side), radius, radius);
    painter.setClipPath(clip);
    painter.drawImage(target, logo);
    return result;
}

QLabel* label(const QString& text, const QFont& font)
{
    auto* result = new QLabel;
    OutsideText::setLabel(*result, text);
    result->setFont(font);
    result->setAlignment(Qt::AlignHCenter);
    return result;
}

QLineEdit* field(const QString& placeholder, QLineEdit::EchoMode mode)
{
    auto* result = new QLineEdit;
    result->setPlaceholderText(placeholder);
    result->setFont(pixelFont(13));
    result->setEchoMode(mode);
    result->setFixedSize(fieldWidth, fieldHeight);
    return result;
}

} // namespace

SignInWindow::SignInWindow(Workspace& workspace) : workspace_(workspace)
{
    loadResources();

    logo_ = new QLabel;
    logo_->setFixedSize(logoSide, logoSide);
    title_ = label(QStringLiteral("Вход в Корвала"), pixelFont(18, QFont::DemiBold));
    subtitle_ = label(QStringLiteral("Почта и пароль — те же, что на сайте"), pixelFont(12));
    QPalette secondary = subtitle_->palette();
    QColor faded = secondary.color(QPalette::WindowText);
    faded.setAlphaF(0.55f);
    secondary.setColor(QPalette::WindowText, faded);
    subtitle_->setPalette(secondary);

    email_ = field(QStringLiteral("Почта"), QLineEdit::Normal);
    password_ = field(QStringLiteral("Пароль"), QLineEdit::Password);

    error_ = label(QString(), pixelFont(12));
    QPalette red = error_->palette();
    red.setColor(QPalette::WindowText, QColor(255, 59, 48));
    error_->setPalette(red);
    error_->setWordWrap(true);
    error_->setFixedWidth(fieldWidth);
    // Up to three lines; a longer text is cut rather than pushing the button away.
    error_->setMaximumHeight(error_->fontMetrics().lineSpacing() * 3 + 2);
    error_->setVisible(false);

    button_ = new QPushButton(QStringLiteral("Войти"));
    button_->setFont(pixelFont(13));
    button_->setMinimumHeight(32);
    button_->setMinimumWidth(120);
    button_->setDefault(true);

    spinner_ = new BusySpinner;

    for (QLineEdit* entry : {email_.data(), password_.data()}) {
        connect(entry, &QLineEdit::returnPressed, this, [this] {
            if (button_->isEnabled())
                submit();
        });
    }
    connect(button_, &QPushButton::clicked, this, &SignInWindow::submit);
}

SignInWindow::~SignInWindow()
{
    window_.reset();
    // Controls of a window that was never built are still ours.
    delete logo_.data();
    delete title_.data();
    delete subtitle_.data();
    delete email_.data();
    delete password_.data();
    delete error_.data();
    delete button_.data();
    delete spinner_.data();
}

QString SignInWindow::trimmedEmail(const QString& typed)
{
    const auto isBlank = [](QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; };
    qsizetype begin = 0;
    qsizetype end = typed.size();
    while (begin < end && isBlank(typed[begin]))
        ++begin;
    while (end > begin && isBlank(typed[end - 1]))
        --end;
    return typed.mid(begin, end - begin);
}

void SignInWindow::show(OnSubmit onSubmit)
{
    onSubmit_ = std::move(onSubmit);
    if (window_) {
        // Brought here rather than the user being taken to it.
        const bool wasVisible = window_->isVisible();
        bringForward();
        if (wasVisible)
            workspace_.moveToActiveSpace(window_->windowHandle());
        return;
    }

    window_ = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                                                     | Qt::WindowCloseButtonHint);
    window_->setWindowTitle(QStringLiteral("Вход"));
    window_->setFixedSize(width, height);
    build();
    bringForward();
    email_->setFocus(Qt::OtherFocusReason);
}

QWidget* SignInWindow::build()
{
    logo_->setPixmap(roundedLogo(logoSide, 16, window_->devicePixelRatioF()));

    auto* stack = new QVBoxLayout(window_.get());
    stack->setContentsMargins(28, 28, 28, 28);
    stack->setSpacing(stackSpacing);
    stack->addWidget(logo_, 0, Qt::AlignHCenter);
    stack->addWidget(title_, 0, Qt::AlignHCenter);
    stack->addWidget(subtitle_, 0, Qt::AlignHCenter);
    // Spacers count as nothing between their neighbours, so this makes 20 in all.
    stack->addSpacing(20 - stackSpacing);
    stack->addWidget(email_, 0, Qt::AlignHCenter);
    stack->addWidget(password_, 0, Qt::AlignHCenter);
    stack->addWidget(error_, 0, Qt::AlignHCenter);
    afterError_ = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    stack->addItem(afterError_);
    stack->addWidget(button_, 0, Qt::AlignHCenter);
    stack->addWidget(spinner_, 0, Qt::AlignHCenter);
    stack->addStretch(1);

    // Return submits wherever the focus is in the window, as long as the
    // button is usable; the fields answer their own Return the same way.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), window_.get());
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (button_->isEnabled())
                submit();
        });
    }
    return window_.get();
}

void SignInWindow::bringForward()
{
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        window_->move(area.center() - QPoint(width / 2, height / 2));
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SignInWindow::showError(const QString& text)
{
    // The service's own message may be among the text.
    OutsideText::setLabel(*error_, text);
    error_->setVisible(true);
    if (afterError_)
        afterError_->changeSize(0, 18 - stackSpacing, QSizePolicy::Minimum, QSizePolicy::Fixed);
    if (window_ && window_->layout())
        window_->layout()->invalidate();
}

void SignInWindow::setBusy(bool busy)
{
    button_->setEnabled(!busy);
    button_->setText(busy ? QStringLiteral("Входим…") : QStringLiteral("Войти"));
    email_->setEnabled(!busy);
    password_->setEnabled(!busy);
    if (busy) {
        spinner_->start();
        error_->setVisible(false);
        if (afterError_)
            afterError_->changeSize(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
        if (window_ && window_->layout())
            window_->layout()->invalidate();
    } else {
        spinner_->stop();
    }
}

void SignInWindow::submit()
{
    const QString email = trimmedEmail(email_->text());
    const QString password = password_->text();
    if (email.isEmpty() || password.isEmpty()) {
        showError(QStringLiteral("Заполните почту и пароль."));
        return;
    }
    setBusy(true);
    finishSubmit(email, password);
}

QCoro::Task<void> SignInWindow::finishSubmit(QString email, QString password)
{
    const QPointer<SignInWindow> self(this);
    // A copy: a show() while this waits may replace the callback.
    const OnSubmit callback = onSubmit_;
    std::optional<QString> failure;
    if (callback) {
        try {
            auto answer = callback(email, password);
            failure = co_await std::move(answer);
        } catch (const DescribedError& error) {
            failure = error.description();
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
        }
        if (!self)
            co_return;
    }

    setBusy(false);
    if (failure) {
        showError(*failure);
        // The busy state took the focus away with the disabled fields.
        if (window_ && !window_->focusWidget())
            password_->setFocus(Qt::OtherFocusReason);
    } else {
        password_->clear();
        if (window_)
            window_->close();
    }
    emit submitFinished();
}
