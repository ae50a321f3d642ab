#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <optional>

namespace pellux {

// The user's settings as one value, stored as one JSON document under the key
// "com.pellux.preferences" of the Pellux settings file (~/.config/Pellux/Pellux.conf). Every holder
// keeps its own copy and sees another holder's change only when it loads again.
struct AppPreferences {
    Q_GADGET
    Q_PROPERTY(bool isRecordingEnabled MEMBER isRecordingEnabled)
    Q_PROPERTY(QStringList excludedApps READ excludedAppList WRITE setExcludedAppList)
    Q_PROPERTY(int retentionDays MEMBER retentionDays)
    Q_PROPERTY(int captureFrameRate MEMBER captureFrameRate)
    Q_PROPERTY(double compressionQuality MEMBER compressionQuality)
    Q_PROPERTY(double screenshotInterval MEMBER screenshotInterval)
    Q_PROPERTY(bool useDynamicIntervals MEMBER useDynamicIntervals)

public:
    bool isRecordingEnabled = true;
    // Identifiers of applications whose windows are never captured.
    QSet<QString> excludedApps;
    // Days screenshots are kept; 0 (or less): forever.
    int retentionDays = 30;
    int captureFrameRate = 5;
    // 0 to 1.
    double compressionQuality = 0.7;
    // Stored and loaded; nothing acts on it.
    std::optional<QUrl> storageLocation;
    // Fixed capture interval, used when useDynamicIntervals is false.
    double screenshotInterval = 2.0;
    bool useDynamicIntervals = true;

    static const AppPreferences &defaultValue();

    // The stored value, or the defaults when none is stored or it cannot be read (logged).
    static AppPreferences load();
    // Replaces the stored value. False (logged) when the settings file cannot be written.
    bool save() const;

    // The stored JSON form and its strict reading: every key but "storageLocation" is required.
    QByteArray toJson() const;
    static std::optional<AppPreferences> fromJson(const QByteArray &json, QString *error = nullptr);

    // The settings file, below the current user's configuration folder.
    static QString settingsFilePath();
    // Another value of the settings file than the preferences (a notice already given, say): read,
    // and written with the file kept private. storeValue answers why when it cannot write.
    static QVariant storedValue(const QString &key);
    static std::optional<QString> storeValue(const QString &key, const QVariant &value);

    QStringList excludedAppList() const;
    void setExcludedAppList(const QStringList &apps);
};

inline constexpr char kPreferencesKey[] = "com.pellux.preferences";

} // namespace pellux

Q_DECLARE_METATYPE(pellux::AppPreferences)
