#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>
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

// Screen points to pixels at the 96 dots per inch of a desktop screen.
inline int screenPixelsForPoints(double points) { return qRound(points * 96.0 / 72.0); }

// Lines of a terminal: a monospace font at `points` on a 96 dpi screen, lines as close together as
// the font's line spacing, the image just large enough, with a margin of 4 pixels.
inline RenderedText renderTerminalText(const QStringList &lines, double points, QColor ink = Qt::black,
    QColor paper = Qt::white, const QString &family = QStringLiteral("DejaVu Sans Mono"))
{
    QFont font(family);
    font.setPixelSize(screenPixelsForPoints(points));
    font.setHintingPreference(QFont::PreferFullHinting);
    const QFontMetrics metrics(font);
    int width = 0;
    for (const QString &line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    const int margin = 4;
    RenderedText rendered;
    rendered.image = QImage(
        width + 2 * margin, static_cast<int>(lines.size()) * metrics.lineSpacing() + 2 * margin, QImage::Format_RGB32);
    rendered.image.fill(paper);
    QPainter painter(&rendered.image);
    painter.setFont(font);
    painter.setPen(ink);
    int baseline = margin + metrics.ascent();
    for (const QString &line : lines) {
        painter.drawText(margin, baseline, line);
        if (!line.trimmed().isEmpty())
            rendered.lineRects.push_back(metrics.tightBoundingRect(line).translated(margin, baseline));
        baseline += metrics.lineSpacing();
    }
    return rendered;
}

// Sets TESSDATA_PREFIX for the lifetime of the object.
struct ModelFolderVariable {
    explicit ModelFolderVariable(const std::optional<QString> &value)
    {
        if (value)
            qputenv("TESSDATA_PREFIX", value->toLocal8Bit());
        else
            qunsetenv("TESSDATA_PREFIX");
    }
    ~ModelFolderVariable()
    {
        if (wasSet)
            qputenv("TESSDATA_PREFIX", saved);
        else
            qunsetenv("TESSDATA_PREFIX");
    }
    const QByteArray saved = qgetenv("TESSDATA_PREFIX");
    const bool wasSet = qEnvironmentVariableIsSet("TESSDATA_PREFIX");
};

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
