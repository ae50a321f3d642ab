#pragma once

#include <QImage>

namespace pellux::test {

class CapturePipeline;

// A small captured history through the real pipeline: an editor window whose report changes one
// line at a time (a full frame, then delta frames) and a terminal, both showing the word "budget";
// their text recognised. The pipeline's service must exist (makeService()).
void captureSampleHistory(CapturePipeline &pipeline);

// A 1920x1080 document that shows "budget" three times; each revision moves its cursor line, so
// that a window showing it is stored as a full frame and then as delta frames.
QImage documentFrame(int revision);

} // namespace pellux::test
