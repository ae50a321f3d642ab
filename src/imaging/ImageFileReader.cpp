#include "imaging/ImageFileReader.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <turbojpeg.h>
#include <webp/decode.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace pellux {

namespace {

void setError(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
}

QString errnoReason(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

QString megabytes(qint64 bytes) { return QString::number(bytes / (1024 * 1024)); }

} // namespace

std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes, QString *error, Symlinks symlinks)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int noFollow = symlinks == Symlinks::refuse ? O_NOFOLLOW : 0;
    const Descriptor fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | noFollow));
    if (fd.get() < 0) {
        const int code = errno;
        setError(error,
            code == ENOENT ? QStringLiteral("no such file")
                : code == ELOOP && noFollow
                ? QStringLiteral("a symbolic link, which is never followed out of the store")
                : errnoReason(code));
        return std::nullopt;
    }
    struct stat st { };
    if (::fstat(fd.get(), &st) != 0) {
        setError(error, errnoReason(errno));
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        setError(error, QStringLiteral("it is a folder, not an image file"));
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, QStringLiteral("not a regular file (a pipe, socket or device is never read)"));
        return std::nullopt;
    }
    if (st.st_size > maxBytes) {
        setError(error,
            QStringLiteral("the file is too large (%1 bytes; at most %2 MB are read)")
                .arg(qint64(st.st_size))
                .arg(megabytes(maxBytes)));
        return std::nullopt;
    }
    // Regular files do not block; the flag only mattered for the open.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        setError(error, errnoReason(errno));
        return std::nullopt;
    }

    // One byte more than allowed tells a file that grew since fstat from one that fits.
    QByteArray bytes;
    bytes.resize(qsizetype(st.st_size) + 1);
    qsizetype filled = 0;
    while (true) {
        if (filled == bytes.size()) {
            if (filled > maxBytes)
                break;
            bytes.resize(qsizetype(std::min<qint64>(maxBytes + 1, qint64(filled) * 2 + 4096)));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, size_t(bytes.size() - filled));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            setError(error, errnoReason(errno));
            return std::nullopt;
        }
        if (n == 0)
            break;
        filled += n;
    }
    if (filled > maxBytes) {
        setError(error, QStringLiteral("the file is too large (at most %1 MB are read)").arg(megabytes(maxBytes)));
        return std::nullopt;
    }
    bytes.truncate(filled);
    return bytes;
}

std::optional<QByteArray> readStoredFile(const QString &path, QString *error)
{
    std::optional<QByteArray> bytes = readRegularFile(path, kMaxImageFileBytes, error, Symlinks::refuse);
    if (bytes && bytes->isEmpty()) {
        setError(error, QStringLiteral("the file is empty"));
        return std::nullopt;
    }
    return bytes;
}

bool isWebPData(const QByteArray &bytes)
{
    return bytes.size() >= 12 && bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP";
}

bool isJpegData(const QByteArray &bytes)
{
    return bytes.size() >= 3 && uchar(bytes[0]) == 0xff && uchar(bytes[1]) == 0xd8;
}

QSize fittedSize(QSize source, QSize requested)
{
    if (source.isEmpty())
        return source;
    const int width = std::max(requested.width(), 0);
    const int height = std::max(requested.height(), 0);
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

namespace {

// Qt's ceiling for the images its plugins decode, applied to ours before any pixels are allocated.
bool withinAllocationLimit(QSize size)
{
    const qint64 limitBytes = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    return limitBytes <= 0 || qint64(size.width()) * size.height() * 4 <= limitBytes;
}

QImage decodeWebP(const QByteArray &bytes, QSize requested, QString *error)
{
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.constData());
    const auto size = size_t(bytes.size());
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) || WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK
        || config.input.width <= 0 || config.input.height <= 0) {
        setError(error, QStringLiteral("not a valid WebP image"));
        return {};
    }
    const QSize source(config.input.width, config.input.height);
    const QSize target = fittedSize(source, requested);
    if (!withinAllocationLimit(target)) {
        setError(error, QStringLiteral("a %1x%2 WebP image is too large").arg(target.width()).arg(target.height()));
        return {};
    }
    QImage image(target, QImage::Format_ARGB32);
    if (image.isNull()) {
        setError(error, QStringLiteral("no memory for the image"));
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
        setError(error, QStringLiteral("not a valid WebP image (status %1)").arg(int(status)));
        return {};
    }
    if (!config.input.has_alpha)
        image.reinterpretAsFormat(QImage::Format_RGB32);
    return image;
}

struct TurboJpegDeleter {
    void operator()(void *handle) const { tjDestroy(handle); }
};
using TurboJpeg = std::unique_ptr<void, TurboJpegDeleter>;

