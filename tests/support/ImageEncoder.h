#pragma once

#include "imaging/ImageOptimizer.h"
#include "ocr/TextLineDetector.h"

namespace pellux::test {

// An optimizer that classifies and encodes as the application's does (text lines found by the
// detector), for tests and benchmarks that only encode; no database or delta stage behind it.
inline ImageOptimizer &imageEncoder()
{
    static ImageOptimizer optimizer;
    [[maybe_unused]] static const bool configured = (optimizer.setTextLineDetector(detectTextLines), true);
    return optimizer;
}

} // namespace pellux::test
