#include "capture/NullCaptureBackend.h"

namespace pellux {

NullCaptureBackend::NullCaptureBackend(QString reason)
    : m_reason(std::move(reason))
{
}

QCoro::Task<CaptureResult<QImage>> NullCaptureBackend::captureImage(const ContentFilter &, const StreamConfiguration &)
{
    co_return CaptureError { QString::fromLatin1(screenCaptureErrorDomain), m_reason };
}

QCoro::Task<CaptureResult<ShareableContent>> NullCaptureBackend::shareableContent(bool, bool)
{
    co_return CaptureError { QString::fromLatin1(screenCaptureErrorDomain), m_reason };
}

} // namespace pellux
