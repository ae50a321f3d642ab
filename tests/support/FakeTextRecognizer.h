#pragma once

#include "ocr/TextRecognizer.h"

#include "support/TestFiles.h"

namespace pellux::test {

// A recogniser without Tesseract for tests of the logic around recognition. Every run of rows
// holding a pixel unlike the top-left one (the background) is one full-width line whose text is
// a word made from those rows' pixels: equal rows read alike wherever they are, a blank image
// reads as no text, and reading bands gives what reading the whole image gives for those rows.
// It can be told to fail.
class FakeTextRecognizer final : public TextRecognizer {
public:
    // The requests that fail next (all of them while `count` is negative) and how; with `only`,
    // only requests for images it accepts.
    void failNext(RecognitionFailure failure, int count = -1, std::function<bool(const QImage &)> only = {});
    void recover() { failNext({}, 0); }
    // While held, requests wait (a slow recogniser); release() lets them through.
    void hold() { m_held = true; }
    void release() { m_held = false; }

    int requests() const { return m_requests.load(); }
    int bandRequests() const { return m_bandRequests.load(); }

    std::optional<RecognitionFailure> prepare() override;
    RecognizedLines recognize(const QImage &image, RecognitionLevel level) override;
    RecognizedLines recognizeBands(const QImage &image, const std::vector<RowSpan> &bands) override;

    // What the fake reads in the rows [top, bottom) of an image.
    static std::vector<RecognizedFragment> read(const QImage &image, int top, int bottom);

private:
    std::optional<RecognitionFailure> takeFailure(const QImage &image);
    // Counts a request, waits while held, and answers the failure it is to meet, if any.
    std::optional<RecognitionFailure> begin(const QImage &image);

    std::mutex m_mutex;
    std::atomic<bool> m_held { false };
    std::optional<RecognitionFailure> m_failure;
    int m_failuresLeft = 0;
    std::function<bool(const QImage &)> m_only;
    std::atomic<int> m_requests { 0 };
    std::atomic<int> m_bandRequests { 0 };
};

} // namespace pellux::test
