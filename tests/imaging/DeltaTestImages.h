#pragma once

// Frames the imaging tests draw (solid colours, block strips, window-like frames, typed lines,
// noise) and what they check encoded frames with.

#include "imaging/ImageOptimizer.h"
#include "support/SampleImages.h"

#include "support/TestFiles.h"

#include <webp/decode.h>

namespace pellux::test {

// The 1920x1080 desktop of three xterm windows (light and dark).
inline QImage desktopFrame() { return terminalDesktopFrame(); }

inline QImage solidImage(int width, int height, QColor colour, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    image.fill(colour);
    return image;
}

// A strip of 64x64 blocks, block i filled with grey level `levels[i]`.
inline QImage blockStrip(const std::vector<int> &levels)
{
    QImage image(int(levels.size()) * 64, 64, QImage::Format_RGB32);
    QPainter painter(&image);
    for (size_t i = 0; i < levels.size(); ++i)
        painter.fillRect(int(i) * 64, 0, 64, 64, QColor(levels[i], levels[i], levels[i]));
    return image;
}

// Writes a line of text into a copy of the frame, covering a few 64-pixel tiles.
inline QImage withTypedLine(const QImage &frame, const QString &text, QPoint at = QPoint(40, 600))
{
    QImage changed = frame.copy();
    QPainter painter(&changed);
    painter.fillRect(QRect(at.x(), at.y() - 16, 220, 22), Qt::white);
    painter.setPen(Qt::black);
    painter.setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 11));
    painter.drawText(at, text);
    return changed;
}

// A window-like frame: pale background, a few coloured panels and lines of text.
inline QImage windowFrame(int width, int height, int seed = 0)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(245, 245, 240));
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, width, 24), QColor(60, 70, 90));
    painter.fillRect(QRect(width / 2, 40, width / 3, height / 3), QColor(120 + seed % 100, 160, 200));
    painter.setPen(Qt::black);
    QFont font;
    font.setPixelSize(14);
    painter.setFont(font);
    for (int y = 50; y < height - 10; y += 22)
        painter.drawText(12, y, QStringLiteral("Line %1 of a document window %2").arg(y).arg(seed));
    return image;
}

inline void paintNoise(QImage &image, const QRect &area, unsigned seed)
{
    std::srand(seed);
    QPainter painter(&image);
    for (int y = area.top(); y <= area.bottom(); y += 4)
        for (int x = area.left(); x <= area.right(); x += 4)
            painter.fillRect(QRect(x, y, 4, 4), QColor(std::rand() % 256, std::rand() % 256, std::rand() % 256));
}

// A copy of the frame with noise painted over one area.
inline QImage withNoise(const QImage &frame, const QRect &area, unsigned seed)
{
    QImage next = frame.copy();
    paintNoise(next, area, seed);
    return next;
}

// Mean absolute difference per channel (0...255) of two opaque images over one area.
inline double meanDifference(const QImage &a, const QImage &b, const QRect &area)
{
    return 255.0 * ImageOptimizer::imageDifference(a.copy(area), b.copy(area));
}

// libwebp's own answer: a lossless (VP8L) bitstream, not a lossy (VP8) one.
inline bool isLosslessWebP(const QByteArray &bytes)
{
    WebPBitstreamFeatures features;
    return WebPGetFeatures(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), &features)
        == VP8_STATUS_OK
        && features.format == 2;
}

} // namespace pellux::test
