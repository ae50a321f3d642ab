#include "ocr/RecognitionImage.h"

#include <cmath>

namespace pellux {

RecognitionTuning accurateTuning()
{
    return {.scale = 1.0, .invertDarkBackground = true, .layout = PageLayout::automatic, .tesseractInversionPass = true};
}

RecognitionTuning fastTuning()
{
    return {.scale = 1.0, .invertDarkBackground = false, .layout = PageLayout::automatic, .tesseractInversionPass = true};
}

double meanGrey(const QImage &grey)
{
    if (grey.isNull())
        return 255.0;
    // A 4-pixel grid is plenty to tell a dark theme from a light one.
    constexpr int step = 4;
    quint64 sum = 0;
    quint64 count = 0;
    for (int y = 0; y < grey.height(); y += step) {
        const uchar *row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); x += step) {
            sum += row[x];
            ++count;
        }
    }
    return count ? static_cast<double>(sum) / static_cast<double>(count) : 255.0;
}

PreparedImage prepareForRecognition(const QImage &image, const RecognitionTuning &tuning)
{
    PreparedImage prepared;
    if (image.isNull())
        return prepared;
    prepared.grey = image.convertToFormat(QImage::Format_Grayscale8);
    if (tuning.invertDarkBackground && meanGrey(prepared.grey) < kDarkBackgroundMeanGrey) {
        prepared.grey.invertPixels();
        prepared.inverted = true;
    }
    if (tuning.scale > 1.0) {
        const int width = static_cast<int>(std::lround(prepared.grey.width() * tuning.scale));
        const int height = static_cast<int>(std::lround(prepared.grey.height() * tuning.scale));
        prepared.grey = prepared.grey.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        prepared.scale = static_cast<double>(width) / image.width();
    }
    return prepared;
}

QRectF lowerLeftBounds(const QRect &preparedBox, double scale, int originalHeight)
{
    const double s = scale > 0 ? scale : 1.0;
    const double left = preparedBox.x() / s;
    const double top = preparedBox.y() / s;
    const double width = preparedBox.width() / s;
    const double height = preparedBox.height() / s;
    return QRectF(left, originalHeight - (top + height), width, height);
}

} // namespace pellux
