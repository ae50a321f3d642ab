#pragma once

#include "support/TestFiles.h"

#include <webp/encode.h>

namespace pellux::test {

// The image as lossless WebP bytes, encoded with libwebp.
inline QByteArray encodeWebP(const QImage &image)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    uint8_t *output = nullptr;
    const size_t size = WebPEncodeLosslessRGBA(
        rgba.constBits(), rgba.width(), rgba.height(), static_cast<int>(rgba.bytesPerLine()), &output);
    QByteArray bytes(reinterpret_cast<const char *>(output), static_cast<qsizetype>(size));
    WebPFree(output);
    return bytes;
}

} // namespace pellux::test
