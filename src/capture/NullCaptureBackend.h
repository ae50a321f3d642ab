#pragma once

#include "capture/ActivitySource.h"
#include "capture/CaptureBackend.h"

namespace pellux {

// The backend of a session whose screen cannot be read: no permission, no windows, no images.
class NullCaptureBackend final : public CaptureBackend {
public:
    explicit NullCaptureBackend(QString reason);

    bool preflightScreenCaptureAccess() override { return false; }
    void requestScreenCaptureAccess() override { }
    QCoro::Task<CaptureResult<QImage>> captureImage(
        const ContentFilter &filter, const StreamConfiguration &configuration) override;

protected:
    QCoro::Task<CaptureResult<ShareableContent>> shareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly) override;

private:
    QString m_reason;
};

// An activity source that never reports anything.
class NullActivitySource final : public ActivitySource {
    Q_OBJECT
public:
    using ActivitySource::ActivitySource;
    bool start() override { return false; }
};

} // namespace pellux
