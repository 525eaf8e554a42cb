#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QPoint>
#include <QString>

// The private GNOME desktop of scripts/testenv/gnome-up.sh as a user meets
// it: the pointer and the keyboard through mutter's RemoteDesktop API, the
// picture on the screen, and the permissions the portal keeps.
class GnomeDesktop {
public:
    GnomeDesktop();
    ~GnomeDesktop();
    GnomeDesktop(const GnomeDesktop&) = delete;
    GnomeDesktop& operator=(const GnomeDesktop&) = delete;

    // Whether the input session runs; the reason when it does not.
    bool ready() const { return error_.isEmpty(); }
    QString error() const { return error_; }

    void move(QPoint at);
    void press(bool down, int button = leftButton);
    void click(QPoint at, int button = leftButton);
    void drag(QPoint from, QPoint to);
    // A key by its X keysym, with modifiers held (keysyms too).
    void key(quint32 keysym, const QList<quint32>& held = {});

    // What the screen shows now, from the shell itself.
    static QImage screen();
    // Lets screenshots through the portal without asking (or refuses them).
    static bool allowScreenshots(bool allowed);
    // Keeps a screencast permission for the whole virtual monitor under
    // `token`, as the chooser would after "Share".
    static bool keepScreenCastToken(const QString& token);

    static constexpr int leftButton = 0x110;
    static constexpr int rightButton = 0x111;

private:
    QDBusMessage sessionCall(const QString& method, const QVariantList& arguments = {});

    QDBusConnection bus_;
    QString session_;
    QString stream_;
    QString error_;
};
