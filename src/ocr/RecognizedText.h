#pragma once

#include "persistence/Recording.h"

#include <QString>

#include <vector>

namespace pellux {

// The text stored for a screenshot: the fragments' texts in recognition order, one space between
// each. The capture service stores exactly this (nothing when it is empty), and `pellux ocr`
// prints it.
QString joinRecognizedText(const std::vector<OCRText> &fragments);

} // namespace pellux
