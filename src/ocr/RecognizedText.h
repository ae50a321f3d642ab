#pragma once

#include "persistence/Recording.h"
#include "persistence/RecordingText.h"

#include <QSize>
#include <QString>

#include <vector>

namespace pellux {

// The text stored for a screenshot: the fragments' texts in recognition order, one line each. The
// capture service stores exactly this (nothing when it is empty), and `pellux ocr` prints it.
QString joinRecognizedText(const std::vector<OCRText> &fragments);

// The same text with the boxes of its words; no words unless every fragment with text has its
// words and they agree with its text.
RecordingText recognizedText(const std::vector<OCRText> &fragments);

// Boxes measured on an image of `recognized` size, moved to the same place on that image stored
// at `stored` size.
std::vector<WordBox> scaledWordBoxes(std::vector<WordBox> words, QSize recognized, QSize stored);

} // namespace pellux
