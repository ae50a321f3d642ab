#include "capture/DesktopEntryIndex.h"
#include "support/TestFiles.h"

using namespace pellux;

// A window's class to its desktop entry and the entry's icon, over a user folder that comes first
// and a system folder.
TEST(DesktopEntryIndex, FindsTheEntryAndIconOfAWindowClass)
{
    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("home")), system = dir.filePath(QStringLiteral("system"));
    const auto write = [](const QString &path, const QByteArray &contents) {
        QDir().mkpath(QFileInfo(path).path());
        ASSERT_TRUE(test::writeAll(path, "[Desktop Entry]\nType=Application\n" + contents));
    };
    write(system + "/debian-xterm.desktop", "StartupWMClass=XTerm\nIcon=utilities-terminal\n");
    write(system + "/xterm.desktop", ""); // the file name matters less than StartupWMClass
    write(system + "/org.kde.konsole.desktop", "");
    write(system + "/Gimp.desktop", "Icon=/opt/gimp.png\nIcon[de]=ignored\n");
    // The user's own copy hides the system entry, and is hidden itself.
    write(home + "/editor.desktop", "Hidden=true\nStartupWMClass=Ed\n");
    write(system + "/editor.desktop", "StartupWMClass=Ed\n");
    write(system + "/kde4/viewer.desktop", "StartupWMClass=Viewer\n"); // sub-folders give ids with dashes
    // Keys of other groups are not the entry's.
    write(system + "/other.desktop", "[Desktop Action new]\nStartupWMClass=Special\nIcon=document-new\n");

    const DesktopEntryIndex index({ home, system });
    const struct {
        const char *instance, *windowClass;
        std::optional<QString> id, icon;
    } cases[] = {
        { "xterm", "XTerm", "debian-xterm", "utilities-terminal" },
        { "konsole", "konsole", "org.kde.konsole", std::nullopt }, // reverse-domain ids
        { "gimp", "GIMP", "Gimp", "/opt/gimp.png" }, // ignoring case
        { "ed", "Ed", std::nullopt, std::nullopt },
        { "viewer", "Viewer", "kde4-viewer", std::nullopt },
        { "special", "Special", std::nullopt, std::nullopt },
        { "other", "Other", "other", std::nullopt },
        { "unknown", "Unknown", std::nullopt, std::nullopt },
    };
    for (const auto &c : cases) {
        const QString instance = QLatin1String(c.instance), windowClass = QLatin1String(c.windowClass);
        EXPECT_EQ(index.idForWindowClass(instance, windowClass), c.id) << c.windowClass;
        EXPECT_EQ(index.iconForWindowClass(instance, windowClass), c.icon) << c.windowClass;
    }
    EXPECT_EQ(index.iconForId(QStringLiteral("debian-xterm")), QStringLiteral("utilities-terminal"));
    EXPECT_EQ(index.icons(), QStringList({ "/opt/gimp.png", "utilities-terminal" }));
}
