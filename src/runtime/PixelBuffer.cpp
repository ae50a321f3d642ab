#include "runtime/PixelBuffer.h"

#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pellux::pixelbuffer {

namespace {

std::uint32_t pixelDifference(std::uint32_t p, std::uint32_t q)
{
    return static_cast<std::uint32_t>(std::abs(int(p & 0xff) - int(q & 0xff)))
        + static_cast<std::uint32_t>(std::abs(int((p >> 8) & 0xff) - int((q >> 8) & 0xff)))
        + static_cast<std::uint32_t>(std::abs(int((p >> 16) & 0xff) - int((q >> 16) & 0xff)));
}

} // namespace

std::uint32_t colourDifference(const std::uint32_t *a, const std::uint32_t *b, int count)
{
    std::uint32_t sum = 0;
    int i = 0;
#if defined(__SSE2__)
    // Four pixels at a time: mask out the fourth byte, then one sum of absolute byte differences.
    const __m128i colour = _mm_set1_epi32(0x00ffffff);
    __m128i total = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
        const __m128i p = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i)), colour);
        const __m128i q = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i)), colour);
        total = _mm_add_epi64(total, _mm_sad_epu8(p, q));
    }
    sum = static_cast<std::uint32_t>(_mm_cvtsi128_si32(total) + _mm_cvtsi128_si32(_mm_srli_si128(total, 8)));
#endif
    for (; i < count; ++i)
        sum += pixelDifference(a[i], b[i]);
    return sum;
}

QImage asArgb32Family(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    default:
        return image.convertToFormat(
            image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    }
}

QImage view(const QImage &image32, const QRect &rect)
{
    if (rect.isEmpty() || !image32.rect().contains(rect) || image32.depth() != 32)
        return QImage();
    const uchar *origin = image32.constBits() + static_cast<qsizetype>(rect.y()) * image32.bytesPerLine()
        + static_cast<qsizetype>(rect.x()) * 4;
    return QImage(origin, rect.width(), rect.height(), image32.bytesPerLine(), image32.format());
}

bool isFullyTransparent(const QImage &image)
{
    if (image.isNull() || !image.hasAlphaChannel())
        return false;
    const QImage pixels
        = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_ARGB32_Premultiplied
        ? image
        : image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x) {
            if (qAlpha(row[x]) != 0)
                return false;
        }
    }
    return true;
}

} // namespace pellux::pixelbuffer
