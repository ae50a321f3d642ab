#pragma once

#include "capture/CaptureBackend.h"
#include "capture/wayland/WaylandConnection.h"

#include <QRect>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

struct zwlr_screencopy_manager_v1;
struct ext_image_copy_capture_manager_v1;
struct ext_foreign_toplevel_image_capture_source_manager_v1;
struct ext_foreign_toplevel_list_v1;
struct ext_foreign_toplevel_handle_v1;
struct zwlr_foreign_toplevel_manager_v1;

namespace pellux::wayland {

// Pixels from a wlroots compositor on a Wayland connection of Pellux's own, into shared-memory
// buffers (memfd, never a file): a region of an output through wlr-screencopy (what is on screen
// there, so only a shown window can be captured), or one window on its own through
// ext-image-copy-capture where the compositor offers it for toplevels (checked at run time).
// On request it also follows wlr-foreign-toplevel, the window list of compositors without sway's IPC.
class WlrootsScreenCapture final {
public:
    enum class ToplevelList { notNeeded, follow };
    // Connects to the named display ($WAYLAND_DISPLAY when empty); null with `error` set when it
    // cannot be reached or offers neither way of copying pixels.
    static std::unique_ptr<WlrootsScreenCapture> open(
        const QString &displayName, ToplevelList toplevelList, QString &error);
    ~WlrootsScreenCapture();

    bool isAlive() const { return m_connection->isAlive(); }
    bool canCaptureOutputs() const { return m_screencopy != nullptr; }
    bool canCaptureToplevels() const;
    bool hasOutput(const QString &name) const;

    // An output as wl_output describes it: its place in the compositor's space in logical pixels
    // and its transform (a wl_output_transform value).
    struct OutputGeometry {
        QString name;
        QRect rect;
        int transform = 0;
    };
    std::optional<OutputGeometry> outputGeometry(const QString &name) const;

    // A window as wlr-foreign-toplevel describes it (no geometry, no process). `serial` stays the
    // same while the window exists.
    struct ForeignToplevel {
        quint64 serial = 0;
        QString title;
        QString appId;
        bool activated = false;
        bool maximized = false;
        bool fullscreen = false;
        QString outputName;
    };
    bool canListToplevels() const { return m_wlrToplevels != nullptr; }
    std::vector<ForeignToplevel> foreignToplevels() const;

    // The region (logical coordinates relative to the top left corner of the output, whose logical
    // size is `outputSize`) of the named output, at the output's scale and upright
    // (`outputTransform`, a wl_output_transform value, undone). On a transformed output the whole
    // output is copied and cropped here: wlroots 0.15 misplaces a region of a turned output.
    QCoro::Task<CaptureResult<QImage>> captureOutputRegion(
        QString outputName, QRect region, QSize outputSize, int outputTransform, int timeout_ms);

    // One window on its own, found by its ext-foreign-toplevel-list identifier or, without one, as
    // the only toplevel with this app id and title.
    QCoro::Task<CaptureResult<QImage>> captureToplevel(
        QString identifier, QString appId, QString title, int timeout_ms);

    struct OutputEntry;
    struct ToplevelEntry;
    struct WlrToplevelEntry;

private:
    explicit WlrootsScreenCapture(std::unique_ptr<WaylandConnection> connection);
    void followToplevels();
    ext_foreign_toplevel_handle_v1 *findToplevel(
        const QString &identifier, const QString &appId, const QString &title) const;

    std::unique_ptr<WaylandConnection> m_connection;
    wl_shm *m_shm = nullptr;
    zwlr_screencopy_manager_v1 *m_screencopy = nullptr;
    uint32_t m_screencopyVersion = 0;
    ext_image_copy_capture_manager_v1 *m_imageCopy = nullptr;
    ext_foreign_toplevel_image_capture_source_manager_v1 *m_toplevelSources = nullptr;
    ext_foreign_toplevel_list_v1 *m_toplevelList = nullptr;
    std::vector<std::unique_ptr<OutputEntry>> m_outputs;
    std::vector<std::unique_ptr<ToplevelEntry>> m_toplevels;
    zwlr_foreign_toplevel_manager_v1 *m_wlrToplevels = nullptr;
    std::vector<std::unique_ptr<WlrToplevelEntry>> m_wlrToplevelEntries;
    quint64 m_nextToplevelSerial = 1;
};

} // namespace pellux::wayland