std::optional<QSize> jpegSize(void *handle, const QByteArray &bytes)
{
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle, reinterpret_cast<const unsigned char *>(bytes.constData()),
            static_cast<unsigned long>(bytes.size()), &width, &height, &subsampling, &colorspace)
            != 0
        || width <= 0 || height <= 0)
        return std::nullopt;
    return QSize(width, height);
}

QImage decodeJpeg(const QByteArray &bytes, QSize requested, QString *error)
{
    const TurboJpeg handle(tjInitDecompress());
    if (!handle) {
        setError(error, QStringLiteral("no JPEG decoder"));
        return {};
    }
    const std::optional<QSize> source = jpegSize(handle.get(), bytes);
    if (!source) {
        setError(error, QStringLiteral("not a valid JPEG image"));
        return {};
    }
    const QSize target = fittedSize(*source, requested);
    // The smallest DCT scaling that still gives at least the target size; the rest is a smooth
    // reduction, so the result looks like a full decode scaled down.
    QSize decodeSize = *source;
    int factorCount = 0;
    if (const tjscalingfactor *factors = tjGetScalingFactors(&factorCount)) {
        for (int i = 0; i < factorCount; ++i) {
            const tjscalingfactor f = factors[i];
            const QSize scaled(TJSCALED(source->width(), f), TJSCALED(source->height(), f));
            if (f.num <= f.denom && scaled.width() >= target.width() && scaled.height() >= target.height()
                && qint64(scaled.width()) * scaled.height() < qint64(decodeSize.width()) * decodeSize.height())
                decodeSize = scaled;
        }
    }
    if (!withinAllocationLimit(decodeSize)) {
        setError(error, QStringLiteral("a %1x%2 JPEG image is too large").arg(source->width()).arg(source->height()));
        return {};
    }
    QImage image(decodeSize, QImage::Format_RGB32);
    if (image.isNull()) {
        setError(error, QStringLiteral("no memory for the image"));
        return {};
    }
    // Stop at the first warning (a truncated or damaged file) and refuse absurd scan counts.
    if (tjDecompress2(handle.get(), reinterpret_cast<const unsigned char *>(bytes.constData()),
            static_cast<unsigned long>(bytes.size()), image.bits(), decodeSize.width(), int(image.bytesPerLine()),
            decodeSize.height(), TJPF_BGRX, TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS)
        != 0) {
        setError(
            error, QStringLiteral("JPEG data is corrupt: %1").arg(QString::fromUtf8(tjGetErrorStr2(handle.get()))));
        return {};
    }
    if (image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage decodeWithQt(const QByteArray &bytes, QSize requested, QString *error)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize source = reader.size();
    if (source.isValid() && !requested.isEmpty())
        reader.setScaledSize(fittedSize(source, requested));
    QImage image = reader.read();
    if (image.isNull()) {
        setError(error, QStringLiteral("not an image in a known format (%1)").arg(reader.errorString()));
        return {};
    }
    // Readers that cannot scale while decoding ignore the request.
    const QSize target = fittedSize(image.size(), requested);
    if (image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace

QImage decodeImage(const QByteArray &bytes, QSize requested, QString *error)
{
    if (bytes.isEmpty()) {
        setError(error, QStringLiteral("the file is empty"));
        return {};
    }
    if (isWebPData(bytes))
        return decodeWebP(bytes, requested, error);
    if (isJpegData(bytes))
        return decodeJpeg(bytes, requested, error);
    return decodeWithQt(bytes, requested, error);
}

QImage decodeImage(const QByteArray &bytes, QString *error) { return decodeImage(bytes, QSize(), error); }

std::optional<QSize> encodedImageSize(const QByteArray &bytes)
{
    if (isWebPData(bytes)) {
        int width = 0;
        int height = 0;
        if (!WebPGetInfo(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), &width, &height)
            || width <= 0 || height <= 0)
            return std::nullopt;
        return QSize(width, height);
    }
    if (isJpegData(bytes)) {
        const TurboJpeg handle(tjInitDecompress());
        return handle ? jpegSize(handle.get(), bytes) : std::nullopt;
    }
    QBuffer buffer;
    buffer.setData(bytes);
    const QSize size = QImageReader(&buffer).size();
    return size.isEmpty() ? std::nullopt : std::optional<QSize>(size);
}

QImage readImageFile(const QString &path, QString *error)
{
    const std::optional<QByteArray> bytes = readRegularFile(path, kMaxImageFileBytes, error);
    if (!bytes)
        return {};
    return decodeImage(*bytes, error);
}

} // namespace pellux
