#include "app/toast.h"

#include "core/clock.h"
#include "platform/outside_text.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>

namespace {

// A dark translucent rounded panel standing in for a HUD window.
class ToastPanel final : public QWidget {
public:
    explicit ToastPanel(const QString& text)
        : QWidget(nullptr,
                  Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                      | Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput
                      | Qt::X11BypassWindowManagerHint)
    {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);

        auto* label = new QLabel(this);
        OutsideText::setLabel(*label, text);
        QFont font = label->font();
        font.setPixelSize(14);
        font.setWeight(QFont::Medium);
        label->setFont(font);
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet("color: white; background: transparent;");
        label->adjustSize();
        label->move(18, 9);
        setFixedSize(label->width() + 36, label->height() + 18);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(28, 28, 30, 224));
        painter.drawRoundedRect(rect(), 10, 10);
    }
};

QPointer<QWidget> current;

QScreen* screenUnderPointer()
{
    const QPoint pointer = QCursor::pos();
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().contains(pointer))
            return screen;
    }
    return QGuiApplication::primaryScreen();
}

} // namespace

namespace Toast {

void show(const QString& text, double seconds, Clock& clock)
{
    if (current) {
        current->hide();
        current->deleteLater();
    }

    auto* notice = new ToastPanel(text);
    if (QScreen* screen = screenUnderPointer()) {
        const QRect visible = screen->availableGeometry();
        notice->move(visible.x() + (visible.width() - notice->width()) / 2, visible.y() + 24);
    }
    notice->show();
    current = notice;

    // Held through the context: an older notice's timer finds its own panel
    // hidden or gone and never touches the newer one.
    clock.after(seconds, notice, [notice] { notice->hide(); });
}

QWidget* panel()
{
    return current.data();
}

} // namespace Toast
