#include "capture/wayland/kde/PipeReader.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pellux::kwin {

namespace {

// Growth step while the total is unknown.
constexpr qsizetype chunk_bytes = 1 << 20;

} // namespace

PipeReader::PipeReader(int fd, QObject *parent)
    : QObject(parent)
    , m_fd(fd)
{
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags == -1 || ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK) == -1) {
        finish(errno);
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PipeReader::readAvailable);
}

PipeReader::~PipeReader()
{
    m_notifier.reset();
    if (m_fd != -1)
        ::close(m_fd);
}

void PipeReader::expect(qsizetype byteCount)
{
    m_expected = byteCount;
    if (m_bytes.size() < byteCount)
        m_bytes.resize(byteCount);
    if (!m_finished && m_filled >= byteCount)
        finish(0);
}

QByteArray PipeReader::takeBytes()
{
    QByteArray bytes = std::move(m_bytes);
    bytes.truncate(m_filled);
    m_bytes = QByteArray();
    m_filled = 0;
    return bytes;
}

void PipeReader::readAvailable()
{
    while (!m_finished) {
        if (m_expected && m_filled >= *m_expected) {
            finish(0);
            return;
        }
        qsizetype room = m_bytes.size() - m_filled;
        if (room == 0) {
            m_bytes.resize(m_bytes.size() + chunk_bytes);
            room = chunk_bytes;
        }
        const ssize_t count = ::read(m_fd, m_bytes.data() + m_filled, size_t(room));
        if (count > 0) {
            m_filled += count;
            continue;
        }
        if (count == 0) {
            finish(0); // the writer closed its end
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            finish(errno);
        return;
    }
}

void PipeReader::finish(int error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_error = error;
    if (m_notifier)
        m_notifier->setEnabled(false);
    emit finished();
}

} // namespace pellux::kwin
