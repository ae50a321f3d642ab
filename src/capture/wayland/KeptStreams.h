#pragma once

#include <QHash>

#include <algorithm>
#include <memory>

namespace pellux::wayland {

// The window streams a backend keeps open between captures (Mutter's recordings, KWin's window
// streams), so that a capture copies the newest frame instead of starting a stream. At most
// `capacity` are kept, the least recently used closed first. `Stream` has `bool isAlive() const`.
template <typename Key, typename Stream> class KeptStreams {
public:
    explicit KeptStreams(int capacity)
        : m_capacity(std::max(1, capacity))
    {
    }

    // The kept stream of `key`, marked as just used; one that has ended is dropped.
    std::shared_ptr<Stream> use(const Key &key)
    {
        const auto kept = m_streams.find(key);
        if (kept == m_streams.end())
            return nullptr;
        if (!kept->stream->isAlive()) {
            m_streams.erase(kept);
            return nullptr;
        }
        kept->lastUse = ++m_useCounter;
        return kept->stream;
    }

    void keep(const Key &key, std::shared_ptr<Stream> stream)
    {
        m_streams.insert(key, Kept { std::move(stream), ++m_useCounter });
        while (m_streams.size() > m_capacity) {
            const auto oldest = std::min_element(
                m_streams.begin(), m_streams.end(), [](const Kept &a, const Kept &b) { return a.lastUse < b.lastUse; });
            m_streams.erase(oldest);
        }
    }

    void remove(const Key &key) { m_streams.remove(key); }
    void clear() { m_streams.clear(); }
    qsizetype size() const { return m_streams.size(); }

    // Ends the streams of the windows `isListed` no longer names; `ended(key, stream)` is told each.
    template <typename IsListed, typename Ended> void keepOnly(IsListed isListed, Ended ended)
    {
        for (auto it = m_streams.begin(); it != m_streams.end();) {
            if (isListed(it.key())) {
                ++it;
                continue;
            }
            ended(it.key(), *it->stream);
            it = m_streams.erase(it);
        }
    }

    template <typename Predicate> qsizetype countIf(Predicate predicate) const
    {
        return std::count_if(
            m_streams.begin(), m_streams.end(), [&](const Kept &kept) { return predicate(*kept.stream); });
    }

private:
    struct Kept {
        std::shared_ptr<Stream> stream;
        qint64 lastUse = 0;
    };

    QHash<Key, Kept> m_streams;
    qsizetype m_capacity;
    qint64 m_useCounter = 0;
};

} // namespace pellux::wayland
