#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

// Encoding of delta regions and full frames. Kept private to the delta-frame code until the image
// optimiser provides the shared classification, scaling and encoders.
namespace pellux::deltacodec {

// Pixels as 32-bit BGRX rows: RGB32, ARGB32 and ARGB32_Premultiplied are used as they are (the
// alpha byte is ignored: screen captures are opaque), any other format is converted.
QImage asRgb32(const QImage &image);

std::optional<QByteArray> convertToWebP(const QImage &image, double quality);
std::optional<QByteArray> compressToJPEG(const QImage &image, double quality);

// Classifies, scales for the class and encodes as WebP, falling back to progressive JPEG.
std::optional<QByteArray> encodeForContent(const QImage &image);

// Byte count of an uncompressed 8-bit RGBA TIFF of the image (0 for a null image).
qint64 tiffRepresentationSize(const QImage &image);

} // namespace pellux::deltacodec
