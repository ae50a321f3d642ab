#include "capture/DesktopEntryIndex.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pellux {
namespace {

class DesktopEntryIndexTest : public ::testing::Test {
protected:
    void write(const QString &folder, const QString &relativePath, const QByteArray &contents)
    {
        const QString path = dir.filePath(folder + QLatin1Char('/') + relativePath);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    QStringList folders() const
    {
        return { dir.filePath(QStringLiteral("home")), dir.filePath(QStringLiteral("system")) };
    }

    QTemporaryDir dir;
};

TEST_F(DesktopEntryIndexTest, MatchesStartupWMClassBeforeTheFileName)
{
    write(QStringLiteral("system"), QStringLiteral("debian-xterm.desktop"),
        "[Desktop Entry]\nType=Application\nName=XTerm\nStartupWMClass=XTerm\n");
    write(QStringLiteral("system"), QStringLiteral("xterm.desktop"), "[Desktop Entry]\nType=Application\n");
    const DesktopEntryIndex index(folders());
    EXPECT_EQ(index.idForWindowClass(QStringLiteral("xterm"), QStringLiteral("XTerm")), QStringLiteral("debian-xterm"));
}

TEST_F(DesktopEntryIndexTest, FallsBackToTheIdIgnoringCaseAndReverseDomainNames)
{
    write(QStringLiteral("system"), QStringLiteral("org.kde.konsole.desktop"), "[Desktop Entry]\nType=Application\n");
    write(QStringLiteral("system"), QStringLiteral("Gimp.desktop"), "[Desktop Entry]\nType=Application\n");
    const DesktopEntryIndex index(folders());
    EXPECT_EQ(index.idForWindowClass(QStringLiteral("konsole"), QStringLiteral("konsole")),
        QStringLiteral("org.kde.konsole"));
    EXPECT_EQ(index.idForWindowClass(QStringLiteral("gimp"), QStringLiteral("GIMP")), QStringLiteral("Gimp"));
    EXPECT_EQ(index.idForWindowClass(QStringLiteral("unknown"), QStringLiteral("Unknown")), std::nullopt);
}

TEST_F(DesktopEntryIndexTest, EarlierFoldersHideLaterOnesAndHiddenEntriesDoNotCount)
{
    // The user's own copy hides the system entry, and is hidden itself.
    write(
        QStringLiteral("home"), QStringLiteral("editor.desktop"), "[Desktop Entry]\nHidden=true\nStartupWMClass=Ed\n");
    write(QStringLiteral("system"), QStringLiteral("editor.desktop"), "[Desktop Entry]\nStartupWMClass=Ed\n");
    // Sub-folders give ids with dashes.
    write(QStringLiteral("system"), QStringLiteral("kde4/viewer.desktop"), "[Desktop Entry]\nStartupWMClass=Viewer\n");
    // Keys of other groups are ignored.
    write(QStringLiteral("system"), QStringLiteral("other.desktop"),
        "[Desktop Entry]\nName=Other\n[Desktop Action new]\nStartupWMClass=Special\n");
    const DesktopEntryIndex index(folders());
    EXPECT_EQ(index.idForWindowClass(QStringLiteral("ed"), QStringLiteral("Ed")), std::nullopt);
    EXPECT_EQ(
        index.idForWindowClass(QStringLiteral("viewer"), QStringLiteral("Viewer")), QStringLiteral("kde4-viewer"));
    EXPECT_EQ(index.idForWindowClass(QStringLiteral("special"), QStringLiteral("Special")), std::nullopt);
}

} // namespace
} // namespace pellux
