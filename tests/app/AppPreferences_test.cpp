#include "persistence/AppPreferences.h"
#include "support/LogCapture.h"
#include "support/TempHome.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace pellux;
using namespace pellux::test;

namespace {

const QByteArray kComplete = R"({"isRecordingEnabled":false,"excludedApps":["org.kde.kate","firefox"],
"retentionDays":14,"captureFrameRate":2,"compressionQuality":0.5,"storageLocation":"file:///media/big/Pellux",
"screenshotInterval":10.0,"useDynamicIntervals":false})";

void store(const QByteArray &json)
{
    QSettings settings(AppPreferences::settingsFilePath(), QSettings::IniFormat);
    settings.setValue(QLatin1String(kPreferencesKey), json);
    settings.sync();
}

QByteArray stored(const char *key = kPreferencesKey)
{
    QSettings settings(AppPreferences::settingsFilePath(), QSettings::IniFormat);
    return settings.value(QLatin1String(key)).toByteArray();
}

QByteArray without(const QByteArray &json, const QString &key)
{
    QJsonObject o = QJsonDocument::fromJson(json).object();
    o.remove(key);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray with(const QByteArray &json, const QString &key, const QJsonValue &value)
{
    QJsonObject o = QJsonDocument::fromJson(json).object();
    o.insert(key, value);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

void expectDefaults(const AppPreferences &p)
{
    EXPECT_TRUE(p.isRecordingEnabled);
    EXPECT_TRUE(p.excludedApps.isEmpty());
    EXPECT_EQ(p.retentionDays, 30);
    EXPECT_EQ(p.captureFrameRate, 5);
    EXPECT_EQ(p.compressionQuality, 0.7);
    EXPECT_FALSE(p.storageLocation);
    EXPECT_EQ(p.screenshotInterval, 2.0);
    EXPECT_TRUE(p.useDynamicIntervals);
}

} // namespace

TEST(AppPreferences, AFreshStoreGivesTheDefaultsAndSavedValuesComeBackWithExactlyTheStoredKeys)
{
    TempHome home;
    expectDefaults(AppPreferences::load());
    expectDefaults(AppPreferences::defaultValue());
    EXPECT_EQ(AppPreferences::settingsFilePath(), home.path() + QStringLiteral("/.config/Pellux/Pellux.conf"));

    const mode_t savedMask = ::umask(0);
    AppPreferences p;
    p.excludedApps = { QStringLiteral("org.kde.kate"), QStringLiteral("firefox") };
    p.retentionDays = 7;
    p.compressionQuality = 0.25;
    p.useDynamicIntervals = false;
    const bool saved = p.save();
    ::umask(savedMask);
    ASSERT_TRUE(saved);

    const AppPreferences loaded = AppPreferences::load();
    EXPECT_EQ(loaded.excludedApps, p.excludedApps);
    EXPECT_EQ(loaded.retentionDays, 7);
    EXPECT_EQ(loaded.compressionQuality, 0.25);
    EXPECT_FALSE(loaded.useDynamicIntervals);
    EXPECT_FALSE(loaded.storageLocation);

    const QJsonObject o = QJsonDocument::fromJson(stored()).object();
    EXPECT_EQ(o.keys(),
        (QStringList { "captureFrameRate", "compressionQuality", "excludedApps", "isRecordingEnabled", "retentionDays",
            "screenshotInterval", "useDynamicIntervals" }));
    EXPECT_EQ(QFileInfo(AppPreferences::settingsFilePath()).permissions() & 0x0777, 0x0600);
    EXPECT_EQ(QFileInfo(home.path() + QStringLiteral("/.config/Pellux")).permissions() & 0x0777, 0x0700);

    // A later save replaces the earlier value; the location is written when present.
    p.storageLocation = QUrl(QStringLiteral("file:///media/big/Pellux"));
    ASSERT_TRUE(p.save());
    EXPECT_EQ(AppPreferences::load().storageLocation, p.storageLocation);
    EXPECT_EQ(QJsonDocument::fromJson(stored()).object().value(QStringLiteral("storageLocation")).toString(),
        QStringLiteral("file:///media/big/Pellux"));
}

TEST(AppPreferences, StoredJsonIsReadStrictly)
{
    TempHome home;
    store(kComplete);
    const AppPreferences full = AppPreferences::load();
    EXPECT_FALSE(full.isRecordingEnabled);
    EXPECT_EQ(full.excludedApps, (QSet<QString> { "org.kde.kate", "firefox" }));
    EXPECT_EQ(full.retentionDays, 14);
    EXPECT_EQ(full.captureFrameRate, 2);
    EXPECT_EQ(full.compressionQuality, 0.5);
    EXPECT_EQ(full.storageLocation, QUrl(QStringLiteral("file:///media/big/Pellux")));
    EXPECT_EQ(full.screenshotInterval, 10.0);

    // Only the location may be left out (or null).
    for (const QJsonValue &absent : { QJsonValue(QJsonValue::Undefined), QJsonValue(QJsonValue::Null) }) {
        store(absent.isUndefined() ? without(kComplete, QStringLiteral("storageLocation"))
                                   : with(kComplete, QStringLiteral("storageLocation"), absent));
        const AppPreferences p = AppPreferences::load();
        EXPECT_FALSE(p.storageLocation);
        EXPECT_EQ(p.retentionDays, 14);
        EXPECT_FALSE(p.useDynamicIntervals);
    }
}

TEST(AppPreferences, UnreadableStoredValuesGiveAllDefaultsAndAreKept)
{
    TempHome home;
    std::vector<QByteArray> bad;
    for (const char *key : { "isRecordingEnabled", "excludedApps", "retentionDays", "captureFrameRate",
             "compressionQuality", "screenshotInterval", "useDynamicIntervals" })
        bad.push_back(without(kComplete, QLatin1String(key)));
    bad.push_back(with(kComplete, QStringLiteral("retentionDays"), 14.5));
    bad.push_back(with(kComplete, QStringLiteral("isRecordingEnabled"), QStringLiteral("false")));
    bad.push_back(
        with(kComplete, QStringLiteral("excludedApps"), QJsonArray { QJsonValue(QStringLiteral("a")), QJsonValue(3) }));
    bad.push_back(with(kComplete, QStringLiteral("storageLocation"), QStringLiteral("not a url")));
    bad.push_back(with(kComplete, QStringLiteral("captureFrameRate"), 1e12));
    bad.push_back(kComplete.left(40));
    bad.push_back("[]");

    for (const QByteArray &json : bad) {
        LogCapture log;
        store(json);
        expectDefaults(AppPreferences::load());
        EXPECT_EQ(log.linesStartingWith(QStringLiteral("ERROR AppPreferences: The stored preferences cannot be read ("))
                      .size(),
            1)
            << json.toStdString();
        // The unreadable text is kept, and untouched under the key until the next save.
        EXPECT_EQ(stored("com.pellux.preferences.unreadable"), json);
        EXPECT_EQ(stored(), json);
    }
    ASSERT_TRUE(AppPreferences::defaultValue().save());
    EXPECT_TRUE(AppPreferences::fromJson(stored()));
}
