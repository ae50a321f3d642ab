#include "capture/wayland/kde/KWinWindowReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace pellux::kwin {

quint32 WindowIdTable::idFor(const QString &uuid)
{
    if (const auto it = m_ids.constFind(uuid); it != m_ids.constEnd())
        return it.value();
    // Zero means "no window" to the callers; skip it should the counter ever wrap.
    if (m_next == 0)
        ++m_next;
    const quint32 id = m_next++;
    m_ids.insert(uuid, id);
    m_uuids.insert(id, uuid);
    return id;
}

std::optional<QString> WindowIdTable::uuidFor(quint32 windowID) const
{
    if (const auto it = m_uuids.constFind(windowID); it != m_uuids.constEnd())
        return it.value();
    return std::nullopt;
}

void WindowIdTable::keepOnly(const QSet<QString> &uuids)
{
    for (auto it = m_ids.begin(); it != m_ids.end();) {
        if (uuids.contains(it.key())) {
            ++it;
            continue;
        }
        m_uuids.remove(it.value());
        it = m_ids.erase(it);
    }
}

namespace {

CaptureError malformed(const QString &why)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain),
        QStringLiteral("KWin's window list could not be read: %1").arg(why) };
}

// Window kinds that are part of the desktop rather than an application's content.
bool isNeverCaptured(const QJsonObject &w)
{
    static const char *const kinds[] = { "desktopWindow", "dock", "splash", "tooltip", "notification",
        "criticalNotification", "onScreenDisplay", "popupWindow", "menu", "comboBox", "dndIcon" };
    return std::any_of(
        std::begin(kinds), std::end(kinds), [&w](const char *kind) { return w.value(QLatin1String(kind)).toBool(); });
}

struct ListedWindow {
    QString uuid;
    double stackingOrder = 0;
    QSize clientSize;
    WindowDescription description;
};

std::optional<RunningApplication> owningApplicationOf(const QJsonObject &w, const DesktopEntryLookup &desktopEntryFor)
{
    const QString resourceClass = w.value(QLatin1String("resourceClass")).toString();
    const QString resourceName = w.value(QLatin1String("resourceName")).toString();
    const QString desktopFileName = w.value(QLatin1String("desktopFileName")).toString();
    const qint64 pid = w.value(QLatin1String("pid")).toInteger();
    if (resourceClass.isEmpty() && desktopFileName.isEmpty() && pid <= 0)
        return std::nullopt;
    RunningApplication application;
    application.applicationName = !resourceClass.isEmpty() ? resourceClass : desktopFileName;
    // KWin's desktop file name is the app_id on Wayland, which need not name an installed entry:
    // an entry found for it (or for the class) wins, then the name KWin gives, then the class.
    std::optional<QString> entry;
    if (desktopEntryFor) {
        if (!desktopFileName.isEmpty())
            entry = desktopEntryFor(desktopFileName, resourceClass);
        if (!entry && !resourceName.isEmpty())
            entry = desktopEntryFor(resourceName, resourceClass);
    }
    application.bundleIdentifier = entry ? *entry : !desktopFileName.isEmpty() ? desktopFileName : resourceClass;
    application.processID = pid > 0 ? pid : 0;
    return application;
}

} // namespace

CaptureResult<ShareableContent> parseWindowReport(const QByteArray &json, WindowIdTable &ids,
    const DesktopEntryLookup &desktopEntryFor, QHash<quint32, QSize> *clientSizes)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return malformed(QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset));
    if (!document.isObject())
        return malformed(QStringLiteral("the report is not a JSON object"));
    const QJsonObject report = document.object();
    if (const QJsonValue error = report.value(QLatin1String("error")); !error.isUndefined())
        return malformed(QStringLiteral("the KWin script failed: %1").arg(error.toVariant().toString()));
    const QJsonValue windowsValue = report.value(QLatin1String("windows"));
    if (!windowsValue.isArray())
        return malformed(QStringLiteral("the report has no window array"));

    QRectF screen;
    if (const QJsonObject s = report.value(QLatin1String("screen")).toObject(); !s.isEmpty())
        screen = QRectF(s.value(QLatin1String("x")).toDouble(), s.value(QLatin1String("y")).toDouble(),
            s.value(QLatin1String("width")).toDouble(), s.value(QLatin1String("height")).toDouble());

    std::vector<ListedWindow> listed;
    const QJsonArray windows = windowsValue.toArray();
    for (qsizetype i = 0; i < windows.size(); ++i) {
        if (!windows.at(i).isObject())
            return malformed(QStringLiteral("window %1 is not an object").arg(i));
        const QJsonObject w = windows.at(i).toObject();
        const QString uuid = w.value(QLatin1String("internalId")).toString();
        if (uuid.isEmpty())
            return malformed(QStringLiteral("window %1 has no internalId").arg(i));
        if (isNeverCaptured(w))
            continue;
        ListedWindow window;
        window.uuid = uuid;
        window.stackingOrder = w.value(QLatin1String("stackingOrder")).toDouble();
        window.clientSize = QSize(qRound(w.value(QLatin1String("clientWidth")).toDouble()),
            qRound(w.value(QLatin1String("clientHeight")).toDouble()));
        WindowDescription &d = window.description;
        d.frame = QRectF(w.value(QLatin1String("x")).toDouble(), w.value(QLatin1String("y")).toDouble(),
            w.value(QLatin1String("width")).toDouble(), w.value(QLatin1String("height")).toDouble());
        // Minimised windows and those on another desktop are not rendered: KWin never answers a
        // capture of them.
        d.isOnScreen = !w.value(QLatin1String("minimized")).toBool() && !w.value(QLatin1String("hidden")).toBool()
            && w.value(QLatin1String("onCurrentDesktop")).toBool(true)
            && (screen.isEmpty() || screen.intersects(d.frame));
        if (const QJsonValue caption = w.value(QLatin1String("caption")); caption.isString())
            d.title = caption.toString();
        d.owningApplication = owningApplicationOf(w, desktopEntryFor);
        listed.push_back(std::move(window));
    }
    // Front to back: KWin's stacking order counts from the bottom.
    std::stable_sort(listed.begin(), listed.end(),
        [](const ListedWindow &a, const ListedWindow &b) { return a.stackingOrder > b.stackingOrder; });

    ShareableContent content;
    QSet<QString> present;
    if (clientSizes)
        clientSizes->clear();
    for (ListedWindow &window : listed) {
        present.insert(window.uuid);
        window.description.windowID = ids.idFor(window.uuid);
        if (clientSizes && !window.clientSize.isEmpty())
            clientSizes->insert(window.description.windowID, window.clientSize);
        const std::optional<RunningApplication> &owner = window.description.owningApplication;
        if (owner
            && std::find(content.applications.begin(), content.applications.end(), *owner)
                == content.applications.end())
            content.applications.push_back(*owner);
        content.windows.push_back(std::move(window.description));
    }
    ids.keepOnly(present);
    return content;
}

} // namespace pellux::kwin
