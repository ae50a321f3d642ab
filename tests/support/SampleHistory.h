#pragma once

namespace pellux::test {

class CapturePipeline;

// A small captured history through the real pipeline: an editor window whose report changes one
// line at a time (a full frame, then delta frames) and a terminal, both showing the word "budget";
// their text recognised. The pipeline's service must exist (makeService()).
void captureSampleHistory(CapturePipeline &pipeline);

} // namespace pellux::test
