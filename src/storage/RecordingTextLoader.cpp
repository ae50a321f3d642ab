#include "storage/RecordingTextLoader.h"

#include "imaging/StoredScreenshotReader.h"
#include "ocr/OCRProcessor.h"
#include "ocr/RecognizedText.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/Log.h"
#include "runtime/MainThread.h"
#include "runtime/SharedInstance.h"

namespace pellux {

namespace {

// One rebuilt frame is plenty: the viewer opens one recording at a time.
constexpr qint64 kReaderCacheBytes = qint64(32) * 1024 * 1024;

using Completion = std::function<void(std::optional<RecordingText>)>;

void answer(const Completion &completion, std::optional<RecordingText> text)
{
    postToMain([completion, text = std::move(text)] { completion(text); });
}

} // namespace

RecordingTextLoader &RecordingTextLoader::shared()
{
    return SharedInstance<RecordingTextLoader>::get("RecordingTextLoader");
}

RecordingTextLoader::RecordingTextLoader(
    SimpleDatabaseManager &database, OCRProcessor &recognition, std::unique_ptr<StoredScreenshotReader> reader)
    : m_database(database)
    , m_recognition(recognition)
    , m_reader(reader ? std::move(reader)
                      : std::make_unique<StoredScreenshotReader>(
                          StoredScreenshotReader::databaseLookup(database), kReaderCacheBytes))
{
}

RecordingTextLoader::~RecordingTextLoader() = default;

void RecordingTextLoader::load(const Recording &recording, Completion completion)
{
    SimpleDatabaseManager &database = m_database;
    OCRProcessor &recognition = m_recognition;
    std::shared_ptr<StoredScreenshotReader> reader = m_reader;
    database.getRecordingText(recording.id,
        [&database, &recognition, reader, recording, completion = std::move(completion)](
            std::optional<RecordingText> stored) {
            if (!stored || !stored->words.empty() || stored->text.trimmed().isEmpty())
                return completion(std::move(stored));
            const QString id = recording.idText();
            // Recorded before boxes were kept: the image is read and recognised on the recognition
            // queue, never on the main thread.
            recognition.textRecognitionQueue().async(
                [&database, &recognition, reader, recording, id, completion, stored = std::move(*stored)] {
                    QString reason;
                    const QImage image = reader->read(recording.localPath(), QSize(), &reason);
                    if (image.isNull()) {
                        log::failure(QStringLiteral("The words of recording %1 cannot be found: its image cannot be "
                                                    "read (%2)")
                                         .arg(id, reason));
                        return answer(completion, stored);
                    }
                    recognition.processImage(
                        image, recording.id, [&database, recording, id, completion, stored](Recognition fragments) {
                            if (!fragments) {
                                log::failure(QStringLiteral("The words of recording %1 cannot be found: %2")
                                                 .arg(id, fragments.failure().reason));
                                return answer(completion, stored);
                            }
                            RecordingText recognized = recognizedText(fragments.value());
                            if (recognized.words.empty()) {
                                log::failure(QStringLiteral("The words of recording %1 cannot be found: its image "
                                                            "reads as no text now")
                                                 .arg(id));
                                return answer(completion, stored);
                            }
                            database.replaceRecordingText(recording.id, recognized, recording.timestamp,
                                [completion, recognized](bool) { answer(completion, recognized); });
                        });
                });
        });
}

} // namespace pellux
