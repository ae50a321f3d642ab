#include "capture/CaptureEngine.h"

#include "diagnostics/DebugManager.h"
#include "ocr/OCRProcessor.h"
#include "runtime/MainThread.h"

#include <algorithm>
#include <utility>

namespace pellux {

CaptureEngine::FrameRecognizer CaptureEngine::recognizerFor(OCRProcessor &processor)
{
    return [&processor](const QImage &frame, std::function<void(std::vector<OCRText>, QUuid)> completion) {
        // A frame the recogniser failed on adds no text (the processor logged why); the next
        // sample is only seconds away.
        processor.processSampleBuffer(frame, [completion = std::move(completion)](Recognition fragments, QUuid id) {
            if (fragments && completion)
                completion(std::move(fragments).value(), id);
        });
    };
}

CaptureEngine::CaptureEngine(Components components, QObject *parent)
    : QObject(parent)
    , m_components(std::move(components))
    , m_preferences(AppPreferences::load())
{
    if (!m_components.clock)
        m_components.clock = &Clock::system();
    if (!m_components.recognizeFrame && m_components.ocr)
        m_components.recognizeFrame = recognizerFor(*m_components.ocr);
    m_lastOCRTime = m_components.clock->now();

    postTo(this, [this] { checkPermissions(); });
}

// The image queue's destructor still runs the conversions already queued; they reach the engine
// only through a QPointer checked on the main thread, so they find it gone and do nothing.
CaptureEngine::~CaptureEngine() = default;

QVariant CaptureEngine::captureErrorValue() const
{
    if (!m_captureError)
        return {};
    return m_captureError->localizedDescription;
}

void CaptureEngine::setCapturing(bool on)
{
    if (m_isCapturing == on)
        return;
    m_isCapturing = on;
    emit isCapturingChanged();
}

void CaptureEngine::setVideoWriter(VideoWriter *writer)
{
    if (m_components.writer == writer)
        return;
    m_components.writer = writer;
    m_startTime.reset();
}

void CaptureEngine::setCaptureError(std::optional<CaptureError> error)
{
    m_captureError = std::move(error);
    emit captureErrorChanged();
}

bool CaptureEngine::isDebugMode() const { return m_components.debug && m_components.debug->isDebugMode(); }

QCoro::Task<> CaptureEngine::checkPermissions()
{
    if (!m_components.backend)
        co_return;
    QPointer<CaptureEngine> self(this);
    QCoro::Task<CaptureResult<ShareableContent>> query
        = m_components.backend->getShareableContent(/*excludingDesktopWindows=*/false, /*onScreenWindowsOnly=*/true);
    CaptureResult<ShareableContent> content = co_await query;
    if (!self || content.ok())
        co_return;
    setCaptureError(content.error());
}

void CaptureEngine::processSampleBuffer(const VideoFrame &frame)
{
    const Clock &clock = *m_components.clock;
    const TimePoint handlingStart = clock.now();

    VideoWriter *writer = m_components.writer;
    if (!m_isCapturing || !writer)
        return;
    if (writer->status() != VideoWriter::Status::writing)
        return;

    if (!m_startTime) {
        m_startTime = frame.presentationTime;
        writer->startSession(frame.presentationTime);
    }
    if (writer->isReadyForMoreMediaData())
        writer->append(frame);

    if (isDebugMode() && m_imageProcessingQueue.pendingCount() < maxPendingDebugImages) {
        m_imageProcessingQueue.async([self = QPointer<CaptureEngine>(this), image = frame.image] {
            // A copy of its own, so that the preview never shares the stream's buffer.
            QImage converted = image.convertToFormat(QImage::Format_RGB32).copy();
            const int width = image.width();
            const int height = image.height();
            postToMain([self, converted = std::move(converted), width, height] {
                if (self && self->m_components.debug)
                    self->m_components.debug->captureProcessed(converted, width, height);
            });
        });
    }

    const TimePoint now = clock.now();
    if ((now - m_lastOCRTime).count() >= ocrInterval) {
        m_lastOCRTime = now;
        performOCR(frame);
    }

    if (m_components.debug) {
        // A wall clock set back while the frame was handled must not report a negative time.
        const double elapsedMs = std::max(0.0, (clock.now() - handlingStart).count() * 1000.0);
        m_components.debug->recordProcessingTime(elapsedMs);
    }
}

void CaptureEngine::performOCR(const VideoFrame &frame)
{
    if (!m_components.recognizeFrame)
        return;
    // The completion runs on the recogniser's thread: it only copies the weak reference and hops
    // to the main thread, where the reference is checked.
    m_components.recognizeFrame(frame.image, [self = QPointer<CaptureEngine>(this)](std::vector<OCRText> texts, QUuid) {
        if (texts.empty())
            return;
        postToMain([self, texts = std::move(texts)]() mutable {
            if (self)
                self->addRecognizedText(std::move(texts));
        });
    });
}

void CaptureEngine::addRecognizedText(std::vector<OCRText> texts)
{
    if (isDebugMode()) {
        for (const OCRText &text : texts)
            m_components.debug->ocrProcessed(text.text, 1.0, text.bounds);
    }
    if (!m_currentRecordingId)
        m_currentRecordingId = QUuid::createUuid();
    // The recogniser makes up an id per frame; the fragments belong to the current recording.
    for (OCRText &text : texts) {
        text.recordingId = *m_currentRecordingId;
        m_pendingOCRTexts.push_back(std::move(text));
    }
    while (m_pendingOCRTexts.size() > maxPendingOCRTexts)
        m_pendingOCRTexts.pop_front();
    emit pendingOCRTextsChanged();
}

void CaptureStreamOutput::stream(const VideoFrame &frame)
{
    // Copying the weak reference is safe on any thread; it is only followed on the main thread.
    postToMain([engine = m_captureEngine, frame] {
        if (engine)
            engine->processSampleBuffer(frame);
    });
}

} // namespace pellux
