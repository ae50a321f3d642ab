#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

namespace pellux {

// The largest image file Pellux reads: far above any screenshot, small enough to hold in memory.
inline constexpr qint64 kMaxImageFileBytes = qint64(256) * 1024 * 1024;

// Whether the last part of a path may be a symbolic link. Files of the store never are: one there
// would lead a reader out of the store.
enum class Symlinks { follow, refuse };

// The bytes of a regular file of at most maxBytes. The type and size are checked on the opened
// descriptor (a FIFO is opened without waiting for a writer), and the read stops after maxBytes,
// so a FIFO, a device such as /dev/zero, a folder or a file that grows while it is read is refused
// at once with a reason in *error, never read without end.
std::optional<QByteArray> readRegularFile(
    const QString &path, qint64 maxBytes, QString *error = nullptr, Symlinks symlinks = Symlinks::follow);

// A file of the store (a screenshot, a delta, a backup): readRegularFile with kMaxImageFileBytes,
// a symbolic link refused, an empty file refused.
std::optional<QByteArray> readStoredFile(const QString &path, QString *error = nullptr);

// Reads a PNG, JPEG or WebP file (or anything else Qt's image plugins know) into an image, as
// decodeImage does. A missing, unreadable or undecodable file gives a null image and, in *error, a
// short reason ("no such file", "not an image..."). Only regular files of at most
// kMaxImageFileBytes are read (see readRegularFile).
QImage readImageFile(const QString &path, QString *error = nullptr);

// The one decoder of image bytes: WebP with libwebp (Qt's plugin is often not installed), JPEG with
// TurboJPEG (a damaged file is refused rather than shown half grey), anything else through Qt.
// Decoded straight to fittedSize(source, requested) where the format allows, else reduced after.
// Null (with a reason in *error) when the bytes are not a decodable image or too large for Qt's
// allocation limit.
QImage decodeImage(const QByteArray &bytes, QSize requested, QString *error = nullptr);
// The same at full size.
QImage decodeImage(const QByteArray &bytes, QString *error = nullptr);

// The size the image's header states, without decoding; absent when it is not an image.
std::optional<QSize> encodedImageSize(const QByteArray &bytes);

// The size an image of `source` pixels is shown at when `requested` is asked for: fitted within it
// with its aspect ratio kept, never enlarged; a side of 0 or less leaves that side free, and an
// empty request gives the source size.
QSize fittedSize(QSize source, QSize requested);

// The signatures of the two formats screenshots are stored in: "RIFF....WEBP", and a JPEG's FF D8.
bool isWebPData(const QByteArray &bytes);
bool isJpegData(const QByteArray &bytes);

} // namespace pellux
