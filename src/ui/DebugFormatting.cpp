#include "ui/DebugFormatting.h"

#include "diagnostics/DebugManager.h"

#include <QLocale>

#include <cmath>
#include <iterator>

namespace pellux {

namespace {

const QColor kGreen(0x34, 0xC7, 0x59);
const QColor kOrange(0xFF, 0x95, 0x00);
const QColor kRed(0xFF, 0x3B, 0x30);

QString wholeNumber(double value) { return QString::number(std::llround(value)); }

} // namespace

UsageLevel usageLevel(double percent)
{
    if (percent < 5)
        return UsageLevel::low;
    if (percent < 15)
        return UsageLevel::moderate;
    return UsageLevel::high;
}

QColor usageLevelColor(UsageLevel level)
{
    switch (level) {
    case UsageLevel::low:
        return kGreen;
    case UsageLevel::moderate:
        return kOrange;
    case UsageLevel::high:
        break;
    }
    return kRed;
}

bool isConfidentRecognition(double confidence) { return confidence > 0.8; }

QColor confidenceColor(double confidence) { return isConfidentRecognition(confidence) ? kGreen : kOrange; }

QString confidenceText(double confidence)
{
    return QStringLiteral("Confidence: %1%").arg(wholeNumber(confidence * 100));
}

QString boundsText(const QRectF &bounds)
{
    return QStringLiteral("Position: (%1, %2) Size: %3 \u00D7 %4")
        .arg(wholeNumber(bounds.x()), wholeNumber(bounds.y()), wholeNumber(bounds.width()),
            wholeNumber(bounds.height()));
}

QString frameSizeText(int width, int height) { return QStringLiteral("%1 \u00D7 %2").arg(width).arg(height); }

QString framesPerSecondText(double framesPerSecond) { return wholeNumber(framesPerSecond) + QStringLiteral(" FPS"); }

QString usagePercentText(double percent) { return wholeNumber(percent) + QLatin1Char('%'); }

QString processingTimeText(double milliseconds)
{
    return QString::asprintf("%.1fms", std::isfinite(milliseconds) ? milliseconds : 0.0);
}

QString debugTimeText(const QDateTime &time)
{
    return QLocale::system().toString(time.toLocalTime().time(), QLocale::ShortFormat);
}

std::vector<const DebugOCRResult *> filterOCRResults(const std::deque<DebugOCRResult> &results, const QString &search)
{
    std::vector<const DebugOCRResult *> shown;
    for (const DebugOCRResult &result : results) {
        if (search.isEmpty() || result.text.contains(search, Qt::CaseInsensitive))
            shown.push_back(&result);
    }
    return shown;
}

} // namespace pellux
