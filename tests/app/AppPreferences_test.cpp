#include "persistence/AppPreferences.h"
#include "persistence/Autostart.h"
#include "support/TestFiles.h"

#include <QSettings>

using namespace pellux;
using namespace pellux::test;

namespace {

const QJsonObject kComplete = QJsonDocument::fromJson(R"({"isRecordingEnabled":false,
"excludedApps":["firefox","org.kde.kate"],"retentionDays":14,"captureFrameRate":2,"compressionQuality":0.5,
"storageLocation":"file:///media/big/Pellux","screenshotInterval":10.0,"useDynamicIntervals":false})")
                                  .object();

QByteArray stored(const char *key = kPreferencesKey)
{
    return QSettings(AppPreferences::settingsFilePath(), QSettings::IniFormat).value(key).toByteArray();
}

// The complete stored value with one key changed, or left out when `value` is undefined.
QByteArray storeWith(const QString &key, const QJsonValue &value = QJsonValue::Undefined)
{
    QJsonObject o = kComplete;
    if (value.isUndefined())
        o.remove(key);
    else
        o.insert(key, value);
    const QByteArray json = QJsonDocument(o).toJson(QJsonDocument::Compact);
    QSettings(AppPreferences::settingsFilePath(), QSettings::IniFormat).setValue(kPreferencesKey, json);
    return json;
}

} // namespace

// Every value other than its default, so that each has to be written and read back; the location
// only when there is one, and absent or null when read.
TEST(AppPreferences, SavedValuesComeBackPrivateWithExactlyTheStoredKeys)
{
    TempHome home;
    EXPECT_EQ(AppPreferences::load().toJson(), AppPreferences::defaultValue().toJson()); // nothing stored yet
    EXPECT_EQ(AppPreferences::settingsFilePath(), home.path() + "/.config/Pellux/Pellux.conf");
    AppPreferences p = AppPreferences::fromJson(QJsonDocument(kComplete).toJson()).value();
    QJsonObject expected = kComplete;
    for (int round = 0; round < 2; ++round) {
        const mode_t savedMask = ::umask(0);
        const bool saved = p.save();
        ::umask(savedMask);
        ASSERT_TRUE(saved);
        EXPECT_EQ(AppPreferences::load().toJson(), p.toJson());
        EXPECT_EQ(QJsonDocument::fromJson(stored()).object(), expected);
        p.storageLocation.reset();
        expected.remove("storageLocation");
    }
    EXPECT_EQ(modeOf(AppPreferences::settingsFilePath()), 0600);
    EXPECT_EQ(modeOf(home.path() + "/.config/Pellux"), 0700);
    storeWith("storageLocation", QJsonValue::Null);
    EXPECT_EQ(AppPreferences::load().toJson(), p.toJson());
}

TEST(AppPreferences, UnreadableStoredValuesGiveAllDefaultsAndAreKept)
{
    TempHome home;
    // Each key left out but the location, or of the wrong kind; cut short; not an object.
    std::vector<QByteArray> bad;
    for (const QString &key : kComplete.keys())
        if (key != "storageLocation")
            bad.push_back(storeWith(key));
    for (const auto &[key, value] : std::initializer_list<std::pair<QString, QJsonValue>> { { "retentionDays", 14.5 },
             { "isRecordingEnabled", "false" }, { "excludedApps", QJsonArray { "a", 3 } },
             { "storageLocation", "not a url" }, { "captureFrameRate", 1e12 } })
        bad.push_back(storeWith(key, value));
    bad.push_back(bad.back().left(40));
    bad.push_back("[]");

    for (const QByteArray &json : bad) {
        LogCapture log;
        QSettings(AppPreferences::settingsFilePath(), QSettings::IniFormat).setValue(kPreferencesKey, json);
        EXPECT_EQ(AppPreferences::load().toJson(), AppPreferences::defaultValue().toJson()) << json.toStdString();
        EXPECT_EQ(log.linesStartingWith("ERROR AppPreferences: The stored preferences cannot be read (").size(), 1)
            << json.toStdString();
        // The unreadable text is kept, and untouched under the key until the next save.
        EXPECT_EQ(stored("com.pellux.preferences.unreadable"), json);
        EXPECT_EQ(stored(), json);
    }
    ASSERT_TRUE(AppPreferences::defaultValue().save());
    EXPECT_TRUE(AppPreferences::fromJson(stored()));
}

// The autostart entry in a private HOME: written, recognised, switched off by a desktop's own
// settings, removed.
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
