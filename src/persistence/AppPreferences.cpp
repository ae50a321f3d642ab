#include "persistence/AppPreferences.h"

#include "runtime/JsonFields.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <limits>

namespace pellux {

using namespace json;

namespace {

// A copy of stored preferences that could not be read, kept for the user instead of being lost
// at the next save.
constexpr char kUnreadableKey[] = "com.pellux.preferences.unreadable";

bool readInt(const QJsonObject &o, const char *key, int &out, QString *error)
{
    double value = 0;
    if (!readNumber(o, key, value, error))
        return false;
    if (std::trunc(value) != value || value < std::numeric_limits<int>::min()
        || value > std::numeric_limits<int>::max())
        return fail(error, QStringLiteral("\"%1\" is not an integer").arg(QLatin1String(key)));
    out = static_cast<int>(value);
    return true;
}

bool readStringSet(const QJsonObject &o, const char *key, QSet<QString> &out, QString *error)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return fail(error, QStringLiteral("missing key \"%1\"").arg(QLatin1String(key)));
    if (!v.isArray())
        return fail(error, QStringLiteral("\"%1\" is not an array").arg(QLatin1String(key)));
    out.clear();
    for (const QJsonValue &element : v.toArray()) {
        if (!element.isString())
            return fail(error, QStringLiteral("\"%1\" holds a value that is not a string").arg(QLatin1String(key)));
        out.insert(element.toString());
    }
    return true;
}

bool readOptionalUrl(const QJsonObject &o, const char *key, std::optional<QUrl> &out, QString *error)
{
    std::optional<QString> text;
    out.reset();
    if (!readOptionalString(o, key, text, error))
        return false;
    if (!text)
        return true;
    QUrl url;
    if (!parseAbsoluteUrl(*text, key, url, error))
        return false;
    out = url;
    return true;
}

} // namespace

const AppPreferences &AppPreferences::defaultValue()
{
    static const AppPreferences value;
    return value;
}

QString AppPreferences::settingsFilePath()
{
    // The file QSettings("Pellux", "Pellux") uses, resolved on every call so that it follows the
    // current configuration folder.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Pellux/Pellux.conf");
}

QStringList AppPreferences::excludedAppList() const
{
    QStringList apps(excludedApps.begin(), excludedApps.end());
    apps.sort();
    return apps;
}

void AppPreferences::setExcludedAppList(const QStringList &apps)
{
    excludedApps = QSet<QString>(apps.begin(), apps.end());
}

QByteArray AppPreferences::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("isRecordingEnabled"), isRecordingEnabled);
    o.insert(QStringLiteral("excludedApps"), QJsonArray::fromStringList(excludedAppList()));
    o.insert(QStringLiteral("retentionDays"), retentionDays);
    o.insert(QStringLiteral("captureFrameRate"), captureFrameRate);
    o.insert(QStringLiteral("compressionQuality"), compressionQuality);
    if (storageLocation)
        o.insert(QStringLiteral("storageLocation"), QString::fromUtf8(storageLocation->toEncoded()));
    o.insert(QStringLiteral("screenshotInterval"), screenshotInterval);
    o.insert(QStringLiteral("useDynamicIntervals"), useDynamicIntervals);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<AppPreferences> AppPreferences::fromJson(const QByteArray &json, QString *error)
{
    const std::optional<QJsonObject> parsed = parseObject(json, error);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &o = *parsed;
    AppPreferences p;
    if (!readBool(o, "isRecordingEnabled", p.isRecordingEnabled, error)
        || !readStringSet(o, "excludedApps", p.excludedApps, error)
        || !readInt(o, "retentionDays", p.retentionDays, error)
        || !readInt(o, "captureFrameRate", p.captureFrameRate, error)
        || !readNumber(o, "compressionQuality", p.compressionQuality, error)
        || !readOptionalUrl(o, "storageLocation", p.storageLocation, error)
        || !readNumber(o, "screenshotInterval", p.screenshotInterval, error)
        || !readBool(o, "useDynamicIntervals", p.useDynamicIntervals, error))
        return std::nullopt;
    return p;
}

AppPreferences AppPreferences::load()
{
    const QVariant stored = storedValue(QLatin1String(kPreferencesKey));
    if (!stored.isValid())
        return defaultValue();
    const QByteArray json = stored.toByteArray();
    QString error;
    if (std::optional<AppPreferences> loaded = fromJson(json, &error))
        return *loaded;

    log::failure(QStringLiteral("ERROR AppPreferences: The stored preferences cannot be read (%1); using the "
                                "defaults, the stored text is kept under %2")
                     .arg(error, QLatin1String(kUnreadableKey)));
    if (storedValue(QLatin1String(kUnreadableKey)).toByteArray() != json) {
        if (const std::optional<QString> kept = storeValue(QLatin1String(kUnreadableKey), json))
            log::failure(QStringLiteral("ERROR AppPreferences: Cannot keep the unreadable preferences: %1").arg(*kept));
    }
    return defaultValue();
}

std::optional<QString> AppPreferences::storeValue(const QString &key, const QVariant &value)
{
    const QString path = settingsFilePath();
    QString error;
    if (!makePrivatePath(QFileInfo(path).path(), &error))
        return error;
    // QSettings keeps the mode of an existing file when it rewrites it.
    if (writeNewPrivateFile(path, {}, &error) == WriteOutcome::failed)
        return error;
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return QStringLiteral("%1 cannot be written").arg(path);
    if (!makeFilePrivate(path, &error))
        return QStringLiteral("it was written but could not be made private: %1").arg(error);
    return std::nullopt;
}

QVariant AppPreferences::storedValue(const QString &key)
{
    return QSettings(settingsFilePath(), QSettings::IniFormat).value(key);
}

bool AppPreferences::save() const
{
    if (const std::optional<QString> error = storeValue(QLatin1String(kPreferencesKey), toJson())) {
        log::failure(QStringLiteral("ERROR AppPreferences: Failed to save preferences: %1").arg(*error));
        return false;
    }
    return true;
}

} // namespace pellux
