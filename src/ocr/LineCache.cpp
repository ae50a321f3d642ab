#include "ocr/LineCache.h"

#include <QCryptographicHash>

namespace pellux {

namespace {

qint64 bytesOf(const QByteArray &key, const std::vector<RecognizedLine> &lines)
{
    qint64 bytes = key.size() + qint64(sizeof(RecognizedLine) * lines.size());
    for (const RecognizedLine &line : lines) {
        bytes += line.text.size() * qint64(sizeof(QChar));
        for (const RecognizedWord &word : line.words)
            bytes += qint64(sizeof(RecognizedWord)) + word.text.size() * qint64(sizeof(QChar));
    }
    return bytes;
}

} // namespace

LineCache::LineCache(size_t maxEntries, qint64 maxBytes)
    : m_maxEntries(maxEntries)
    , m_maxBytes(maxBytes)
{
}

QByteArray LineCache::keyOf(const QImage &preparedBand, int layout, bool inversionPass)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const int header[]
        = { preparedBand.width(), preparedBand.height(), int(preparedBand.format()), layout, inversionPass ? 1 : 0 };
    hash.addData(QByteArrayView(reinterpret_cast<const char *>(header), sizeof header));
    // Row by row: the padding at the end of each line is not part of the picture.
    const qsizetype rowBytes = qsizetype(preparedBand.width()) * preparedBand.depth() / 8;
    for (int y = 0; y < preparedBand.height(); ++y)
        hash.addData(QByteArrayView(reinterpret_cast<const char *>(preparedBand.constScanLine(y)), rowBytes));
    return hash.result();
}

std::optional<std::vector<RecognizedLine>> LineCache::find(const QByteArray &key)
{
    const auto found = m_entries.find(key);
    if (found == m_entries.end()) {
        ++m_misses;
        return std::nullopt;
    }
    ++m_hits;
    m_order.splice(m_order.begin(), m_order, found->second);
    return found->second->lines;
}

void LineCache::insert(const QByteArray &key, std::vector<RecognizedLine> lines)
{
    if (const auto found = m_entries.find(key); found != m_entries.end()) {
        m_bytes -= found->second->bytes;
        m_order.erase(found->second);
        m_entries.erase(found);
    }
    const qint64 bytes = bytesOf(key, lines);
    if (bytes > m_maxBytes)
        return;
    m_order.push_front(Entry { key, std::move(lines), bytes });
    m_entries.emplace(key, m_order.begin());
    m_bytes += bytes;
    evict();
}

void LineCache::evict()
{
    while (!m_order.empty() && (m_order.size() > m_maxEntries || m_bytes > m_maxBytes)) {
        m_bytes -= m_order.back().bytes;
        m_entries.erase(m_order.back().key);
        m_order.pop_back();
    }
}

} // namespace pellux
