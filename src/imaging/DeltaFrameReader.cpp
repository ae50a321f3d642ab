#include "imaging/DeltaFrameReader.h"

#include "imaging/ImageFileReader.h"
#include "imaging/PixelBuffer.h"
#include "runtime/Log.h"

#include <QtEndian>

#include <turbojpeg.h>
#include <webp/decode.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace pellux {

namespace {

void fail(const QString &why) { log::failure(QStringLiteral("ERROR DeltaFrameReader: ") + why); }

std::uint32_t readUInt32(const char *at) { return qFromLittleEndian<std::uint32_t>(at); }

float readFloat(const char *at)
{
    const std::uint32_t bits = readUInt32(at);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A rectangle coordinate as the writer produces it: a whole number of pixels within range.
std::optional<int> pixelValue(float value, int minimum)
{
    // The writer never produces negative zero; refusing it keeps parse and serialise exact inverses.
    if (!std::isfinite(value) || std::signbit(value) || value != std::floor(value) || value < float(minimum)
        || value > float(DeltaFrameReader::kMaxDimension))
        return std::nullopt;
    return static_cast<int>(value);
}

// The header's size must fit the region: checked before the pixels are allocated, so that a few
// corrupt bytes cannot ask for gigabytes.
bool fitsLimit(int width, int height, QSize limit)
{
    return width > 0 && height > 0 && width <= limit.width() && height <= limit.height();
}

void makeOpaque(QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<std::uint32_t *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] |= 0xff000000u;
    }
}

std::optional<QImage> decodeWebPRegion(const QByteArray &data, QSize limit)
{
    int width = 0;
    int height = 0;
    if (!WebPGetInfo(reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()), &width, &height)
        || !fitsLimit(width, height, limit)) {
        fail(QStringLiteral("Region is not a readable WebP image of at most %1x%2 pixels")
                 .arg(limit.width())
                 .arg(limit.height()));
        return std::nullopt;
    }
    QImage image = decodeWebP(data);
    if (image.isNull() || image.width() != width || image.height() != height) {
        fail(QStringLiteral("Region is not a readable WebP image"));
        return std::nullopt;
    }
    image = image.convertToFormat(QImage::Format_RGB32);
    makeOpaque(image);
    return image;
}

struct TurboJpegDeleter {
    void operator()(void *handle) const { tjDestroy(handle); }
};

std::optional<QImage> decodeJpeg(const QByteArray &data, QSize limit)
{
    std::unique_ptr<void, TurboJpegDeleter> handle(tjInitDecompress());
    if (!handle) {
        fail(QStringLiteral("No JPEG decoder"));
        return std::nullopt;
    }
    auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(
            handle.get(), bytes, static_cast<unsigned long>(data.size()), &width, &height, &subsampling, &colorspace)
            != 0
        || !fitsLimit(width, height, limit)) {
        fail(QStringLiteral("Region is not a readable JPEG image of at most %1x%2 pixels")
                 .arg(limit.width())
                 .arg(limit.height()));
        return std::nullopt;
    }
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        fail(QStringLiteral("No memory for a %1x%2 region").arg(width).arg(height));
        return std::nullopt;
    }
    // Stop at the first warning and refuse progressive streams with absurd scan counts.
    if (tjDecompress2(handle.get(), bytes, static_cast<unsigned long>(data.size()), image.bits(), width,
            int(image.bytesPerLine()), height, TJPF_BGRX, TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS)
        != 0) {
        fail(QStringLiteral("Region JPEG data is corrupt: %1").arg(QString::fromUtf8(tjGetErrorStr2(handle.get()))));
        return std::nullopt;
    }
    makeOpaque(image);
    return image;
}

} // namespace

bool DeltaFrameReader::isDeltaContainer(const QByteArray &bytes)
{
    return bytes.size() >= qsizetype(sizeof DeltaContainer::kMagic)
        && std::memcmp(bytes.constData(), DeltaContainer::kMagic, sizeof DeltaContainer::kMagic) == 0;
}

