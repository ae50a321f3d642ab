#include "capture/DesktopEntryIndex.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>

#include <algorithm>

namespace pellux {

namespace {

// Reads StartupWMClass and Icon from the [Desktop Entry] group; not usable for entries that are
// hidden or not applications.
struct ParsedEntry {
    bool usable = false;
    QString startupWMClass;
    QString icon;
};

ParsedEntry parseEntry(const QString &path)
{
    QFile file(path);
    ParsedEntry parsed;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text) || file.size() > 1024 * 1024)
        return parsed;
    bool inMainGroup = false;
    QString type;
    bool hidden = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Type"))
            type = value;
        else if (key == QLatin1String("Hidden"))
            hidden = value == QLatin1String("true");
        else if (key == QLatin1String("StartupWMClass"))
            parsed.startupWMClass = value;
        else if (key == QLatin1String("Icon"))
            parsed.icon = value;
    }
    parsed.usable = !hidden && (type.isEmpty() || type == QLatin1String("Application"));
    return parsed;
}

} // namespace

QStringList DesktopEntryIndex::standardApplicationFolders()
{
    QStringList folders;
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    folders << dataHome + QStringLiteral("/applications");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders << dir + QStringLiteral("/applications");
    return folders;
}

DesktopEntryIndex::DesktopEntryIndex(const QStringList &applicationFolders)
{
    for (const QString &folder : applicationFolders)
        scan(folder);
}

void DesktopEntryIndex::scan(const QString &folder)
{
    const QDir root(folder);
    if (!root.exists())
        return;
    QDirIterator it(folder, { QStringLiteral("*.desktop") }, QDir::Files, QDirIterator::Subdirectories);
    std::vector<std::pair<QString, QString>> found;
    while (it.hasNext()) {
        const QString path = it.next();
        QString id = root.relativeFilePath(path);
        id.chop(int(sizeof(".desktop") - 1));
        id.replace(QLatin1Char('/'), QLatin1Char('-'));
        found.emplace_back(id, path);
    }
    // Directory order is arbitrary; sort so the index is the same on every run.
    std::sort(found.begin(), found.end());
    for (const auto &[id, path] : found) {
        if (m_seenIds.contains(id))
            continue;
        m_seenIds.insert(id);
        const ParsedEntry parsed = parseEntry(path);
        if (parsed.usable)
            m_entries.push_back({ id, parsed.startupWMClass, parsed.icon });
    }
}

std::optional<QString> DesktopEntryIndex::idForWindowClass(const QString &instance, const QString &windowClass) const
{
    for (const QString &name : { windowClass, instance }) {
        if (name.isEmpty())
            continue;
        for (const Entry &e : m_entries)
            if (e.startupWMClass == name)
                return e.id;
    }
    for (const QString &name : { windowClass, instance }) {
        if (name.isEmpty())
            continue;
        for (const Entry &e : m_entries) {
            const QString lastPart = e.id.section(QLatin1Char('.'), -1);
            if (e.id.compare(name, Qt::CaseInsensitive) == 0 || lastPart.compare(name, Qt::CaseInsensitive) == 0)
                return e.id;
        }
    }
    return std::nullopt;
}

QStringList DesktopEntryIndex::icons() const
{
    QStringList icons;
    QSet<QString> seen;
    for (const Entry &e : m_entries) {
        if (!e.icon.isEmpty() && !seen.contains(e.icon)) {
            seen.insert(e.icon);
            icons << e.icon;
        }
    }
    return icons;
}

std::optional<QString> DesktopEntryIndex::iconForId(const QString &id) const
{
    for (const Entry &e : m_entries) {
        if (e.id == id)
            return e.icon.isEmpty() ? std::nullopt : std::optional<QString>(e.icon);
    }
    return std::nullopt;
}

std::optional<QString> DesktopEntryIndex::iconForWindowClass(const QString &instance, const QString &windowClass) const
{
    const std::optional<QString> id = idForWindowClass(instance, windowClass);
    return id ? iconForId(*id) : std::nullopt;
}

} // namespace pellux
