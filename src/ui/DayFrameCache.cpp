#include "ui/DayFrameCache.h"

#include "imaging/Thumbnail.h"
#include "runtime/MainThread.h"
#include "runtime/SerialQueue.h"
#include "ui/ScreenshotLoader.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace pellux {

// What the main thread wants decoded next, replaced whole at every move of the playhead so the
// worker never works through a backlog the drag has left behind.
struct DayFrameCache::Shared {
    struct Job {
        quint64 generation;
        int index;
        QString path;
    };
    std::mutex mutex;
    std::deque<Job> wanted;
    bool draining = false;
};

DayFrameCache::DayFrameCache(std::shared_ptr<ScreenshotLoader> loader, QObject *parent)
    : QObject(parent)
    , m_loader(std::move(loader))
    , m_shared(std::make_shared<Shared>())
    , m_queue(std::make_unique<SerialQueue>(QStringLiteral("com.pellux.timeline")))
{
}

DayFrameCache::~DayFrameCache()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->wanted.clear();
    }
    m_queue.reset(); // joins the worker: nothing is posted to this object after
}

void DayFrameCache::reset(std::vector<QString> screenshotPaths)
{
    ++m_generation;
    m_paths = std::move(screenshotPaths);
    m_frames.clear();
    m_missing.clear();
    m_requested.clear();
    m_playhead = 0;
    std::lock_guard lock(m_shared->mutex);
    m_shared->wanted.clear();
}

void DayFrameCache::append(const std::vector<QString> &screenshotPaths)
{
    m_paths.insert(m_paths.end(), screenshotPaths.begin(), screenshotPaths.end());
}

QImage DayFrameCache::frame(int index) const
{
    const auto found = m_frames.find(index);
    return found == m_frames.end() ? QImage() : found->second;
}

void DayFrameCache::prefetch(int index, int direction)
{
    const int count = static_cast<int>(m_paths.size());
    if (index < 0 || index >= count)
        return;
    m_playhead = index;
    std::deque<Shared::Job> jobs;
    const auto want = [&](int i) {
        if (i >= 0 && i < count && !m_frames.contains(i) && !m_missing.contains(i) && !m_requested.contains(i))
            jobs.push_back({ m_generation, i, m_paths[static_cast<size_t>(i)] });
    };
    want(index);
    const int forward = direction < 0 ? -1 : 1;
    const int ahead = direction == 0 ? kAhead / 2 : kAhead;
    const int behind = direction == 0 ? kAhead / 2 : kBehind;
    for (int step = 1; step <= std::max(ahead, behind); ++step) {
        if (step <= ahead)
            want(index + forward * step);
        if (step <= behind)
            want(index - forward * step);
    }
    // What was asked before and not started is asked again if still wanted.
    for (const Shared::Job &job : jobs)
        m_requested.insert(job.index);
    std::lock_guard lock(m_shared->mutex);
    for (const Shared::Job &old : m_shared->wanted) {
        if (std::abs(old.index - index) > std::max(ahead, behind))
            m_requested.erase(old.index);
        else if (old.generation == m_generation
            && std::none_of(jobs.begin(), jobs.end(), [&](const Shared::Job &j) { return j.index == old.index; }))
            jobs.push_back(old);
    }
    m_shared->wanted = std::move(jobs);
    if (m_shared->draining || m_shared->wanted.empty())
        return;
    m_shared->draining = true;
    m_queue->async([shared = m_shared, loader = m_loader, self = this] {
        for (;;) {
            Shared::Job job;
            {
                std::lock_guard lock(shared->mutex);
                if (shared->wanted.empty()) {
                    shared->draining = false;
                    return;
                }
                job = std::move(shared->wanted.front());
                shared->wanted.pop_front();
            }
            QImage image = loader->load(job.path, QSize(thumbnail::kLongerSide, thumbnail::kLongerSide));
            postTo(self, [self, job, image = std::move(image)]() mutable {
                self->received(job.generation, job.index, std::move(image));
            });
        }
    });
}

void DayFrameCache::received(quint64 generation, int index, QImage image)
{
    if (generation != m_generation)
        return;
    m_requested.erase(index);
    if (image.isNull()) {
        m_missing.insert(index);
    } else {
        m_frames[index] = std::move(image);
        evictFarthestFrom(m_playhead);
    }
    emit frameReady(index);
}

void DayFrameCache::evictFarthestFrom(int index)
{
    while (static_cast<int>(m_frames.size()) > kCapacity) {
        auto farthest = m_frames.begin();
        for (auto it = m_frames.begin(); it != m_frames.end(); ++it) {
            if (std::abs(it->first - index) > std::abs(farthest->first - index))
                farthest = it;
        }
        m_frames.erase(farthest);
    }
}

} // namespace pellux
