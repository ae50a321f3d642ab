#include "imaging/DeltaCodec.h"

#include "runtime/Log.h"

#include <turbojpeg.h>
#include <webp/encode.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace pellux::deltacodec {

namespace {

// The class every region and frame gets until content classification is shared: largest side
// 1440 pixels, never enlarged, quality 0.75.
constexpr double kLargestSide = 1440.0;
constexpr double kScaleCap = 1.0;
constexpr double kQuality = 0.75;

int qualityPercent(double quality) { return std::clamp(static_cast<int>(std::lround(quality * 100.0)), 0, 100); }

struct TurboJpegDeleter {
    void operator()(void *handle) const { tjDestroy(handle); }
};
struct TurboJpegBufferDeleter {
    void operator()(unsigned char *buffer) const { tjFree(buffer); }
};

QImage scaledForContent(const QImage &image)
{
    const double largest = std::max(image.width(), image.height());
    const double factor = std::min(kLargestSide / largest, kScaleCap);
    if (factor >= 1.0)
        return image;
    // Never scale a side down to nothing: a 1-pixel strip stays 1 pixel.
    const int width = std::max(1, static_cast<int>(image.width() * factor));
    const int height = std::max(1, static_cast<int>(image.height() * factor));
    return image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

QImage asRgb32(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    default:
        return image.convertToFormat(QImage::Format_RGB32);
    }
}

std::optional<QByteArray> convertToWebP(const QImage &source, double quality)
{
    const QImage image = asRgb32(source);
    if (image.isNull() || image.width() > WEBP_MAX_DIMENSION || image.height() > WEBP_MAX_DIMENSION)
        return std::nullopt;
    WebPConfig config;
    if (!WebPConfigInit(&config))
        return std::nullopt;
    config.quality = static_cast<float>(qualityPercent(quality));
    WebPPicture picture;
    if (!WebPPictureInit(&picture))
        return std::nullopt;
    picture.use_argb = 0;
    picture.width = image.width();
    picture.height = image.height();
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    std::optional<QByteArray> result;
    if (WebPPictureImportBGRX(&picture, image.constBits(), static_cast<int>(image.bytesPerLine()))
        && WebPEncode(&config, &picture))
        result = QByteArray(reinterpret_cast<const char *>(writer.mem), static_cast<qsizetype>(writer.size));
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return result;
}

std::optional<QByteArray> compressToJPEG(const QImage &source, double quality)
{
    const QImage image = asRgb32(source);
    if (image.isNull())
        return std::nullopt;
    // One handle per call: a handle reused across progressive and baseline runs corrupts output.
    std::unique_ptr<void, TurboJpegDeleter> handle(tjInitCompress());
    if (!handle)
        return std::nullopt;
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const int status = tjCompress2(handle.get(), image.constBits(), image.width(), static_cast<int>(image.bytesPerLine()),
                                   image.height(), TJPF_BGRX, &out, &size, TJSAMP_420, qualityPercent(quality),
                                   TJFLAG_PROGRESSIVE);
    std::unique_ptr<unsigned char, TurboJpegBufferDeleter> owned(out);
    if (status != 0 || !out || size == 0)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char *>(out), static_cast<qsizetype>(size));
}

std::optional<QByteArray> encodeForContent(const QImage &image)
{
    if (image.isNull())
        return std::nullopt;
    const QImage scaled = scaledForContent(image);
    if (auto webp = convertToWebP(scaled, kQuality))
        return webp;
    return compressToJPEG(scaled, kQuality);
}

qint64 tiffRepresentationSize(const QImage &image)
{
    if (image.isNull())
        return 0;
    // Little-endian header (8), one strip of RGBA pixels, an IFD of 12 entries (2 + 12 × 12 + 4)
    // and the out-of-line bits-per-sample array (4 × 2).
    return 8 + qint64(image.width()) * image.height() * 4 + 150 + 8;
}

} // namespace pellux::deltacodec