std::optional<DeltaContainer> DeltaFrameReader::parse(const QByteArray &bytes)
{
    if (bytes.size() < DeltaContainer::kHeaderSize) {
        fail(QStringLiteral("Container of %1 bytes is shorter than its header").arg(bytes.size()));
        return std::nullopt;
    }
    if (!isDeltaContainer(bytes)) {
        fail(QStringLiteral("Container does not start with DLTA"));
        return std::nullopt;
    }
    const char *data = bytes.constData();
    const qsizetype size = bytes.size();
    const std::uint32_t count = readUInt32(data + 4);
    // Each entry takes at least its 20-byte header, so the count is bounded by the data present.
    if (count > std::uint64_t(size - DeltaContainer::kHeaderSize) / DeltaContainer::kEntryHeaderSize) {
        fail(QStringLiteral("Container claims %1 entries, more than its %2 bytes can hold").arg(count).arg(size));
        return std::nullopt;
    }

    DeltaContainer container;
    container.entries.reserve(count);
    qsizetype offset = DeltaContainer::kHeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (size - offset < DeltaContainer::kEntryHeaderSize) {
            fail(QStringLiteral("Entry %1 is truncated").arg(i));
            return std::nullopt;
        }
        const char *entry = data + offset;
        const std::optional<int> x = pixelValue(readFloat(entry), 0);
        const std::optional<int> y = pixelValue(readFloat(entry + 4), 0);
        const std::optional<int> width = pixelValue(readFloat(entry + 8), 1);
        const std::optional<int> height = pixelValue(readFloat(entry + 12), 1);
        if (!x || !y || !width || !height || *x + *width > kMaxDimension || *y + *height > kMaxDimension) {
            fail(QStringLiteral("Entry %1 has an invalid rectangle").arg(i));
            return std::nullopt;
        }
        const std::uint32_t length = readUInt32(entry + 16);
        offset += DeltaContainer::kEntryHeaderSize;
        if (length == 0 || length > std::uint64_t(size - offset)) {
            fail(QStringLiteral("Entry %1 claims %2 bytes of image data, %3 are left")
                     .arg(i)
                     .arg(length)
                     .arg(size - offset));
            return std::nullopt;
        }
        container.entries.append({ QRect(*x, *y, *width, *height), bytes.mid(offset, qsizetype(length)) });
        offset += qsizetype(length);
    }
    if (offset != size) {
        fail(QStringLiteral("Container has %1 unexpected bytes after its last entry").arg(size - offset));
        return std::nullopt;
    }
    return container;
}

std::optional<QImage> DeltaFrameReader::decodeRegion(const QByteArray &data, QSize limit)
{
    limit = limit.boundedTo(QSize(kMaxDimension, kMaxDimension));
    if (isWebPData(data))
        return decodeWebPRegion(data, limit);
    if (isJpegData(data))
        return decodeJpeg(data, limit);
    fail(QStringLiteral("Region data is neither WebP nor JPEG"));
    return std::nullopt;
}

std::optional<QImage> DeltaFrameReader::applyDelta(const QImage &base, const DeltaContainer &container)
{
    if (base.isNull()) {
        fail(QStringLiteral("No base frame to apply the delta to"));
        return std::nullopt;
    }
    // The fourth byte of a frame is padding, as when the delta was made: keep the colours as they are.
    QImage frame = pixelbuffer::asArgb32Family(base).copy();
    frame.reinterpretAsFormat(QImage::Format_RGB32);
    makeOpaque(frame);
    for (qsizetype i = 0; i < container.entries.size(); ++i) {
        const DeltaContainer::Entry &entry = container.entries[i];
        if (!frame.rect().contains(entry.rect)) {
            fail(
                QStringLiteral("Region %1 lies outside the %2x%3 frame").arg(i).arg(frame.width()).arg(frame.height()));
            return std::nullopt;
        }
        // Regions are stored at their own size or scaled down, never up.
        std::optional<QImage> region = decodeRegion(entry.data, entry.rect.size());
        if (!region)
            return std::nullopt;
        if (region->size() != entry.rect.size())
            *region = region->scaled(entry.rect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                          .convertToFormat(QImage::Format_RGB32);
        const size_t rowBytes = size_t(entry.rect.width()) * 4;
        for (int y = 0; y < entry.rect.height(); ++y)
            std::memcpy(
                frame.scanLine(entry.rect.y() + y) + size_t(entry.rect.x()) * 4, region->constScanLine(y), rowBytes);
    }
    return frame;
}

std::optional<QImage> DeltaFrameReader::applyDelta(const QImage &base, const QByteArray &bytes)
{
    std::optional<DeltaContainer> container = parse(bytes);
    if (!container)
        return std::nullopt;
    return applyDelta(base, *container);
}

} // namespace pellux
