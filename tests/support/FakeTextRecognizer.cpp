#include "support/FakeTextRecognizer.h"

namespace pellux::test {

namespace {

// Lossy encodings move colours a little; a line's pixels differ from the ground by far more.
constexpr int kInkDifference = 64;

bool isInk(QRgb pixel, QRgb ground)
{
    return std::abs(qRed(pixel) - qRed(ground)) + std::abs(qGreen(pixel) - qGreen(ground))
        + std::abs(qBlue(pixel) - qBlue(ground))
        > kInkDifference;
}

} // namespace

void FakeTextRecognizer::failNext(RecognitionFailure failure, int count, std::function<bool(const QImage &)> only)
{
    std::lock_guard lock(m_mutex);
    m_only = std::move(only);
    m_failure = count == 0 ? std::nullopt : std::optional(std::move(failure));
    m_failuresLeft = count;
}

std::optional<RecognitionFailure> FakeTextRecognizer::takeFailure(const QImage &image)
{
    std::lock_guard lock(m_mutex);
    if (!m_failure || (m_only && !m_only(image)))
        return std::nullopt;
    RecognitionFailure failure = *m_failure;
    if (m_failuresLeft > 0 && --m_failuresLeft == 0)
        m_failure.reset();
    return failure;
}

std::optional<RecognitionFailure> FakeTextRecognizer::begin(const QImage &image)
{
    ++m_requests;
    while (m_held)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return takeFailure(image);
}

std::optional<RecognitionFailure> FakeTextRecognizer::prepare()
{
    std::lock_guard lock(m_mutex);
    if (m_failure && m_failure->kind == RecognitionFailure::Kind::unavailable)
        return m_failure;
    return std::nullopt;
}

std::vector<RecognizedFragment> FakeTextRecognizer::read(const QImage &source, int top, int bottom)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const QRgb ground = image.pixel(0, 0);
    std::vector<RecognizedFragment> lines;
    int start = -1;
    for (int y = top; y <= bottom; ++y) {
        bool ink = false;
        for (int x = 0; y < bottom && !ink && x < image.width(); ++x)
            ink = isInk(image.pixel(x, y), ground);
        if (ink && start < 0)
            start = y;
        if (!ink && start >= 0) {
            QCryptographicHash hash(QCryptographicHash::Sha1);
            QByteArray mask(image.width(), '0');
            for (int row = start; row < y; ++row) {
                for (int x = 0; x < image.width(); ++x)
                    mask[x] = isInk(image.pixel(x, row), ground) ? '1' : '0';
                hash.addData(mask);
            }
            const QString word = QStringLiteral("w") + QString::fromLatin1(hash.result().toHex().left(8));
            lines.push_back({ word, QRectF(0, image.height() - y, image.width(), y - start) });
            start = -1;
        }
    }
    return lines;
}

RecognizedLines FakeTextRecognizer::recognize(const QImage &image, RecognitionLevel)
{
    if (std::optional<RecognitionFailure> failure = begin(image))
        return *failure;
    return read(image, 0, image.height());
}

RecognizedLines FakeTextRecognizer::recognizeBands(const QImage &image, const std::vector<RowSpan> &bands)
{
    ++m_bandRequests;
    if (std::optional<RecognitionFailure> failure = begin(image))
        return *failure;
    std::vector<RecognizedFragment> lines;
    for (const RowSpan &band : bands) {
        for (RecognizedFragment &line : read(image, std::max(0, band.top), std::min(image.height(), band.bottom)))
            lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace pellux::test
