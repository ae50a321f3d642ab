#include "ocr/TesseractEngine.h"

#include "ocr/OpenMPThreadLimit.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <mutex>

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <string>

namespace pellux {

namespace {

// Screens are about 96 pixels per inch; without a figure Tesseract guesses and says so on stderr.
constexpr int kScreenPixelsPerInch = 96;

template <typename T> struct ArrayDeleter {
    void operator()(T *p) const { delete[] p; }
};
using TessText = std::unique_ptr<char, ArrayDeleter<char>>;

QRect boxAt(const tesseract::PageIterator &it, tesseract::PageIteratorLevel level = tesseract::RIL_TEXTLINE)
{
    int left = 0, top = 0, right = 0, bottom = 0;
    if (!it.BoundingBox(level, &left, &top, &right, &bottom))
        return {};
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

} // namespace

TesseractEngine::TesseractEngine(Purpose purpose, std::optional<QString> dataPath)
    : m_api(std::make_unique<tesseract::TessBaseAPI>())
    , m_purpose(purpose)
{
    warnIfOpenMPUnlimited();
    // "debug_file" is one setting of the whole process, not of this engine: engines made on two
    // threads at once would write it together.
    static std::mutex constructing;
    const std::lock_guard lock(constructing);

    // Tesseract's own diagnostics ("Estimating resolution...", "Empty page!!") go nowhere; the
    // engine reports failures itself.
    const std::vector<std::string> names { "debug_file" };
    const std::vector<std::string> values { "/dev/null" };
    if (purpose == Purpose::layoutAnalysis) {
        m_api->SetVariable("debug_file", "/dev/null");
        m_api->InitForAnalysePage();
        m_ready = true;
        return;
    }
    const std::optional<QString> folder = modelFolder(dataPath);
    const QString where = folder ? *folder : QStringLiteral("the default tessdata folder");
    m_failureReason = QStringLiteral("cannot load the English text model (eng.traineddata) from %1").arg(where);
    if (folder && !QFileInfo(QDir(*folder).filePath(QStringLiteral("eng.traineddata"))).isReadable())
        return;
    // Set before Init: Tesseract reports a model it cannot load with lines of its own, which go
    // nowhere; the one line callers print says it.
    m_api->SetVariable("debug_file", "/dev/null");
    const QByteArray path = folder ? folder->toLocal8Bit() : QByteArray();
    const int status = m_api->Init(
        folder ? path.constData() : nullptr, "eng", tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false);
    if (status != 0) {
        m_api->End();
        return;
    }
    m_failureReason.clear();
    m_ready = true;
}

std::optional<QString> TesseractEngine::modelFolder(const std::optional<QString> &dataPath)
{
    if (dataPath)
        return dataPath;
    if (qEnvironmentVariableIsSet("TESSDATA_PREFIX"))
        return qEnvironmentVariable("TESSDATA_PREFIX");
    // Unknown when the library's built-in folder could not be read at build time.
    const QString builtIn = QStringLiteral(PELLUX_TESSERACT_DEFAULT_TESSDATA);
    if (builtIn.isEmpty())
        return std::nullopt;
    return builtIn;
}

TesseractEngine::~TesseractEngine()
{
    if (m_api)
        m_api->End();
}

bool TesseractEngine::setImage(const QImage &grey)
{
    if (!m_ready || grey.isNull() || grey.width() < kMinimumRecognizableSide
        || grey.height() < kMinimumRecognizableSide)
        return false;
    Q_ASSERT(grey.format() == QImage::Format_Grayscale8);
    // Tesseract copies the pixels, so the image may go away afterwards.
    m_api->SetImage(grey.constBits(), grey.width(), grey.height(), 1, static_cast<int>(grey.bytesPerLine()));
    m_api->SetSourceResolution(kScreenPixelsPerInch);
    return true;
}

std::vector<RecognizedLine> TesseractEngine::recognizeLines(const QImage &grey, PageLayout layout, bool inversionPass)
{
    std::vector<RecognizedLine> lines;
    m_recognitionFailure.clear();
    if (m_purpose != Purpose::recognition)
        return lines;
    m_api->SetVariable("tessedit_do_invert", inversionPass ? "1" : "0");
    m_api->SetPageSegMode(layout == PageLayout::singleBlock ? tesseract::PSM_SINGLE_BLOCK : tesseract::PSM_AUTO);
    if (!setImage(grey))
        return lines;
    if (m_api->Recognize(nullptr) != 0) {
        m_recognitionFailure
            = QStringLiteral("Tesseract could not recognise the %1x%2 image").arg(grey.width()).arg(grey.height());
        m_api->Clear();
        return lines;
    }
    std::unique_ptr<tesseract::ResultIterator> it(m_api->GetIterator());
    if (it) {
        do {
            if (it->Empty(tesseract::RIL_TEXTLINE))
                continue;
            RecognizedLine line { {}, boxAt(*it), {} };
            // The line is read word by word, so that its text and its words' boxes agree.
            do {
                if (!it->Empty(tesseract::RIL_WORD)) {
                    TessText text(it->GetUTF8Text(tesseract::RIL_WORD));
                    QString word = text ? QString::fromUtf8(text.get()) : QString();
                    // A word is what the stored text splits on white space.
                    word.removeIf([](QChar c) { return c.isSpace(); });
                    if (!word.isEmpty())
                        line.words.push_back({ word, boxAt(*it, tesseract::RIL_WORD) });
                }
            } while (
                !it->IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_WORD) && it->Next(tesseract::RIL_WORD));
            if (line.words.empty())
                continue;
            QStringList words;
            for (const RecognizedWord &word : line.words)
                words.append(word.text);
            line.text = words.join(QLatin1Char(' '));
            lines.push_back(std::move(line));
        } while (it->Next(tesseract::RIL_TEXTLINE));
    }
    m_api->Clear();
    return lines;
}

std::vector<QRect> TesseractEngine::detectLines(const QImage &grey)
{
    std::vector<QRect> boxes;
    m_api->SetPageSegMode(tesseract::PSM_AUTO);
    if (!setImage(grey))
        return boxes;
    std::unique_ptr<tesseract::PageIterator> it(m_api->AnalyseLayout());
    if (it) {
        do {
            // Picture, line and rule blocks have line boxes too; only text counts as text.
            if (it->Empty(tesseract::RIL_TEXTLINE) || !PTIsTextType(it->BlockType()))
                continue;
            const QRect box = boxAt(*it);
            if (!box.isEmpty())
                boxes.push_back(box);
        } while (it->Next(tesseract::RIL_TEXTLINE));
    }
    m_api->Clear();
    return boxes;
}

} // namespace pellux
