#pragma once

#include "ocr/TesseractEngine.h"

#include <QByteArray>
#include <QImage>

#include <list>
#include <optional>
#include <unordered_map>
#include <vector>

namespace pellux {

// The lines recognised in bands of rows already read, keyed by the band's pixels exactly as the
// recogniser saw them (greyed, negated and enlarged) and by how it read them: a band that comes
// back (a line typed again, a tab switched back to, a page paged back to) takes its text and its
// words' boxes from here instead of from Tesseract, and the answer is the one Tesseract gave.
// Bounded by entries and by bytes, the least recently used going first. One recogniser's, used on
// its thread only.
class LineCache {
public:
    static constexpr size_t kMaxEntries = 4000;
    static constexpr qint64 kMaxBytes = 8LL * 1024 * 1024;

    LineCache(size_t maxEntries = kMaxEntries, qint64 maxBytes = kMaxBytes);

    // The key of a prepared band read with the given layout and inversion pass.
    static QByteArray keyOf(const QImage &preparedBand, int layout, bool inversionPass);

    // The band's lines when it was read before (counted as a hit, else as a miss).
    std::optional<std::vector<RecognizedLine>> find(const QByteArray &key);
    void insert(const QByteArray &key, std::vector<RecognizedLine> lines);

    int hits() const { return m_hits; }
    int misses() const { return m_misses; }
    size_t size() const { return m_entries.size(); }
    qint64 bytes() const { return m_bytes; }

private:
    struct Entry {
        QByteArray key;
        std::vector<RecognizedLine> lines;
        qint64 bytes = 0;
    };
    void evict();

    const size_t m_maxEntries;
    const qint64 m_maxBytes;
    std::list<Entry> m_order; // most recently used first
    std::unordered_map<QByteArray, std::list<Entry>::iterator> m_entries;
    qint64 m_bytes = 0;
    int m_hits = 0;
    int m_misses = 0;
};

} // namespace pellux
