#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace pellux {

// Screen contents are private: every folder Pellux creates is 0700 and every file 0600, whatever
// the umask. Each function sets the mode explicitly and reports failures in *error.

// Creates the folder and any missing parents (each 0700). An existing folder is left as it is.
// Writes every byte to the descriptor or answers the errno of the failure (0 on success). A short
// write is retried, so that a full disk shows as the error of the next write, not as success.
int writeWhole(int fd, const QByteArray &bytes);
// The same at this offset of the file (pwrite), leaving the descriptor's position alone.
int writeWholeAt(int fd, const QByteArray &bytes, qint64 offset);

// Flushes a folder's entries (a file created, renamed or removed in it) to the disk; the errno of
// the failure, 0 on success.
int syncFolder(const QString &path);
// Flushes a file's data to the disk; the errno of the failure, 0 on success.
int syncFile(int fd);

[[nodiscard]] bool makePrivatePath(const QString &path, QString *error = nullptr);
// Creates the folder like makePrivatePath and also tightens an existing folder to 0700.
[[nodiscard]] bool ensurePrivateFolder(const QString &path, QString *error = nullptr);

enum class WriteOutcome { written, alreadyExists, failed };
// Whether a write waits until its data is on the disk. Only files that can be made again (test
// and benchmark histories) skip it.
enum class Durability { synced, unsynced };

// Creates a new file with these bytes, never replacing an existing one. The file and then its
// folder are flushed to the disk before it counts as written, so a power loss never leaves a
// listed file empty or missing. A failed write removes the partial file.
[[nodiscard]] WriteOutcome writeNewPrivateFile(
    const QString &path, const QByteArray &bytes, QString *error = nullptr, Durability durability = Durability::synced);

// Replaces the file whole: the bytes go to a temporary file in the same folder (hidden, named by
// atomicWriteTemporaryPattern), which is flushed to the disk and then renamed over the old one;
// the folder is flushed after the rename. A crash or power loss leaves either the old file or the
// new one, never half a file or an empty one. A failure (a full disk included) leaves the old file
// as it was.
[[nodiscard]] bool writePrivateFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);
// The same for contents too large to hold in memory: `write` writes them to the open temporary
// and answers 0, or the errno of its failure.
[[nodiscard]] bool writePrivateFileAtomically(
    const QString &path, const std::function<int(int fd)> &write, QString *error = nullptr);
enum class ReplaceOutcome { replaced, vanished, failed };
// Replaces a file that exists, the same way, keeping its modification time. The new file is
// exchanged with the old one, so a file deleted meanwhile is not brought back (`vanished`).
[[nodiscard]] ReplaceOutcome replaceExistingPrivateFile(
    const QString &path, const QByteArray &bytes, QString *error = nullptr);
// The name pattern (for QDir) of the temporaries of writePrivateFileAtomically(path) that a crash
// may leave behind.
QString atomicWriteTemporaryPattern(const QString &fileName);

// Sets 0600 on a file that exists.
[[nodiscard]] bool makeFilePrivate(const QString &path, QString *error = nullptr);

} // namespace pellux
