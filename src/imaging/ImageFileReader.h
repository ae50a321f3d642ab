#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

namespace pellux {

// The largest image file Pellux reads: far above any screenshot, small enough to hold in memory.
inline constexpr qint64 kMaxImageFileBytes = qint64(256) * 1024 * 1024;

// The bytes of a regular file of at most maxBytes. The type and size are checked on the opened
// descriptor (a FIFO is opened without waiting for a writer), and the read stops after maxBytes,
// so a FIFO, a device such as /dev/zero, a folder or a file that grows while it is read is refused
// at once with a reason in *error, never read without end.
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes, QString *error = nullptr);

// Reads a PNG, JPEG or WebP file (or anything else Qt's image plugins know) into an image.
// WebP is always decoded with libwebp, since Qt's WebP plugin is often not installed. A missing, unreadable or
// undecodable file gives a null image and, in *error, a short reason ("no such file", "not an image...").
// Only regular files of at most kMaxImageFileBytes are read (see readRegularFile).
QImage readImageFile(const QString &path, QString *error = nullptr);

// Decodes the bytes of an image file the same way; null (with a reason in *error) when they are
// not a decodable image.
QImage decodeImage(const QByteArray &bytes, QString *error = nullptr);

// The signatures of the two formats screenshots are stored in: "RIFF....WEBP", and a JPEG's FF D8.
bool isWebPData(const QByteArray &bytes);
bool isJpegData(const QByteArray &bytes);

// Decodes WebP bytes with libwebp; null when they are not a valid WebP image.
QImage decodeWebP(const QByteArray &bytes);

} // namespace pellux
