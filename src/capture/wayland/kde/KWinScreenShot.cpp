#include "capture/wayland/kde/KWinScreenShot.h"

#include <QImage>

namespace pellux::kwin {

namespace {

// Far beyond any monitor, small enough that stride × height stays well inside qsizetype.
constexpr quint32 maximumSide_px = 1 << 15;

struct Layout {
    int width = 0;
    int height = 0;
    qsizetype stride = 0;
    QImage::Format format = QImage::Format_Invalid;
};

CaptureError invalid(const QString &why)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain),
        QStringLiteral("KWin's screenshot could not be read: %1").arg(why) };
}

std::optional<quint32> unsignedField(const QVariantMap &reply, const char *name)
{
    const QVariant value = reply.value(QLatin1String(name));
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!value.isValid() || !ok || number < 0 || number > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return static_cast<quint32>(number);
}

int bitsPerPixel(QImage::Format format)
{
    switch (format) {
    // Indexed and monochrome images need a colour table the reply does not carry.
    case QImage::Format_Invalid:
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
    case QImage::NImageFormats:
        return 0;
    default:
        return QImage(1, 1, format).depth();
    }
}

CaptureResult<Layout> layoutOf(const QVariantMap &reply)
{
    if (const QVariant type = reply.value(QStringLiteral("type"));
        type.isValid() && type.toString() != QLatin1String("raw"))
        return invalid(QStringLiteral("unknown image type \"%1\"").arg(type.toString()));
    const std::optional<quint32> width = unsignedField(reply, "width");
    const std::optional<quint32> height = unsignedField(reply, "height");
    const std::optional<quint32> stride = unsignedField(reply, "stride");
    const std::optional<quint32> format = unsignedField(reply, "format");
    if (!width || !height || !stride || !format)
        return invalid(QStringLiteral("the reply lacks its width, height, stride or format"));
    if (*width == 0 || *height == 0 || *width > maximumSide_px || *height > maximumSide_px)
        return invalid(QStringLiteral("impossible size %1×%2").arg(*width).arg(*height));
    if (*format >= QImage::NImageFormats)
        return invalid(QStringLiteral("unknown image format %1").arg(*format));
    Layout layout { int(*width), int(*height), qsizetype(*stride), QImage::Format(*format) };
    const int bits = bitsPerPixel(layout.format);
    if (bits == 0)
        return invalid(QStringLiteral("unsupported image format %1").arg(*format));
    const qsizetype rowBytes = (qsizetype(layout.width) * bits + 7) / 8;
    if (layout.stride < rowBytes || layout.stride > 16 * rowBytes + 4096)
        return invalid(QStringLiteral("stride %1 does not fit a row of %2 bytes").arg(layout.stride).arg(rowBytes));
    return layout;
}

} // namespace

std::optional<qsizetype> announcedByteCount(const QVariantMap &reply)
{
    const CaptureResult<Layout> layout = layoutOf(reply);
    if (!layout)
        return std::nullopt;
    return layout.value().stride * layout.value().height;
}

CaptureResult<QImage> decodeScreenShot(const QVariantMap &reply, QByteArray pixels)
{
    const CaptureResult<Layout> layoutResult = layoutOf(reply);
    if (!layoutResult)
        return layoutResult.error();
    const Layout &layout = layoutResult.value();
    const qsizetype expected = layout.stride * layout.height;
    if (pixels.size() < expected)
        return invalid(QStringLiteral("%1 of %2 bytes arrived").arg(pixels.size()).arg(expected));

    // The image borrows the bytes, which the cleanup function hands back.
    auto *owned = new QByteArray(std::move(pixels));
    QImage image(
        reinterpret_cast<uchar *>(owned->data()), layout.width, layout.height, layout.stride, layout.format,
        [](void *bytes) { delete static_cast<QByteArray *>(bytes); }, owned);
    if (image.isNull()) {
        delete owned;
        return invalid(QStringLiteral("Qt cannot make an image of format %1").arg(int(layout.format)));
    }
    if (layout.format == QImage::Format_RGB32)
        return image;
    QImage converted = std::move(image).convertToFormat(QImage::Format_RGB32);
    if (converted.isNull())
        return invalid(QStringLiteral("the image of format %1 could not be converted").arg(int(layout.format)));
    return converted;
}

} // namespace pellux::kwin
