#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace pellux {

class ScreenshotLoader;
class SerialQueue;

// The thumbnails of one day's captures, decoded ahead of the timeline's playhead on a worker of
// its own so that a drag shows each frame from memory. A capture that keeps no thumbnail (a light
// frame, or a delta of a light chain: thumbnail::worthKeeping) is read at the thumbnail's size
// through the window's ScreenshotLoader, whose cache of rebuilt frames lets each delta of a chain
// start from the one before. Holds at most kCapacity frames, dropping those farthest from the
// playhead. Main thread, but for the decoding.
class DayFrameCache : public QObject {
    Q_OBJECT

public:
    static constexpr int kCapacity = 96;
    // Captures decoded ahead of the playhead in the direction it moves, and behind it.
    static constexpr int kAhead = 32;
    static constexpr int kBehind = 8;

    explicit DayFrameCache(std::shared_ptr<ScreenshotLoader> loader, QObject *parent = nullptr);
    ~DayFrameCache() override;

    // A new day: the stored files of its captures, in the order of the bar. Forgets every frame
    // and drops decoding not yet started.
    void reset(std::vector<QString> screenshotPaths);
    // Later captures of the same day, after the others; the frames decoded stay.
    void append(const std::vector<QString> &screenshotPaths);
    // The decoded thumbnail, null until it arrives (or when there is none).
    QImage frame(int index) const;
    // Whether the capture's thumbnail could not be read.
    bool isMissing(int index) const { return m_missing.contains(index); }
    // The playhead is at `index` moving by `direction` (-1, 0, +1): decodes it first, then the
    // captures around it, most of them ahead.
    void prefetch(int index, int direction);
    int decodedCount() const { return static_cast<int>(m_frames.size()); }

signals:
    // A thumbnail arrived, or could not be read (isMissing).
    void frameReady(int index);

private:
    struct Shared;
    void received(quint64 generation, int index, QImage image);
    void evictFarthestFrom(int index);

    std::shared_ptr<ScreenshotLoader> m_loader;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<SerialQueue> m_queue;
    std::vector<QString> m_paths;
    std::unordered_map<int, QImage> m_frames;
    std::unordered_set<int> m_missing;
    std::unordered_set<int> m_requested;
    quint64 m_generation = 0;
    int m_playhead = 0;
};

} // namespace pellux
