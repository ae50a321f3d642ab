#pragma once

#include <QImage>
#include <QPainter>
#include <QString>

#include <webp/decode.h>

#include <optional>
#include <vector>

namespace pellux::test {

// A 1920x1080 screenshot of three xterm windows (light and dark) under Xvfb.
inline QImage desktopFrame()
{
    QImage frame(QStringLiteral(PELLUX_SOURCE_DIR "/tests/data/xterm-desktop.png"));
    return frame.convertToFormat(QImage::Format_RGB32);
}

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

} // namespace pellux::test
