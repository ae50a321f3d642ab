// The encoders (lossy and lossless WebP, progressive JPEG) and the source-size formula.
#include "imaging/ImageOptimizer.h"
#include "imaging/WebPEncoding.h"
#include "runtime/Log.h"
#include "runtime/PixelBuffer.h"

#include <turbojpeg.h>
#include <webp/encode.h>

#include <cmath>
#include <memory>

namespace pellux {

namespace {

// WebP's effort level. On a 1920x1080 terminal frame at quality 0.85, method 0 takes about 50 ms
// for 265 KB, method 2 75 ms for 246 KB and the library default 4 160 ms for 240 KB: the full-frame
// budget (classification, scaling and encoding) leaves room only for the fastest.
constexpr int kWebPMethod = 0;

struct TurboJpegHandleDeleter {
    void operator()(void *handle) const
    {
        if (handle)
            tjDestroy(handle);
    }
};
using TurboJpegHandle = std::unique_ptr<void, TurboJpegHandleDeleter>;

struct TurboJpegBufferDeleter {
    void operator()(unsigned char *buffer) const { tjFree(buffer); }
};

struct WebPPictureGuard {
    WebPPicture picture;
    ~WebPPictureGuard() { WebPPictureFree(&picture); }
};
struct WebPWriterGuard {
    WebPMemoryWriter writer;
    ~WebPWriterGuard() { WebPMemoryWriterClear(&writer); }
};

bool checkEncodable(const QImage &image, double quality, const char *encoder)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        log::failure(QStringLiteral("ERROR ImageOptimizer: %1 encoding skipped, the image has no pixels")
                         .arg(QLatin1String(encoder)));
        return false;
    }
    if (!std::isfinite(quality) || quality < 0.0 || quality > 1.0) {
        log::failure(QStringLiteral("ERROR ImageOptimizer: %1 quality %2 is outside 0...1")
                         .arg(QLatin1String(encoder))
                         .arg(quality));
        return false;
    }
    return true;
}

// One progressive-compression handle per thread: a TurboJPEG handle reused for another kind of
// compression writes corrupt files, and handles are not safe to share between threads.
tjhandle progressiveCompressor()
{
    thread_local TurboJpegHandle handle(tjInitCompress());
    return handle.get();
}

} // namespace

qint64 tiffRepresentationSize(const QImage &image)
{
    if (image.isNull())
        return 0;
    // 8-byte header, one IFD of 11 entries (2 + 11 x 12 + 4 bytes), the four 16-bit
    // BitsPerSample values stored outside the IFD (8 bytes), then the RGBA pixels in one strip.
    constexpr qint64 kOverhead = 8 + (2 + 11 * 12 + 4) + 8;
    return kOverhead + qint64(image.width()) * image.height() * 4;
}

namespace {

// Encodes with a prepared configuration; both WebP flavours go through here.
std::optional<QByteArray> encodeWebP(const QImage &image, const WebPConfig &config)
{
    if (image.width() > WEBP_MAX_DIMENSION || image.height() > WEBP_MAX_DIMENSION) {
        log::failure(QStringLiteral("ERROR ImageOptimizer: %1x%2 exceeds WebP's %3-pixel limit")
                         .arg(image.width())
                         .arg(image.height())
                         .arg(WEBP_MAX_DIMENSION));
        return std::nullopt;
    }

    WebPPictureGuard picture;
    if (!WebPPictureInit(&picture.picture))
        return std::nullopt;
    // Lossless encoding reads ARGB directly; lossy converts to YUV itself either way.
    picture.picture.use_argb = config.lossless;
    picture.picture.width = image.width();
    picture.picture.height = image.height();

    const bool opaque = !image.hasAlphaChannel();
    const QImage pixels = opaque ? pixelbuffer::asArgb32Family(image) : image.convertToFormat(QImage::Format_ARGB32);
    const int imported = opaque
        ? WebPPictureImportBGRX(&picture.picture, pixels.constBits(), static_cast<int>(pixels.bytesPerLine()))
        : WebPPictureImportBGRA(&picture.picture, pixels.constBits(), static_cast<int>(pixels.bytesPerLine()));
    if (!imported) {
        log::failure(QStringLiteral("ERROR ImageOptimizer: WebP could not take the %1x%2 image")
                         .arg(image.width())
                         .arg(image.height()));
        return std::nullopt;
    }

    WebPWriterGuard writer;
    WebPMemoryWriterInit(&writer.writer);
    picture.picture.writer = WebPMemoryWrite;
    picture.picture.custom_ptr = &writer.writer;
    if (!WebPEncode(&config, &picture.picture)) {
        log::failure(QStringLiteral("ERROR ImageOptimizer: WebP encoding failed (error %1)")
                         .arg(static_cast<int>(picture.picture.error_code)));
        return std::nullopt;
    }
    return QByteArray(reinterpret_cast<const char *>(writer.writer.mem), static_cast<qsizetype>(writer.writer.size));
}

} // namespace

