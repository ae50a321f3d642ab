#pragma once

#include <QImage>

namespace pellux {

// One frame of a continuous screen stream: its pixels and its presentation time in seconds on the
// stream's own time line.
struct VideoFrame {
    QImage image;
    double presentationTime = 0;
};

// Receives the frames of a stream. `stream` is called on whatever thread the source delivers on.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void stream(const VideoFrame &frame) = 0;
};

// A continuous screen stream: once started, it hands every frame to its sink until stopped. The
// sink must outlive the running stream.
class FrameSource {
public:
    virtual ~FrameSource() = default;

    virtual void setSink(FrameSink *sink) = 0;
    virtual bool startCapture() = 0;
    virtual void stopCapture() = 0;
};

// A video file being written: a session starts at the first frame's presentation time, after which
// frames are appended while the writer can take them. Used from the main thread.
class VideoWriter {
public:
    enum class Status { unknown, writing, completed, failed, cancelled };

    virtual ~VideoWriter() = default;

    virtual Status status() const = 0;
    virtual void startSession(double sourceTime) = 0;
    virtual bool isReadyForMoreMediaData() const = 0;
    // False when the frame could not be written.
    virtual bool append(const VideoFrame &frame) = 0;
};

} // namespace pellux
