#pragma once

#include "support/TestFiles.h"

namespace pellux::test {

// An image with lines of text drawn by Qt, and where each line went (top-left origin).
struct RenderedText {
    QImage image;
    std::vector<QRect> lineRects;
};

// How lines are drawn. Without a size the image is just large enough, with a margin of 4 pixels and
// lines as close as the font's line spacing (a terminal); with one, the lines start at
// (40, 2 * pixel size), twice the font's height apart.
struct TextPage {
    QSize size;
    int pixelSize = 22;
    QColor ink = Qt::black;
    QColor paper = Qt::white;
    QString family = QStringLiteral("DejaVu Sans");
};

inline const QColor kLightInk(0xd4, 0xd4, 0xd4); // a dark theme's
inline const QColor kDarkPaper(0x1e, 0x1e, 0x1e);

// Screen points to pixels at the 96 dots per inch of a desktop screen.
inline int pixelsForPoints(double points) { return qRound(points * 96.0 / 72.0); }

inline RenderedText renderText(const QStringList &lines, const TextPage &page)
{
    QFont font(page.family);
    font.setPixelSize(page.pixelSize);
    font.setHintingPreference(QFont::PreferFullHinting);
    const QFontMetrics metrics(font);
    const bool fitted = page.size.isEmpty();
    const int step = fitted ? metrics.lineSpacing() : 2 * metrics.height();
    const QPoint origin = fitted ? QPoint(4, 4) : QPoint(40, 2 * page.pixelSize);
    int width = 0;
    for (const QString &line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    RenderedText rendered {
        QImage(fitted ? QSize(width + 8, int(lines.size()) * step + 8) : page.size, QImage::Format_RGB32), {}
    };
    rendered.image.fill(page.paper);
    QPainter painter(&rendered.image);
    painter.setFont(font);
    painter.setPen(page.ink);
    int baseline = origin.y() + metrics.ascent();
    for (const QString &line : lines) {
        painter.drawText(origin.x(), baseline, line);
        if (!line.trimmed().isEmpty())
            rendered.lineRects.push_back(metrics.tightBoundingRect(line).translated(origin.x(), baseline));
        baseline += step;
    }
    return rendered;
}

// Sets TESSDATA_PREFIX for the lifetime of the object.
struct ModelFolderVariable {
    explicit ModelFolderVariable(const std::optional<QString> &value)
    {
        value ? qputenv("TESSDATA_PREFIX", value->toLocal8Bit()) : qunsetenv("TESSDATA_PREFIX");
    }
    ~ModelFolderVariable() { wasSet ? qputenv("TESSDATA_PREFIX", saved) : qunsetenv("TESSDATA_PREFIX"); }
    const QByteArray saved = qgetenv("TESSDATA_PREFIX");
    const bool wasSet = qEnvironmentVariableIsSet("TESSDATA_PREFIX");
};

} // namespace pellux::test