std::optional<QByteArray> encodeLossyWebP(const QImage &image, double quality)
{
    if (!checkEncodable(image, quality, "WebP"))
        return std::nullopt;
    WebPConfig config;
    if (!WebPConfigInit(&config))
        return std::nullopt;
    config.quality = static_cast<float>(quality * 100.0);
    config.method = kWebPMethod;
    return encodeWebP(image, config);
}

std::optional<QByteArray> ImageOptimizer::convertToWebP(const QImage &image, double quality) const
{
    return encodeLossyWebP(image, quality);
}

std::optional<QByteArray> ImageOptimizer::convertToLosslessWebP(const QImage &image, int effort) const
{
    if (!checkEncodable(image, 1.0, "lossless WebP"))
        return std::nullopt;
    WebPConfig config;
    if (effort < 0 || effort > 9 || !WebPConfigInit(&config) || !WebPConfigLosslessPreset(&config, effort)) {
        log::failure(QStringLiteral("ERROR ImageOptimizer: lossless WebP effort %1 is outside 0...9").arg(effort));
        return std::nullopt;
    }
    return encodeWebP(image, config);
}

std::optional<QByteArray> ImageOptimizer::compressToJPEG(const QImage &image, double quality) const
{
    if (!checkEncodable(image, quality, "JPEG"))
        return std::nullopt;
    tjhandle handle = progressiveCompressor();
    if (!handle) {
        log::failure(QStringLiteral("ERROR ImageOptimizer: JPEG encoder unavailable: %1")
                         .arg(QString::fromLocal8Bit(tjGetErrorStr2(nullptr))));
        return std::nullopt;
    }
    // Transparent pixels become black, as they would composited onto an opaque page.
    const QImage pixels = image.format() == QImage::Format_ARGB32 ? image.convertToFormat(QImage::Format_RGB32)
                                                                  : pixelbuffer::asArgb32Family(image);
    const int jpegQuality = std::clamp(static_cast<int>(std::lround(quality * 100.0)), 1, 100);

    unsigned char *output = nullptr;
    unsigned long outputSize = 0;
    const int status = tjCompress2(handle, pixels.constBits(), pixels.width(), static_cast<int>(pixels.bytesPerLine()),
        pixels.height(), TJPF_BGRX, &output, &outputSize, TJSAMP_420, jpegQuality, TJFLAG_PROGRESSIVE);
    std::unique_ptr<unsigned char, TurboJpegBufferDeleter> owned(output);
    if (status != 0 || !output || outputSize == 0) {
        log::failure(QStringLiteral("ERROR ImageOptimizer: JPEG encoding of %1x%2 failed: %3")
                         .arg(image.width())
                         .arg(image.height())
                         .arg(QString::fromLocal8Bit(tjGetErrorStr2(handle))));
        return std::nullopt;
    }
    return QByteArray(reinterpret_cast<const char *>(output), static_cast<qsizetype>(outputSize));
}

} // namespace pellux
