#include "ocr/RecognizedText.h"

#include <QStringList>

#include <cmath>

namespace pellux {

QString joinRecognizedText(const std::vector<OCRText> &fragments)
{
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(fragments.size()));
    for (const OCRText &fragment : fragments)
        texts.append(fragment.text);
    return texts.join(QLatin1Char('\n'));
}

RecordingText recognizedText(const std::vector<OCRText> &fragments)
{
    RecordingText result { joinRecognizedText(fragments), {} };
    for (const OCRText &fragment : fragments)
        result.words.insert(result.words.end(), fragment.words.begin(), fragment.words.end());
    const std::vector<TextSpan> spans = wordSpans(result.text);
    bool agree = spans.size() == result.words.size();
    for (size_t i = 0; agree && i < spans.size(); ++i)
        agree = QStringView(result.text).mid(spans[i].start, spans[i].length) == result.words[i].text;
    if (!agree)
        result.words.clear();
    return result;
}

std::vector<WordBox> scaledWordBoxes(std::vector<WordBox> words, QSize recognized, QSize stored)
{
    if (recognized == stored || recognized.isEmpty() || stored.isEmpty())
        return words;
    const double sx = static_cast<double>(stored.width()) / recognized.width();
    const double sy = static_cast<double>(stored.height()) / recognized.height();
    for (WordBox &word : words) {
        const QRect &b = word.box;
        const int left = static_cast<int>(std::lround(b.x() * sx));
        const int top = static_cast<int>(std::lround(b.y() * sy));
        const int right = static_cast<int>(std::lround((b.x() + b.width()) * sx));
        const int bottom = static_cast<int>(std::lround((b.y() + b.height()) * sy));
        word.box = QRect(left, top, std::max(1, right - left), std::max(1, bottom - top));
    }
    return words;
}

} // namespace pellux
