#include "support/CapturePipeline.h"

namespace pellux::test {

namespace {

// A part the components own, in the form the tests hold it.
template <typename T> std::shared_ptr<T> borrowed(T &part)
{
    return std::shared_ptr<T>(&part, [](T *) {});
}

} // namespace

CapturePipeline::CapturePipeline(std::unique_ptr<TextRecognizer> recognizer)
    : components(AppComponents::Options { [] { return std::make_unique<FakeCaptureBackend>(); },
        [this] {
            auto source = std::make_unique<FakeActivitySource>();
            activitySource = source.get();
            return source;
        },
        &clock, [&recognizer] { return std::move(recognizer); } })
    , backend(static_cast<FakeCaptureBackend &>(components.captureBackend()))
    , database(borrowed(components.database()))
    , storage(borrowed(components.storage()))
    , deltaFrames(borrowed(components.deltaFrames()))
    , optimizer(borrowed(components.imageOptimizer()))
    , ocr(borrowed(components.textRecognition()))
    , debug(borrowed(components.debug()))
    , monitor(borrowed(components.activityMonitor()))
{
}

CapturePipeline::~CapturePipeline()
{
    if (service)
        settle();
}

ScreenshotService &CapturePipeline::makeService()
{
    // Built here rather than by the root, so that a test may swap a part (the debug counters) first.
    service
        = std::make_shared<ScreenshotService>(ScreenshotService::Components { &backend, optimizer.get(), storage.get(),
            ocr.get(), database.get(), debug.get(), [this]() -> ActivityMonitor & { return *monitor; }, &clock });
    QCoreApplication::processEvents(); // the enumeration made at construction
    return *service;
}

void CapturePipeline::run(QCoro::Task<> task) { QCoro::waitFor(std::move(task)); }

void CapturePipeline::settle()
{
    if (service)
        QCoro::waitFor(service->waitForRecognitions(std::chrono::minutes(2)));
    ocr->textRecognitionQueue().drain();
    database->waitUntilIdle();
    QCoreApplication::processEvents();
}

std::optional<QString> CapturePipeline::storedText(const QUuid &recordingId)
{
    return awaitCompletion<std::optional<QString>>(
        [&](std::function<void(std::optional<QString>)> done) { database->getOCRText(recordingId, done); });
}

QImage CapturePipeline::textFrame(const QString &text, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(28);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect().adjusted(16, 16, -16, -16), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    return image;
}

} // namespace pellux::test
