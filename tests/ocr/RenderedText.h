#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>
#include <QStringList>

#include <vector>

namespace pellux::test {

// An image with lines of text drawn by Qt, and where each line went (top-left origin).
struct RenderedText {
    QImage image;
    std::vector<QRect> lineRects;
};

inline RenderedText renderText(const QStringList &lines, QSize size, QColor ink = Qt::black, QColor paper = Qt::white,
    int pixelSize = 22, QPoint origin = QPoint(40, 40))
{
    RenderedText rendered;
    rendered.image = QImage(size, QImage::Format_RGB32);
    rendered.image.fill(paper);
    QPainter painter(&rendered.image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    painter.setPen(ink);
    const QFontMetrics metrics(font);
    int baseline = origin.y() + metrics.ascent();
    for (const QString &line : lines) {
        painter.drawText(origin.x(), baseline, line);
        rendered.lineRects.push_back(metrics.tightBoundingRect(line).translated(origin.x(), baseline));
        baseline += 2 * metrics.height();
    }
    return rendered;
}

// Whether `text` contains every word of `words`, ignoring case.
inline bool containsAllWords(const QString &text, const QStringList &words)
{
    for (const QString &word : words) {
        if (!text.contains(word, Qt::CaseInsensitive))
            return false;
    }
    return true;
}

} // namespace pellux::test
