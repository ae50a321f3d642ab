#pragma once

#include "capture/FrameSource.h"
#include "support/FakeClock.h"

#include "support/TestFiles.h"

namespace pellux::test {

// A screen stream that delivers the frames the test hands it, each from a thread of its own, as a
// platform stream delivers from its queue.
class FakeFrameSource final : public FrameSource {
public:
    void setSink(FrameSink *sink) override { m_sink = sink; }
    bool startCapture() override
    {
        m_running = true;
        return true;
    }
    void stopCapture() override { m_running = false; }
    bool isRunning() const { return m_running; }

    // Delivers the frames in order on another thread and returns once the sink has taken them all.
    void deliver(const std::vector<VideoFrame> &frames)
    {
        if (!m_running || !m_sink)
            return;
        std::thread stream([this, &frames] {
            for (const VideoFrame &frame : frames)
                m_sink->stream(frame);
        });
        stream.join();
    }

private:
    FrameSink *m_sink = nullptr;
    std::atomic<bool> m_running { false };
};

// A video writer that records what it was asked to do. `appendCost` moves the clock on while a
// frame is appended, so that handling times are known.
class FakeVideoWriter final : public VideoWriter {
public:
    Status status() const override { return writerStatus; }
    void startSession(double sourceTime) override { sessionStarts.push_back(sourceTime); }
    bool isReadyForMoreMediaData() const override { return ready; }
    bool append(const VideoFrame &frame) override
    {
        appendedTimes.push_back(frame.presentationTime);
        appendThreads.push_back(QThread::currentThread());
        if (clock)
            clock->advance(appendCost);
        return true;
    }

    Status writerStatus = Status::writing;
    bool ready = true;
    FakeClock *clock = nullptr;
    double appendCost = 0;

    std::vector<double> sessionStarts;
    std::vector<double> appendedTimes;
    std::vector<QThread *> appendThreads;
};

} // namespace pellux::test
