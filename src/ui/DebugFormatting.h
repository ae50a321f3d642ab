#pragma once

#include <QColor>
#include <QDateTime>
#include <QRectF>
#include <QString>

#include <deque>
#include <vector>

namespace pellux {

struct DebugOCRResult;

// The debug window's figures as text and colour.

// How busy the processor is, from the usage in percent: below 5 low, from 5 below 15 moderate,
// from 15 high.
enum class UsageLevel { low, moderate, high };
UsageLevel usageLevel(double percent);
// Green, orange, red.
QColor usageLevelColor(UsageLevel level);

// A recognised text is trusted when its confidence (0 to 1) is above 0.8.
bool isConfidentRecognition(double confidence);
// Green when trusted, otherwise orange.
QColor confidenceColor(double confidence);
// "Confidence: 95%".
QString confidenceText(double confidence);
// "Position: (12, 40) Size: 300 × 24", whole numbers.
QString boundsText(const QRectF &bounds);
// "1920 × 1080".
QString frameSizeText(int width, int height);
// "30 FPS".
QString framesPerSecondText(double framesPerSecond);
// "12%".
QString usagePercentText(double percent);
// "12.3ms".
QString processingTimeText(double milliseconds);
// The clock time of an entry in the user's short time format.
QString debugTimeText(const QDateTime &time);

// The recognised texts a search shows, in their order (newest first): all of them for an empty
// search, otherwise those containing the search text in any letter case.
std::vector<const DebugOCRResult *> filterOCRResults(const std::deque<DebugOCRResult> &results, const QString &search);

} // namespace pellux
