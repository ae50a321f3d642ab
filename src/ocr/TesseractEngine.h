#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace tesseract {
class TessBaseAPI;
}

namespace pellux {

// How the page is split into lines before recognition.
enum class PageLayout {
    automatic, // full layout analysis: columns, blocks, then lines
    singleBlock, // the whole image is one block of text lines (suits single windows)
};

// One recognised word and its box, in the pixel space of the image handed to the engine, top-left
// origin.
struct RecognizedWord {
    QString text;
    QRect box;
};

// One recognised line of text and its box in the pixel space of the image handed to the engine,
// top-left origin, as Tesseract reports it. The text is its words joined by one space.
struct RecognizedLine {
    QString text;
    QRect box;
    std::vector<RecognizedWord> words;
};

// One Tesseract handle with the English model, loaded once. A handle is not thread-safe: each
// thread (or serial queue) owns its own engine and keeps it for its lifetime, because loading the
// model costs far more than a small image.
class TesseractEngine {
public:
    enum class Purpose {
        recognition, // loads the English model; recognizeLines and detectLines
        layoutAnalysis, // no model needed; detectLines only
    };

    // `dataPath` is the folder holding eng.traineddata; absent means TESSDATA_PREFIX or the
    // system's default folder.
    explicit TesseractEngine(Purpose purpose, std::optional<QString> dataPath = std::nullopt);
    ~TesseractEngine();

    TesseractEngine(const TesseractEngine &) = delete;
    TesseractEngine &operator=(const TesseractEngine &) = delete;

    bool isReady() const { return m_ready; }
    // Why the engine is not ready, for the one log line callers print.
    const QString &failureReason() const { return m_failureReason; }

    // The folder the English model is loaded from: `dataPath`, else TESSDATA_PREFIX, else the
    // folder libtesseract was built to look in (absent when that is unknown).
    static std::optional<QString> modelFolder(const std::optional<QString> &dataPath);

    // Recognises the text lines of an 8-bit grey image, in Tesseract's reading order. Lines
    // without text are left out. Empty when the engine is not ready or the image is too small,
    // or when recognition fails (`recognitionFailure` then says why).
    // `inversionPass` lets Tesseract retry weakly recognised lines as light-on-dark text.
    std::vector<RecognizedLine> recognizeLines(const QImage &grey, PageLayout layout, bool inversionPass = true);

    // Why the last recognizeLines call failed; empty when it did not.
    const QString &recognitionFailure() const { return m_recognitionFailure; }

    // Layout analysis alone: the boxes of the lines of the text blocks of an 8-bit grey image (not
    // of pictures or rules), no recognition.
    std::vector<QRect> detectLines(const QImage &grey);

private:
    bool setImage(const QImage &grey);

    std::unique_ptr<tesseract::TessBaseAPI> m_api;
    Purpose m_purpose;
    bool m_ready = false;
    QString m_failureReason;
    QString m_recognitionFailure;
};

// Smallest image side Tesseract accepts; smaller images have no readable text anyway.
inline constexpr int kMinimumRecognizableSide = 3;

} // namespace pellux
