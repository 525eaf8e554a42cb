#include "platform/linux/desktop_entries.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

TEST(DesktopEntries, ApplicationsAreFoundByTheirWindowClassWithLocalisedNames)
{
    QTemporaryDir home, system;
    const QString local = home.path() + "/applications";
    const QString shared = system.path() + "/applications";
    write(shared + "/org.gnome.TextEditor.desktop",
          "[Desktop Entry]\nType=Application\nName=Text Editor\nName[ru]=Текстовый редактор\nIcon=org.gnome.TextEditor\n"
          "[Desktop Action new-window]\nName=New Window\n");
    write(shared + "/firefox-esr.desktop",
          "[Desktop Entry]\nType=Application\nName=Firefox ESR\nStartupWMClass=Firefox-esr\nIcon=firefox-esr\n");
    write(shared + "/kde4/kate.desktop", "[Desktop Entry]\nType=Application\nName=Kate\n");
    write(shared + "/gone.desktop", "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\n");
    write(shared + "/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.org\n");
    // A user's copy hides the system's entry of the same id.
    write(shared + "/xterm.desktop", "[Desktop Entry]\nType=Application\nName=XTerm\n");
    write(local + "/xterm.desktop", "[Desktop Entry]\nType=Application\nName=My\\sTerminal\n");

    const auto entries = DesktopEntries::scan({local, shared}, "ru_RU");
    EXPECT_EQ(entries.entries().size(), 4u) << "hidden entries and links are no applications";

    const auto editor = entries.forWindowClass("gnome-text-editor", "TextEditor");
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->id, "org.gnome.TextEditor.desktop");
    EXPECT_EQ(editor->name, "Текстовый редактор");
    EXPECT_EQ(editor->icon, "org.gnome.TextEditor");

    const auto firefox = entries.forWindowClass("Navigator", "Firefox-esr");
    ASSERT_TRUE(firefox);
    EXPECT_EQ(firefox->id, "firefox-esr.desktop");
    EXPECT_EQ(firefox->name, "Firefox ESR");

    const auto kate = entries.forWindowClass("kate", "Kate");
    ASSERT_TRUE(kate);
    EXPECT_EQ(kate->id, "kde4-kate.desktop");

    const auto terminal = entries.forWindowClass("xterm", "XTerm");
    ASSERT_TRUE(terminal);
    EXPECT_EQ(terminal->name, "My Terminal");
    EXPECT_EQ(terminal->path, local + "/xterm.desktop");

    EXPECT_FALSE(entries.forWindowClass("gone", "Gone"));
    EXPECT_FALSE(entries.forWindowClass("unknown", "Unknown"));
    EXPECT_FALSE(entries.forWindowClass("", ""));
}
