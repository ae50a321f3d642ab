#pragma once

#include <QString>

namespace pellux {

// Where everything Pellux keeps lies below its folder, Documents/Pellux. The one place these
// paths are spelled out; tests build a layout on a temporary folder or point HOME and XDG_* at one.
class StoreLayout {
public:
    // Documents/Pellux of the current user: the XDG documents folder, ~/Documents when none is
    // set. Read on every call, so that it follows the environment.
    static StoreLayout standard();
    static QString documentsFolder();

    explicit StoreLayout(QString root);

    QString root() const { return m_root; }
    QString databaseFile() const; // pellux_v2.db
    QString recordingsFolder() const; // Recordings
    QString recordingsListFile() const; // Recordings/metadata.json
    QString captureSessionMark() const; // Recordings/.capture-session
    QString screenshotsFolder() const; // Screenshots, hour folders yyyy/MM/dd/HH below it
    QString captureLockFile() const; // .capture.lock

private:
    QString m_root;
};

} // namespace pellux
