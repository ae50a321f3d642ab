#pragma once

#include <QByteArray>
#include <QString>

namespace pellux {

// Screen contents are private: every folder Pellux creates is 0700 and every file 0600, whatever
// the umask. Each function sets the mode explicitly and reports failures in *error.

// Creates the folder and any missing parents (each 0700). An existing folder is left as it is.
// Writes every byte to the descriptor or answers the errno of the failure (0 on success). A short
// write is retried, so that a full disk shows as the error of the next write, not as success.
int writeWhole(int fd, const QByteArray &bytes);

bool makePrivatePath(const QString &path, QString *error = nullptr);
// Creates the folder like makePrivatePath and also tightens an existing folder to 0700.
bool ensurePrivateFolder(const QString &path, QString *error = nullptr);

enum class WriteOutcome { written, alreadyExists, failed };

// Creates a new file with these bytes, never replacing an existing one. A failed write removes
// the partial file.
WriteOutcome writeNewPrivateFile(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// Replaces the file whole: the bytes go to a temporary file in the same folder (hidden, named by
// atomicWriteTemporaryPattern), which is renamed over the old one, so a crash never leaves half a
// file. A failure (a full disk included) leaves
// the old file as it was. Not synced: the list is rewritten every few seconds, and a sync each time
// costs far more than the write.
bool writePrivateFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);
// The name pattern (for QDir) of the temporaries of writePrivateFileAtomically(path) that a crash
// may leave behind.
QString atomicWriteTemporaryPattern(const QString &fileName);

// Sets 0600 on a file that exists.
bool makeFilePrivate(const QString &path, QString *error = nullptr);

} // namespace pellux
