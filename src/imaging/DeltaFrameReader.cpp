#include "imaging/DeltaFrameReader.h"

#include "imaging/ImageFileReader.h"
#include "runtime/Log.h"
#include "runtime/PixelBuffer.h"

#include <QtEndian>

#include <cmath>
#include <cstring>

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
    if (!isWebPData(data) && !isJpegData(data)) {
        fail(QStringLiteral("Region data is neither WebP nor JPEG"));
        return std::nullopt;
    }
    const std::optional<QSize> size = encodedImageSize(data);
    if (!size || !fitsLimit(size->width(), size->height(), limit)) {
        fail(QStringLiteral("Region is not a readable image of at most %1x%2 pixels")
                 .arg(limit.width())
                 .arg(limit.height()));
        return std::nullopt;
    }
    QString error;
    QImage image = decodeImage(data, &error);
    if (image.isNull() || image.size() != *size) {
        fail(QStringLiteral("Region is not a readable image: %1").arg(error));
        return std::nullopt;
    }
    image = image.convertToFormat(QImage::Format_RGB32);
    makeOpaque(image);
    return image;
}

bool DeltaFrameReader::applyInPlace(QImage &frame, const DeltaContainer &container)
{
    for (qsizetype i = 0; i < container.entries.size(); ++i) {
        const DeltaContainer::Entry &entry = container.entries[i];
        if (!frame.rect().contains(entry.rect)) {
            fail(
                QStringLiteral("Region %1 lies outside the %2x%3 frame").arg(i).arg(frame.width()).arg(frame.height()));
            return false;
        }
        // Regions are stored at their own size or scaled down, never up.
        std::optional<QImage> region = decodeRegion(entry.data, entry.rect.size());
        if (!region)
            return false;
        if (region->size() != entry.rect.size())
            *region = region->scaled(entry.rect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                          .convertToFormat(QImage::Format_RGB32);
        const size_t rowBytes = size_t(entry.rect.width()) * 4;
        for (int y = 0; y < entry.rect.height(); ++y)
            std::memcpy(
                frame.scanLine(entry.rect.y() + y) + size_t(entry.rect.x()) * 4, region->constScanLine(y), rowBytes);
    }
    return true;
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
    if (!applyInPlace(frame, container))
        return std::nullopt;
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
