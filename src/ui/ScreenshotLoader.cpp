#include "ui/ScreenshotLoader.h"

#include "imaging/DeltaFrameReader.h"
#include "imaging/ImageFileReader.h"
#include "imaging/ImageOptimizer.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <turbojpeg.h>
#include <webp/decode.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace pellux {

namespace {

void setReason(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
}

// Qt's ceiling for the images its plugins decode, applied to ours before any pixels are allocated.
bool withinAllocationLimit(QSize size)
{
    const qint64 limitBytes = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    return limitBytes <= 0 || qint64(size.width()) * size.height() * 4 <= limitBytes;
}

QImage decodeWebPScaled(const QByteArray &bytes, QSize requested, QString *reason)
{
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.constData());
    const auto size = size_t(bytes.size());
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) || WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK
        || config.input.width <= 0 || config.input.height <= 0) {
        setReason(reason, QStringLiteral("not a valid WebP image"));
        return {};
    }
    const QSize source(config.input.width, config.input.height);
    const QSize target = ScreenshotLoader::fittedSize(source, requested);
    if (!withinAllocationLimit(target)) {
        setReason(reason, QStringLiteral("a %1x%2 WebP image is too large").arg(target.width()).arg(target.height()));
        return {};
    }
    QImage image(target, QImage::Format_ARGB32);
    if (image.isNull()) {
        setReason(reason, QStringLiteral("no memory for the image"));
        return {};
    }
    if (target != source) {
        config.options.use_scaling = 1;
        config.options.scaled_width = target.width();
        config.options.scaled_height = target.height();
    }
    // BGRA bytes are ARGB32 on little-endian machines.
    config.output.colorspace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = size_t(image.sizeInBytes());
    const VP8StatusCode status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
        setReason(reason, QStringLiteral("WebP data is corrupt (status %1)").arg(int(status)));
        return {};
    }
    if (!config.input.has_alpha)
        image.reinterpretAsFormat(QImage::Format_RGB32);
    return image;
}

struct TurboJpegDeleter {
    void operator()(void *handle) const { tjDestroy(handle); }
};

