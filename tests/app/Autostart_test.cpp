// The autostart entry in a private HOME: written, recognised, switched off by a desktop's own
// settings, removed.
#include "persistence/Autostart.h"
#include "support/TempHome.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace pellux {
namespace {

using test::readAll;
using test::TempHome;

TEST(Autostart, EnableWritesThePrivateEntryAndDisableRemovesIt)
{
    TempHome home;
    const QString path = home.path() + QStringLiteral("/.config/autostart/pellux.desktop");
    EXPECT_EQ(autostartEntryPath(), path);
    EXPECT_FALSE(isAutostartEnabled());
    // Nothing to remove is not a failure.
    EXPECT_TRUE(setAutostartEnabled(false));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(setAutostartEnabled(true));
        // Enabling twice just rewrites it.
        ASSERT_TRUE(setAutostartEnabled(true));
        EXPECT_TRUE(isAutostartEnabled());
        EXPECT_EQ(readAll(path), autostartEntry());
        struct stat status { };
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600u);
        EXPECT_TRUE(QDir(home.path() + QStringLiteral("/.config/autostart")).entryList(QDir::Hidden | QDir::Files)
            == QStringList { QStringLiteral("pellux.desktop") });

        ASSERT_TRUE(setAutostartEnabled(false));
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_FALSE(isAutostartEnabled());
    }
    // The entry is the one shipped for packagers.
    EXPECT_EQ(readAll(QStringLiteral(PELLUX_SOURCE_DIR "/data/autostart/pellux.desktop")), autostartEntry());
    EXPECT_TRUE(autostartEntry().contains("\nExec=pellux --background\n"));

    // $XDG_CONFIG_HOME is respected.
    const QString config = home.path() + QStringLiteral("/elsewhere");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    ASSERT_TRUE(setAutostartEnabled(true));
    EXPECT_TRUE(QFile::exists(config + QStringLiteral("/autostart/pellux.desktop")));
    EXPECT_FALSE(QFile::exists(home.path() + QStringLiteral("/.config/autostart/pellux.desktop")));
    EXPECT_TRUE(setAutostartEnabled(false));
}

struct EntryCase {
    const char *name;
    QByteArray text;
    bool enabled;
};

TEST(Autostart, AnEntrySwitchedOffByTheDesktopCountsAsOff)
{
    TempHome home;
    const EntryCase cases[] = {
        { "ours", autostartEntry(), true },
        { "hidden", autostartEntry() + "Hidden=true\n", false },
        { "gnome switch off", "[Desktop Entry]\nExec=pellux --background\nX-GNOME-Autostart-enabled=false\n", false },
        { "spaces around =", "[Desktop Entry]\nHidden = true\n", false },
        { "hidden=false", "[Desktop Entry]\nHidden=false\n", true },
        { "other group only", "[Desktop Entry]\nExec=pellux\n[Desktop Action x]\nHidden=true\n", true },
    };
    ASSERT_TRUE(QDir().mkpath(home.path() + QStringLiteral("/.config/autostart")));
    for (const EntryCase &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::writeAll(autostartEntryPath(), c.text));
        EXPECT_EQ(isAutostartEnabled(), c.enabled);
    }
}

} // namespace
} // namespace pellux
