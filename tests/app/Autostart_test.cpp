// The autostart entry in a private HOME: written, recognised, switched off by a desktop's own
// settings, removed.
#include "persistence/Autostart.h"
#include "support/TestFiles.h"

namespace pellux {
namespace {

using test::readAll;
using test::TempHome;

TEST(Autostart, EnableWritesThePrivateEntryAndDisableRemovesIt)
{
    TempHome home;
    const QString folder = home.path() + "/.config/autostart", path = folder + "/pellux.desktop";
    EXPECT_EQ(autostartEntryPath(), path);
    EXPECT_FALSE(isAutostartEnabled());
    EXPECT_TRUE(setAutostartEnabled(false)); // nothing to remove is not a failure
    for (int round = 0; round < 2; ++round) {
        // Enabling twice just rewrites it.
        ASSERT_TRUE(setAutostartEnabled(true) && setAutostartEnabled(true)) << round;
        EXPECT_TRUE(isAutostartEnabled());
        EXPECT_EQ(readAll(path), autostartEntry());
        EXPECT_EQ(QFile::permissions(path) & 0x777, 0x600);
        EXPECT_EQ(QDir(folder).entryList(QDir::Hidden | QDir::Files), QStringList { "pellux.desktop" });
        ASSERT_TRUE(setAutostartEnabled(false));
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_FALSE(isAutostartEnabled());
    }
    // The entry is the one shipped for packagers.
    EXPECT_EQ(readAll(PELLUX_SOURCE_DIR "/data/autostart/pellux.desktop"), autostartEntry());
    EXPECT_TRUE(autostartEntry().contains("\nExec=pellux --background\n"));

    // $XDG_CONFIG_HOME is respected.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/elsewhere"));
    ASSERT_TRUE(setAutostartEnabled(true));
    EXPECT_TRUE(QFile::exists(home.path() + "/elsewhere/autostart/pellux.desktop"));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(setAutostartEnabled(false));
}

TEST(Autostart, AnEntrySwitchedOffByTheDesktopCountsAsOff)
{
    TempHome home;
    const struct {
        QByteArray text;
        bool enabled;
    } cases[] = {
        { autostartEntry(), true },
        { autostartEntry() + "Hidden=true\n", false },
        { "[Desktop Entry]\nExec=pellux --background\nX-GNOME-Autostart-enabled=false\n", false },
        { "[Desktop Entry]\nHidden = true\n", false },
        { "[Desktop Entry]\nHidden=false\n", true },
        { "[Desktop Entry]\nExec=pellux\n[Desktop Action x]\nHidden=true\n", true },
    };
    ASSERT_TRUE(QDir().mkpath(home.path() + "/.config/autostart"));
    for (const auto &c : cases) {
        ASSERT_TRUE(test::writeAll(autostartEntryPath(), c.text));
        EXPECT_EQ(isAutostartEnabled(), c.enabled) << c.text.toStdString();
    }
}

} // namespace
} // namespace pellux
