#pragma once

#include "ocr/ChangedLines.h"
#include "persistence/RecordingText.h"

#include <QImage>
#include <QRectF>
#include <QString>

#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace pellux {

// Why a recogniser gave no answer for an image. Never "no text": a recogniser that worked and
// found nothing answers an empty list.
struct RecognitionFailure {
    enum class Kind {
        unavailable, // the recogniser cannot work at all (no model): every image fails alike
        image, // this image failed (an engine error, an image it cannot take)
    };
    Kind kind = Kind::image;
    QString reason;
};

// A recogniser's answer: the value, or why there is none.
template <typename T> class RecognitionResult {
public:
    RecognitionResult(T value)
        : m_state(std::move(value))
    {
    }
    RecognitionResult(RecognitionFailure failure)
        : m_state(std::move(failure))
    {
    }

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }
    const T &value() const & { return std::get<T>(m_state); }
    T &&value() && { return std::get<T>(std::move(m_state)); }
    const RecognitionFailure &failure() const { return std::get<RecognitionFailure>(m_state); }

private:
    std::variant<T, RecognitionFailure> m_state;
};

// One recognised line with its bounds in the original image (lower-left origin), and its words
// with their boxes in that image (top-left origin); the text is the words joined by one space.
struct RecognizedFragment {
    QString text;
    QRectF bounds;
    std::vector<WordBox> words;
};

using RecognizedLines = RecognitionResult<std::vector<RecognizedFragment>>;

// How carefully to read: screenshots are read accurately, video frames fast.
enum class RecognitionLevel { accurate, fast };

// Bands of rows served from a recogniser's cache of recognised lines, and bands it read itself.
struct LineCacheCounts {
    int hits = 0;
    int misses = 0;
};

// Reads the text lines of images. One instance is used from one thread (or serial queue) at a
// time; it may set itself up (load a model) on first use.
class TextRecognizer {
public:
    virtual ~TextRecognizer() = default;

    // Sets the recogniser up if it is not yet; none when it can recognise, else why not.
    virtual std::optional<RecognitionFailure> prepare() = 0;
    // The text lines of the image, in reading order.
    virtual RecognizedLines recognize(const QImage &image, RecognitionLevel level) = 0;
    // Only the given bands of rows (full width, top to bottom), read accurately and prepared as
    // the whole image would be; bounds in the whole image's space.
    virtual RecognizedLines recognizeBands(const QImage &image, const std::vector<RowSpan> &bands) = 0;
    // A recogniser without a cache of recognised lines counts nothing.
    virtual LineCacheCounts lineCacheCounts() const { return {}; }
};

} // namespace pellux
