#include "ui/ScreenshotLoader.h"

namespace pellux {

ScreenshotLoader::ScreenshotLoader(DeltaChainLookup lookup, qint64 cacheBytes)
    : m_reader(std::move(lookup), cacheBytes)
{
}

QImage ScreenshotLoader::load(const QString &path, QSize requested, QString *error)
{
    QImage image = m_reader.read(path, requested);
    if (image.isNull() && error)
        *error = unavailableText();
    return image;
}

} // namespace pellux
