#pragma once

#include "capture/CaptureBackend.h"
#include "capture/DesktopEntryIndex.h"
#include "capture/wayland/KeptStreams.h"
#include "capture/wayland/gnome/ShellWindowList.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QHash>
#include <QSize>

#include <memory>

namespace pellux::wayland {

class WindowRecording;

// The uuid of Pellux's GNOME Shell extension (data/gnome-shell/).
inline constexpr char shellExtensionUuid[] = "windows@pellux.app";

// The capture backend of a GNOME session: the window list comes from Pellux's shell extension (the
// shell lets no other client see the windows), the pixels from Mutter's ScreenCast, which records a
// single window over PipeWire whatever covers it. Access counts as granted while the extension
// answers and Mutter offers ScreenCast; when the extension is installed but off, Pellux turns it on.
class MutterCaptureBackend final : public CaptureBackend {
public:
    struct Options {
        // Keep each window's recording open between captures: Mutter then sends a frame only when
        // the window changes, and a capture copies the newest one instead of starting a session.
        bool keepRecordings = true;
        // At most this many recordings are kept, the least recently captured closed first.
        int maxKeptRecordings = 16;
        // The frame rate asked of Mutter for kept recordings, which bounds what a window that keeps
        // changing costs the compositor.
        int maxFramesPerSecond = 2;
    };

    explicit MutterCaptureBackend(QDBusConnection bus, Options options);
    explicit MutterCaptureBackend(QDBusConnection bus = QDBusConnection::sessionBus())
        : MutterCaptureBackend(std::move(bus), Options {})
    {
    }
    ~MutterCaptureBackend() override;

    bool preflightScreenCaptureAccess() override;
    void requestScreenCaptureAccess() override;
    QCoro::Task<CaptureResult<QImage>> captureImage(
        const ContentFilter &filter, const StreamConfiguration &configuration) override;

    size_t keptRecordings() const { return size_t(m_recordings.size()); }

protected:
    QCoro::Task<CaptureResult<ShareableContent>> shareableContent(
        bool excludingDesktopWindows, bool onScreenWindowsOnly) override;

private:
    bool extensionAnswers() const;
    bool ensureExtensionEnabled();
    bool screenCastAvailable() const;
    void reportOnce(const QString &line);
    const DesktopEntryIndex &desktopEntries();
    QCoro::Task<CaptureResult<QImage>> captureShellWindow(quint64 shellId);

    QDBusConnection m_bus;
    Options m_options;
    WindowIdTable m_ids;
    // The size of each listed window's pixels, to crop Mutter's monitor-sized buffer to.
    QHash<quint64, QSize> m_bufferSizes;
    KeptStreams<quint64, WindowRecording> m_recordings;
    std::unique_ptr<DesktopEntryIndex> m_desktopEntries;
    QElapsedTimer m_desktopEntriesAge;
    QString m_lastReport;
};

} // namespace pellux::wayland
