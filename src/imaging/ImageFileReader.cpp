#include "imaging/ImageFileReader.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <webp/decode.h>

namespace pellux {

namespace {

void setError(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
}

} // namespace

bool isWebPData(const QByteArray &bytes)
{
    return bytes.size() >= 12 && bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP";
}

bool isJpegData(const QByteArray &bytes)
{
    return bytes.size() >= 3 && uchar(bytes[0]) == 0xff && uchar(bytes[1]) == 0xd8;
}

QImage decodeWebP(const QByteArray &bytes)
{
    if (!isWebPData(bytes))
        return {};
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.constData());
    const auto size = static_cast<size_t>(bytes.size());
    int width = 0;
    int height = 0;
    if (!WebPGetInfo(data, size, &width, &height) || width <= 0 || height <= 0)
        return {};
    // The same ceiling Qt puts on the images its own plugins decode.
    const qint64 limitBytes = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    if (limitBytes > 0 && qint64(width) * height * 4 > limitBytes)
        return {};
    QImage image(width, height, QImage::Format_RGBA8888);
    if (image.isNull())
        return {};
    const auto stride = static_cast<int>(image.bytesPerLine());
    if (!WebPDecodeRGBAInto(data, size, image.bits(), static_cast<size_t>(image.sizeInBytes()), stride))
        return {};
    return image;
}

QImage readImageFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!QFileInfo::exists(path)) {
        setError(error, QStringLiteral("no such file"));
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, file.errorString());
        return {};
    }
    return decodeImage(file.readAll(), error);
}

QImage decodeImage(const QByteArray &bytes, QString *error)
{
    if (bytes.isEmpty()) {
        setError(error, QStringLiteral("the file is empty"));
        return {};
    }
    if (isWebPData(bytes)) {
        QImage image = decodeWebP(bytes);
        if (image.isNull())
            setError(error, QStringLiteral("not a valid WebP image"));
        return image;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    QImage image = reader.read();
    if (image.isNull())
        setError(error, QStringLiteral("not an image in a known format (%1)").arg(reader.errorString()));
    return image;
}

} // namespace pellux
