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

    const struct {
        const char *instance, *windowClass;
        QString id, name;
    } found[] = {{"gnome-text-editor", "TextEditor", "org.gnome.TextEditor.desktop", "Текстовый редактор"},
                 {"Navigator", "Firefox-esr", "firefox-esr.desktop", "Firefox ESR"},
                 {"kate", "Kate", "kde4-kate.desktop", "Kate"},
                 {"xterm", "XTerm", "xterm.desktop", "My Terminal"}};
    for (const auto& f : found) {
        const auto entry = entries.forWindowClass(f.instance, f.windowClass);
        ASSERT_TRUE(entry) << f.instance;
        EXPECT_EQ(entry->id, f.id);
        EXPECT_EQ(entry->name, f.name);
    }
    EXPECT_EQ(entries.forWindowClass("gnome-text-editor", "TextEditor")->icon, "org.gnome.TextEditor");
    EXPECT_EQ(entries.forWindowClass("xterm", "XTerm")->path, local + "/xterm.desktop") << "the user's copy";
    EXPECT_FALSE(entries.forWindowClass("gone", "Gone"));
    EXPECT_FALSE(entries.forWindowClass("unknown", "Unknown"));
    EXPECT_FALSE(entries.forWindowClass("", ""));
}
