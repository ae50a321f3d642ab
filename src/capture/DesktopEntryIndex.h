#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace pellux {

// The installed desktop entries (*.desktop under the XDG data folders), searched to name the
// application a window belongs to. An entry's id is its path below an applications/ folder with
// "/" replaced by "-" and without ".desktop"; a folder earlier in the search path hides entries
// with the same id in later ones.
class DesktopEntryIndex {
public:
    // The XDG applications folders: $XDG_DATA_HOME (or ~/.local/share) first, then $XDG_DATA_DIRS
    // (or /usr/local/share:/usr/share).
    static QStringList standardApplicationFolders();

    explicit DesktopEntryIndex(const QStringList &applicationFolders = standardApplicationFolders());

    // The id of the entry for a window with this WM_CLASS instance and class: first an entry whose
    // StartupWMClass equals the class (then the instance) exactly, then one whose id, or the last
    // part of a reverse-domain id, equals the class or the instance ignoring case.
    std::optional<QString> idForWindowClass(const QString &instance, const QString &windowClass) const;

    // The Icon key of the entry with this id: an icon name of the theme or an absolute file path.
    // Absent for an unknown id or an entry without an icon.
    std::optional<QString> iconForId(const QString &id) const;
    // The icon of the entry idForWindowClass finds.
    std::optional<QString> iconForWindowClass(const QString &instance, const QString &windowClass) const;

    // Every distinct Icon value of the usable entries.
    QStringList icons() const;

    size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        QString id;
        QString startupWMClass;
        QString icon;
    };

    void scan(const QString &folder);

    std::vector<Entry> m_entries;
    // Every id met so far, hidden ones included: they hide entries of later folders.
    QSet<QString> m_seenIds;
};

} // namespace pellux
