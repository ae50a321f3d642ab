#pragma once

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>

#include <memory>
#include <optional>

namespace pellux::kwin {

// Reads the read end of a pipe on the thread's event loop while the writer fills it, so that a
// large image never blocks the GUI thread nor stalls the writer on a full pipe. Reading starts at
// construction; it ends at the announced byte count, at the end of the stream or at an error,
// and then `finished` is emitted once.
class PipeReader final : public QObject {
    Q_OBJECT
public:
    // Takes ownership of `fd`, which it makes non-blocking.
    explicit PipeReader(int fd, QObject *parent = nullptr);
    ~PipeReader() override;

    // The writer's total, once known: reading stops there.
    void expect(qsizetype byteCount);
    bool isFinished() const { return m_finished; }
    // errno of a failed read, 0 otherwise.
    int error() const { return m_error; }
    qsizetype size() const { return m_filled; }
    // The bytes read; the reader is empty afterwards.
    QByteArray takeBytes();

signals:
    void finished();

private:
    void readAvailable();
    void finish(int error);

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QByteArray m_bytes;
    qsizetype m_filled = 0;
    std::optional<qsizetype> m_expected;
    bool m_finished = false;
    int m_error = 0;
};

} // namespace pellux::kwin
