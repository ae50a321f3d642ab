#include "ocr/RecognizedText.h"

#include <QStringList>

namespace pellux {

QString joinRecognizedText(const std::vector<OCRText> &fragments)
{
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(fragments.size()));
    for (const OCRText &fragment : fragments)
        texts.append(fragment.text);
    return texts.join(QLatin1Char(' '));
}

} // namespace pellux
