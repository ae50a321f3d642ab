#pragma once

#include "persistence/Recording.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <vector>

namespace pellux {

// Bytes taken by everything below `folder` (files and folders, the folder itself not counted),
// skipping hidden entries and never following symbolic links. Unreadable entries count nothing.
qint64 diskUsage(const QString &folder);

// Removes a stored screenshot, its re-compression backup ("<file>.bak") and its thumbnail
// (thumbnail::pathFor), the last two also when the screenshot is gone already. Only files below a
// "Pellux/Screenshots" folder are removed, and never a folder. False when it refused or failed.
bool removeScreenshotFile(const QString &path, QString *error = nullptr);

// Empties a "Pellux/Screenshots" folder for a deletion of everything: every file below it
// (screenshots, backups, files no list names) except the paths in `keep`, then every folder left
// empty. Symbolic links are removed, never followed. Answers what could not be removed, one line
// each; a folder elsewhere is refused.
QStringList emptyScreenshotsFolder(const QString &screenshotsDirectory, const QSet<QString> &keep);

// Removes the copies of damaged recordings lists set aside in `recordingsDirectory`
// ("metadata.json.corrupt-<time>"); answers what could not be removed.
QStringList removeSetAsideLists(const QString &recordingsDirectory);

// Recordings for the image files below `screenshotsDirectory` whose paths are not in `known`:
// fresh ids, the capture time from the file name (else the file's creation or change time), no
// application, title or hash. Backups and other files are left out.
std::vector<Recording> recordingsFromImageFiles(const QString &screenshotsDirectory, const QSet<QString> &known);

} // namespace pellux
