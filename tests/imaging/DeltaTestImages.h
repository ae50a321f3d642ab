#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>

#include <cstdint>
#include <cstdlib>

namespace pellux::test {

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

// Mean absolute difference per channel (0...255) of two equally sized images over one area.
inline double meanDifference(const QImage &a, const QImage &b, const QRect &area)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = area.top(); row <= area.bottom(); ++row)
        for (int col = area.left(); col <= area.right(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * area.width() * area.height());
}

} // namespace pellux::test
