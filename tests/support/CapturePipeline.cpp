#include "support/CapturePipeline.h"

#include "imaging/DeltaFrameProcessor.h"
#include "ocr/TextLineDetector.h"
#include "support/AwaitCompletion.h"

#include <QCoreApplication>
#include <QFont>
#include <QPainter>

#include <qcorotask.h>

namespace pellux::test {

CapturePipeline::CapturePipeline(std::unique_ptr<TextRecognizer> recognizer)
{
    database = std::make_unique<SimpleDatabaseManager>();
    index = std::make_unique<DatabaseRecordingIndex>(*database);
    storage = std::make_unique<StorageManager>(*index, clock);
    optimizer = std::make_unique<ImageOptimizer>();
    optimizer->setDuplicateLookup(
        [db = database.get()](const QString &hash, std::function<void(std::optional<QString>)> completion) {
            db->getScreenshotByHash(hash, std::move(completion));
        });
    optimizer->setTextLineDetector(detectTextLines);
    deltaFrames = std::make_unique<DeltaFrameProcessor>(clock);
    optimizer->setDeltaFrameStage(
        [delta = deltaFrames.get()](QImage current, QImage previous, QString windowID, QString hash) {
            return delta->processDeltaFrame(
                std::move(current), std::move(previous), std::move(windowID), std::move(hash));
        },
        &DeltaFrameProcessor::encodeDeltaData,
        [delta = deltaFrames.get()](const PendingReference &reference) { delta->commitReference(reference); });
    ocr = recognizer ? std::make_unique<OCRProcessor>(std::move(recognizer), clock) : std::make_unique<OCRProcessor>();
    debug = std::make_unique<DebugManager>(clock);
    auto source = std::make_unique<FakeActivitySource>();
    activitySource = source.get();
    monitor = std::make_unique<ActivityMonitor>(std::move(source), clock);
}

CapturePipeline::~CapturePipeline()
{
    if (service)
        settle();
    service.reset();
}

void CapturePipeline::savePreferences(const AppPreferences &preferences) { preferences.save(); }

ScreenshotService &CapturePipeline::makeService()
{
    service = std::make_unique<ScreenshotService>(ScreenshotService::Components {
        &backend,
        optimizer.get(),
        storage.get(),
        ocr.get(),
        database.get(),
        debug.get(),
        [this]() -> ActivityMonitor & { return *monitor; },
        &clock,
    });
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

QImage CapturePipeline::blankFrame(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

} // namespace pellux::test
