#pragma once

#include "persistence/Recording.h"

#include <mutex>
#include <optional>
#include <vector>

namespace pellux {

// The recognised text of one stored frame, for recognising the window's next frame line by line.
// Empty until that frame's recognition has finished, and left empty when it failed. Written on
// the recognition queue; the queue's next request of the window reads it there, after the
// writing request finished, and tests may read it from any thread.
class RecognitionMemory {
public:
    void remember(std::vector<OCRText> fragments)
    {
        std::lock_guard lock(m_mutex);
        m_fragments = std::move(fragments);
    }

    std::optional<std::vector<OCRText>> fragments() const
    {
        std::lock_guard lock(m_mutex);
        return m_fragments;
    }

private:
    mutable std::mutex m_mutex;
    std::optional<std::vector<OCRText>> m_fragments;
};

} // namespace pellux
