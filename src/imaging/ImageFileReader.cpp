#include "imaging/ImageFileReader.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <webp/decode.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes, QString *error)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const Descriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        const int code = errno;
        setError(error, code == ENOENT ? QStringLiteral("no such file") : errnoReason(code));
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
    const std::optional<QByteArray> bytes = readRegularFile(path, kMaxImageFileBytes, error);
    if (!bytes)
        return {};
    return decodeImage(*bytes, error);
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