QImage decodeJpegScaled(const QByteArray &bytes, QSize requested, QString *reason)
{
    std::unique_ptr<void, TurboJpegDeleter> handle(tjInitDecompress());
    if (!handle) {
        setReason(reason, QStringLiteral("no JPEG decoder"));
        return {};
    }
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const auto size = static_cast<unsigned long>(bytes.size());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), data, size, &width, &height, &subsampling, &colorspace) != 0 || width <= 0
        || height <= 0) {
        setReason(reason, QStringLiteral("not a valid JPEG image"));
        return {};
    }
    const QSize target = ScreenshotLoader::fittedSize(QSize(width, height), requested);
    // The smallest DCT scaling that still gives at least the target size; the rest is a smooth
    // reduction, so the result looks like a full decode scaled down.
    QSize decodeSize(width, height);
    int factorCount = 0;
    if (const tjscalingfactor *factors = tjGetScalingFactors(&factorCount)) {
        for (int i = 0; i < factorCount; ++i) {
            const tjscalingfactor f = factors[i];
            if (f.num > f.denom)
                continue;
            const QSize scaled(TJSCALED(width, f), TJSCALED(height, f));
            if (scaled.width() >= target.width() && scaled.height() >= target.height()
                && qint64(scaled.width()) * scaled.height() < qint64(decodeSize.width()) * decodeSize.height())
                decodeSize = scaled;
        }
    }
    if (!withinAllocationLimit(decodeSize)) {
        setReason(reason, QStringLiteral("a %1x%2 JPEG image is too large").arg(width).arg(height));
        return {};
    }
    QImage image(decodeSize, QImage::Format_RGB32);
    if (image.isNull()) {
        setReason(reason, QStringLiteral("no memory for the image"));
        return {};
    }
    // A truncated or damaged file is refused rather than shown half grey.
    if (tjDecompress2(handle.get(), data, size, image.bits(), decodeSize.width(), int(image.bytesPerLine()),
            decodeSize.height(), TJPF_BGRX, TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS)
        != 0) {
        setReason(
            reason, QStringLiteral("JPEG data is corrupt: %1").arg(QString::fromUtf8(tjGetErrorStr2(handle.get()))));
        return {};
    }
    if (image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage decodeWithQt(const QByteArray &bytes, QSize requested, QString *reason)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize source = reader.size();
    if (source.isValid() && !requested.isEmpty())
        reader.setScaledSize(ScreenshotLoader::fittedSize(source, requested));
    QImage image = reader.read();
    if (image.isNull()) {
        setReason(reason, QStringLiteral("not an image in a known format (%1)").arg(reader.errorString()));
        return {};
    }
    // Readers that cannot scale while decoding ignore the request.
    const QSize target = ScreenshotLoader::fittedSize(image.size(), requested);
    if (image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

// DeltaFrameReader::applyDelta on a frame that is changed in place: a chain of deltas copies the
// frame once (and after each frame it keeps), not once per delta. `frame` is RGB32 and opaque, as
// every frame of a chain is.
bool applyInPlace(QImage &frame, const DeltaContainer &container)
{
    for (qsizetype i = 0; i < container.entries.size(); ++i) {
        const DeltaContainer::Entry &entry = container.entries[i];
        if (!frame.rect().contains(entry.rect)) {
            log::failure(QStringLiteral("ERROR ScreenshotLoader: Region %1 lies outside the %2x%3 frame")
                             .arg(i)
                             .arg(frame.width())
                             .arg(frame.height()));
            return false;
        }
        // Regions are stored at their own size or scaled down, never up.
        std::optional<QImage> region = DeltaFrameReader::decodeRegion(entry.data, entry.rect.size());
        if (!region)
            return false;
        if (region->size() != entry.rect.size())
            *region = region->scaled(entry.rect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (region->format() != QImage::Format_RGB32)
            *region = region->convertToFormat(QImage::Format_RGB32);
        const size_t rowBytes = size_t(entry.rect.width()) * 4;
        for (int y = 0; y < entry.rect.height(); ++y)
            std::memcpy(
                frame.scanLine(entry.rect.y() + y) + size_t(entry.rect.x()) * 4, region->constScanLine(y), rowBytes);
    }
    return true;
}

bool readFile(const QString &path, QByteArray *bytes, QString *reason)
{
    if (!QFileInfo::exists(path)) {
        setReason(reason, QStringLiteral("no such file"));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setReason(reason, file.errorString());
        return false;
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        setReason(reason, file.errorString());
        return false;
    }
    if (bytes->isEmpty()) {
        setReason(reason, QStringLiteral("the file is empty"));
        return false;
    }
    return true;
}

// The uncompressed TIFF size the capture pipeline divides by the stored size: pixels x 4 plus a
// fixed header, measured here from the same function.
qint64 tiffOverhead()
{
    static const qint64 overhead = tiffRepresentationSize(QImage(1, 1, QImage::Format_RGB32)) - 4;
    return overhead;
}

} // namespace

ScreenshotLoader::ScreenshotLoader(DeltaChainLookup lookup, qint64 cacheBytes)
    : m_lookup(std::move(lookup))
    , m_cacheLimitBytes(cacheBytes)
{
}

ScreenshotLoader::DeltaChainLookup ScreenshotLoader::databaseLookup(SimpleDatabaseManager &database)
{
    return [&database](const QString &filePath) {
        auto [answer, completion] = completionFuture(std::optional<std::vector<DeltaChainLink>>());
        database.getDeltaChain(filePath, std::move(completion));
        return answer.result();
    };
}

QSize ScreenshotLoader::fittedSize(QSize source, QSize requested)
{
    if (source.isEmpty())
        return source;
    const int width = requested.width() > 0 ? requested.width() : 0;
    const int height = requested.height() > 0 ? requested.height() : 0;
    if (width == 0 && height == 0)
        return source;
    double scale = 1.0;
    if (width > 0)
        scale = std::min(scale, double(width) / source.width());
    if (height > 0)
        scale = std::min(scale, double(height) / source.height());
    if (scale >= 1.0)
        return source;
    return QSize(
        std::max(1, int(std::lround(source.width() * scale))), std::max(1, int(std::lround(source.height() * scale))));
}

QImage ScreenshotLoader::decodeImage(const QByteArray &bytes, QSize requested, QString *reason)
{
    if (isWebPData(bytes))
        return decodeWebPScaled(bytes, requested, reason);
    if (isJpegData(bytes))
        return decodeJpegScaled(bytes, requested, reason);
    return decodeWithQt(bytes, requested, reason);
}

std::optional<qint64> ScreenshotLoader::sourcePixelCount(std::optional<double> compressionRatio, qint64 storedBytes)
{
    if (!compressionRatio || !std::isfinite(*compressionRatio) || *compressionRatio <= 0 || storedBytes <= 0)
        return std::nullopt;
    const double pixels = (*compressionRatio * double(std::max<qint64>(1, storedBytes)) - double(tiffOverhead())) / 4.0;
    const double whole = std::round(pixels);
    // The ratio was computed from exactly these numbers; anything else (a file rewritten since,
    // a row from another version) is not trusted.
    if (whole < 1 || whole > double(DeltaFrameReader::kMaxDimension) * DeltaFrameReader::kMaxDimension
        || std::abs(pixels - whole) > 0.01)
        return std::nullopt;
    return qint64(whole);
}

QSize ScreenshotLoader::inferSourceSize(QSize storedBase, std::optional<qint64> sourcePixels, QSize regionExtent)
{
    if (storedBase.isEmpty())
        return storedBase;
    const auto holdsRegions
        = [&](QSize size) { return size.width() >= regionExtent.width() && size.height() >= regionExtent.height(); };
    const qint64 storedPixels = qint64(storedBase.width()) * storedBase.height();
    if (sourcePixels && *sourcePixels == storedPixels && holdsRegions(storedBase))
        return storedBase;
    if (sourcePixels && *sourcePixels > storedPixels) {
        // Scaling rounds each side on its own: look for the size near the exact factor whose
        // pixels match, closest in aspect to the base.
        const double scale = std::sqrt(double(*sourcePixels) / double(storedPixels));
        const int width0 = int(std::lround(storedBase.width() * scale));
        const int height0 = int(std::lround(storedBase.height() * scale));
        const double aspect = double(storedBase.width()) / storedBase.height();
        std::optional<QSize> best;
        double bestError = 0;
        const int reach = std::max(2, int(std::ceil(scale)) + 1);
        for (int w = std::max(1, width0 - reach); w <= width0 + reach; ++w) {
            if (*sourcePixels % w != 0)
                continue;
            const QSize candidate(w, int(*sourcePixels / w));
            if (!holdsRegions(candidate))
                continue;
            const double error = std::abs(double(candidate.width()) / candidate.height() - aspect);
            if (!best || error < bestError) {
                best = candidate;
                bestError = error;
            }
        }
        if (best && std::abs(best->height() - height0) <= reach)
            return *best;
    }
    if (holdsRegions(storedBase))
        return storedBase;
    const double scale = std::max(
        double(regionExtent.width()) / storedBase.width(), double(regionExtent.height()) / storedBase.height());
    return QSize(std::max(regionExtent.width(), int(std::ceil(storedBase.width() * scale))),
        std::max(regionExtent.height(), int(std::ceil(storedBase.height() * scale))));
}

QImage ScreenshotLoader::load(const QString &path, QSize requested, QString *error)
{
    QString reason;
    QImage image;
    QByteArray bytes;
    if (readFile(path, &bytes, &reason)) {
        if (DeltaFrameReader::isDeltaContainer(bytes)) {
            image = rebuildDelta(path, bytes, &reason);
            const QSize target = fittedSize(image.size(), requested);
            if (!image.isNull() && image.size() != target)
                image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        } else {
            image = decodeImage(bytes, requested, &reason);
        }
    }
    if (image.isNull()) {
        log::failure(QStringLiteral("ERROR ScreenshotLoader: Cannot show %1: %2").arg(path, reason));
        if (error)
            *error = unavailableText();
    }
    return image;
}

QImage ScreenshotLoader::rebuildDelta(const QString &path, const QByteArray &bytes, QString *reason)
{
    if (!m_lookup) {
        setReason(reason, QStringLiteral("a delta frame, and no database to find its reference in"));
        return {};
    }
    const std::optional<std::vector<DeltaChainLink>> chain = m_lookup(path);
    if (!chain || chain->empty()) {
        setReason(reason, QStringLiteral("the chain of frames this delta builds on is broken"));
        return {};
    }
    if (chain->size() < 2 || chain->back().filePath != path) {
        setReason(reason, QStringLiteral("a delta frame whose recording names no reference frame"));
        return {};
    }
    const auto last = qsizetype(chain->size()) - 1;

    // Start from the latest frame of the chain already rebuilt, else from its full frame.
    qsizetype start = 0;
    QImage frame;
    for (qsizetype i = last; i >= 0; --i) {
        if (std::optional<QImage> cached = cachedFrame((*chain)[size_t(i)].filePath)) {
            start = i;
            frame = *cached;
            break;
        }
    }
    if (start == last && !frame.isNull())
        return frame;

    // The deltas still to apply, read and checked before any pixels are touched.
    std::vector<DeltaContainer> deltas;
    QSize extent;
    std::optional<qint64> sourcePixels;
    for (qsizetype i = start + 1; i <= last; ++i) {
        const DeltaChainLink &link = (*chain)[size_t(i)];
        QByteArray deltaBytes;
        if (i == last)
            deltaBytes = bytes;
        else if (!readFile(link.filePath, &deltaBytes, reason)) {
            setReason(
                reason, QStringLiteral("delta %1 of its chain: %2").arg(link.filePath, reason ? *reason : QString()));
            return {};
        }
        std::optional<DeltaContainer> container = DeltaFrameReader::parse(deltaBytes);
        if (!container) {
            setReason(reason, QStringLiteral("delta %1 of its chain is not a valid container").arg(link.filePath));
            return {};
        }
        for (const DeltaContainer::Entry &entry : container->entries)
            extent = extent.expandedTo(QSize(entry.rect.right() + 1, entry.rect.bottom() + 1));
        if (!sourcePixels)
            sourcePixels = sourcePixelCount(link.compressionRatio, deltaBytes.size());
        deltas.push_back(std::move(*container));
    }

    if (frame.isNull()) {
        const DeltaChainLink &base = chain->front();
        QByteArray baseBytes;
        if (!readFile(base.filePath, &baseBytes, reason)) {
            setReason(
                reason, QStringLiteral("its reference frame %1: %2").arg(base.filePath, reason ? *reason : QString()));
            return {};
        }
        if (DeltaFrameReader::isDeltaContainer(baseBytes)) {
            setReason(reason, QStringLiteral("its reference frame %1 is not a full frame").arg(base.filePath));
            return {};
        }
        QString baseReason;
        frame = decodeImage(baseBytes, QSize(), &baseReason);
        if (frame.isNull()) {
            setReason(reason, QStringLiteral("its reference frame %1: %2").arg(base.filePath, baseReason));
            return {};
        }
        // A full frame may have been stored scaled down; the rectangles are in captured pixels.
        const QSize sourceSize = inferSourceSize(frame.size(), sourcePixels, extent);
        if (sourceSize != frame.size())
            frame = frame.scaled(sourceSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        frame = frame.convertToFormat(QImage::Format_RGB32);
        cacheFrame(base.filePath, frame);
    }

    for (size_t k = 0; k < deltas.size(); ++k) {
        const qsizetype position = start + 1 + qsizetype(k);
        const QString &deltaPath = (*chain)[size_t(position)].filePath;
        if (!applyInPlace(frame, deltas[k])) {
            setReason(
                reason, QStringLiteral("delta %1 of its chain does not apply to the frame before it").arg(deltaPath));
            return {};
        }
        if (position == last || position % kCheckpointInterval == 0)
            cacheFrame(deltaPath, frame);
    }
    return frame;
}

std::optional<QImage> ScreenshotLoader::cachedFrame(const QString &path)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_framesByPath.constFind(path);
    if (found == m_framesByPath.cend())
        return std::nullopt;
    m_frames.splice(m_frames.end(), m_frames, *found);
    return (*found)->second;
}

void ScreenshotLoader::cacheFrame(const QString &path, const QImage &frame)
{
    const qint64 size = frame.sizeInBytes();
    if (size > m_cacheLimitBytes)
        return;
    std::lock_guard lock(m_mutex);
    if (const auto found = m_framesByPath.constFind(path); found != m_framesByPath.cend()) {
        m_cachedBytes -= (*found)->second.sizeInBytes();
        m_frames.erase(*found);
        m_framesByPath.erase(found);
    }
    while (!m_frames.empty() && m_cachedBytes + size > m_cacheLimitBytes) {
        m_cachedBytes -= m_frames.front().second.sizeInBytes();
        m_framesByPath.remove(m_frames.front().first);
        m_frames.pop_front();
    }
    m_frames.emplace_back(path, frame);
    m_framesByPath.insert(path, std::prev(m_frames.end()));
    m_cachedBytes += size;
}

qsizetype ScreenshotLoader::cachedFrameCount() const
{
    std::lock_guard lock(m_mutex);
    return qsizetype(m_frames.size());
}

qint64 ScreenshotLoader::cachedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_cachedBytes;
}

} // namespace pellux
