#pragma once

#include <QImage>
#include <QString>

namespace pellux {

// Reads a PNG, JPEG or WebP file (or anything else Qt's image plugins know) into an image.
// WebP is always decoded with libwebp, since Qt's WebP plugin is often not installed. A missing, unreadable or
// undecodable file gives a null image and, in *error, a short reason ("no such file", "not an image...").
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
