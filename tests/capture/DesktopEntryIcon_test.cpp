#include "capture/DesktopEntryIndex.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pellux;

namespace {

void write(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

TEST(DesktopEntryIcon, TheEntryAWindowMapsToNamesItsIcon)
{
    QTemporaryDir dir;
    const QString apps = dir.filePath(QStringLiteral("applications"));
    write(apps + QStringLiteral("/debian-xterm.desktop"),
        "[Desktop Entry]\nType=Application\nStartupWMClass=XTerm\nIcon=utilities-terminal\n");
    write(apps + QStringLiteral("/org.example.Viewer.desktop"),
        "[Desktop Entry]\nType=Application\nIcon=/opt/viewer/viewer.png\nIcon[de]=ignored\n");
    write(apps + QStringLiteral("/plain.desktop"), "[Desktop Entry]\nType=Application\n");
    // The Icon of another group is not the entry's.
    write(apps + QStringLiteral("/action.desktop"),
        "[Desktop Entry]\nType=Application\n[Desktop Action new]\nIcon=document-new\n");
    const DesktopEntryIndex index({ apps });

    struct Case {
        const char *windowClass;
        std::optional<QString> icon;
    };
    const Case cases[] = {
        { "XTerm", QStringLiteral("utilities-terminal") },
        { "viewer", QStringLiteral("/opt/viewer/viewer.png") },
        { "Plain", std::nullopt },
        { "Action", std::nullopt },
        { "Unknown", std::nullopt },
    };
    for (const Case &c : cases) {
        const QString name = QString::fromUtf8(c.windowClass);
        EXPECT_EQ(index.iconForWindowClass(name.toLower(), name), c.icon) << c.windowClass;
    }
    EXPECT_EQ(index.iconForId(QStringLiteral("debian-xterm")), QStringLiteral("utilities-terminal"));
    EXPECT_EQ(index.icons(), QStringList({ "utilities-terminal", "/opt/viewer/viewer.png" }));
}

} // namespace
