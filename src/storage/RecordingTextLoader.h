#pragma once

#include "imaging/StoredScreenshotReader.h"
#include "persistence/Recording.h"
#include "persistence/RecordingText.h"

#include <functional>
#include <memory>
#include <optional>

namespace pellux {

class OCRProcessor;
class SimpleDatabaseManager;

// A recording's text with the boxes of its words, for showing where a query is on the screenshot
// and copying the text of a region of it. Recordings stored before boxes were kept get them on
// first use: the stored image is recognised again and the new text and boxes replace the old text,
// so that both agree; later loads read them from the database.
class RecordingTextLoader {
public:
    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static RecordingTextLoader &shared();

    // Stored images are read with `reader` (on the recognition queue); without one, a reader of its
    // own over the database's delta chains.
    RecordingTextLoader(SimpleDatabaseManager &database, OCRProcessor &recognition,
        std::unique_ptr<StoredScreenshotReader> reader = nullptr);
    ~RecordingTextLoader();

    RecordingTextLoader(const RecordingTextLoader &) = delete;
    RecordingTextLoader &operator=(const RecordingTextLoader &) = delete;

    // Completion on the main thread: the text and its boxes; the stored text without boxes when the
    // image cannot be read or recognised again (one log line says why); absent when the database
    // cannot answer. A recording without text is answered as it is, never recognised here. The
    // collaborators must outlive every load in progress.
    void load(const Recording &recording, std::function<void(std::optional<RecordingText>)> completion);

private:
    SimpleDatabaseManager &m_database;
    OCRProcessor &m_recognition;
    std::shared_ptr<StoredScreenshotReader> m_reader;
};

} // namespace pellux
