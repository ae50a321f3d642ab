#pragma once

#include "capture/DesktopEntryIndex.h"

#include <QFuture>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace pellux {

// The icons of the applications recordings were made in, by the name stored with each recording
// (the WM_CLASS class, "XTerm"), or of a running application, by its bundle identifier (the
// desktop-entry id, else the WM_CLASS instance) and then its name: the Icon key of the desktop
// entry found, an icon name of the theme or an absolute file path. The desktop entries are read once, on the global
// thread pool (`prepare`) or by the first worker that needs them.
class ApplicationIcons : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool ready READ isReady NOTIFY readyChanged)

public:
    explicit ApplicationIcons(
        QStringList applicationFolders = DesktopEntryIndex::standardApplicationFolders(), QObject *parent = nullptr);
    ~ApplicationIcons() override;

    // Starts reading the desktop entries on the global thread pool; readyChanged follows on this
    // object's thread. Further calls do nothing.
    void prepare();
    bool isReady() const { return m_ready.load(); }

    // Cheap and never blocking (for the filter chips on the GUI thread): whether the application's
    // entry names an icon that exists. False until the entries are read (bind to `ready`).
    Q_INVOKABLE bool hasApplicationIcon(const QString &appName, const QString &bundleIdentifier = {}) const;

    // The icon rendered to fit `size`; null when there is none. Blocks while the entries are read
    // the first time: call it from a worker thread.
    QImage applicationIcon(const QString &appName, QSize size, const QString &bundleIdentifier = {});

signals:
    void readyChanged();

private:
    struct Index {
        DesktopEntryIndex entries;
        QSet<QString> availableIcons; // Icon values that resolve to an image
    };

    const Index &index();
    std::optional<QString> iconFor(const Index &index, const QString &appName, const QString &bundleIdentifier) const;

    const QStringList m_folders;
    std::once_flag m_built;
    std::unique_ptr<Index> m_index;
    std::atomic<bool> m_ready { false };
    std::atomic<bool> m_preparing { false };
    QFuture<void> m_preparation;
};

} // namespace pellux
