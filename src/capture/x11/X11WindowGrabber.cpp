#include "capture/x11/X11WindowGrabber.h"

#include "runtime/Log.h"

#include <xcb/composite.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>

namespace pellux::x11 {

namespace {

// X pixels at 24 or 32 bits depth, stored as 32-bit little-endian words, are BGRX in memory, which
// is Format_RGB32 once the unused byte is set to 0xff.
void copyPixels(const uint8_t *source, int width, int height, QImage &image)
{
    const size_t rowBytes = size_t(width) * 4;
    for (int y = 0; y < height; ++y) {
        const auto *in = reinterpret_cast<const uint32_t *>(source + rowBytes * size_t(y));
        auto *out = reinterpret_cast<uint32_t *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            out[x] = in[x] | 0xff000000u;
    }
}

bool hasExtension(xcb_connection_t *c, xcb_extension_t *extension)
{
    const xcb_query_extension_reply_t *data = xcb_get_extension_data(c, extension);
    return data && data->present;
}

QString hex(xcb_window_t window) { return QStringLiteral("0x%1").arg(window, 0, 16); }

} // namespace

X11WindowGrabber::X11WindowGrabber(xcb::Connection &connection, SharedMemory sharedMemory)
    : m_connection(connection)
{
    xcb_connection_t *c = m_connection.get();
    if (hasExtension(c, &xcb_composite_id)) {
        xcb::ReplyPtr<xcb_composite_query_version_reply_t> version(xcb_composite_query_version_reply(
            c, xcb_composite_query_version(c, XCB_COMPOSITE_MAJOR_VERSION, XCB_COMPOSITE_MINOR_VERSION), nullptr));
        // NameWindowPixmap needs Composite 0.2.
        if (version && (version->major_version > 0 || version->minor_version >= 2)) {
            xcb::ErrorPtr error(xcb_request_check(c,
                xcb_composite_redirect_subwindows_checked(c, m_connection.root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
            m_composite = !error;
        }
    }
    if (!m_composite)
        log::failure(QStringLiteral("ERROR X11WindowGrabber: the X server offers no XComposite; covered parts of "
                                    "windows will not be captured correctly"));
    m_shmAllowed = sharedMemory == SharedMemory::useWhenAvailable && hasExtension(c, &xcb_shm_id);
}

X11WindowGrabber::~X11WindowGrabber() { releaseSegment(); }

CaptureError X11WindowGrabber::failure(const QString &text) const
{
    return CaptureError { QString::fromLatin1(captureFailureDomain), text };
}

void X11WindowGrabber::releaseSegment()
{
    if (m_segment && !m_connection.hasError())
        xcb_shm_detach(m_connection.get(), m_segment);
    if (m_segmentAddress)
        shmdt(m_segmentAddress);
    m_segment = 0;
    m_segmentAddress = nullptr;
    m_segmentSize = 0;
}

bool X11WindowGrabber::ensureSegment(size_t bytes)
{
    if (m_segmentAddress && m_segmentSize >= bytes)
        return true;
    releaseSegment();
    // Grow in 4 MiB steps so that windows of similar sizes share one segment.
    const size_t step = size_t(4) << 20;
    const size_t size = (bytes + step - 1) / step * step;
    // Screen contents are private: the segment is readable by this user only, and removed as soon
    // as the server has attached it.
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0)
        return false;
    void *address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void *>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(m_connection.get());
    xcb::ErrorPtr error(
        xcb_request_check(m_connection.get(), xcb_shm_attach_checked(m_connection.get(), segment, uint32_t(id), 0)));
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        shmdt(address);
        // A server on another machine cannot attach our memory; the socket path still works.
        log::debug(QStringLiteral("DEBUG X11WindowGrabber: MIT-SHM attach refused, reading pixels over the socket"));
        m_shmAllowed = false;
        return false;
    }
    m_segment = segment;
    m_segmentAddress = address;
    m_segmentSize = size;
    return true;
}

xcb_window_t X11WindowGrabber::topLevelOf(xcb_window_t window)
{
    xcb_connection_t *c = m_connection.get();
    xcb_window_t current = window;
    for (int depth = 0; depth < 64; ++depth) {
        xcb::ReplyPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, current), nullptr));
        if (!tree)
            return XCB_WINDOW_NONE;
        if (tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE)
            return current;
        current = tree->parent;
    }
    return XCB_WINDOW_NONE;
}

CaptureResult<QImage> X11WindowGrabber::grab(xcb_window_t window)
{
    xcb_connection_t *c = m_connection.get();
    if (m_connection.hasError())
        return failure(QStringLiteral("The connection to the X server is lost"));

    const xcb_window_t top = topLevelOf(window);
    xcb::ReplyPtr<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    xcb::ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    if (m_connection.hasError())
        return failure(QStringLiteral("The connection to the X server is lost"));
    if (top == XCB_WINDOW_NONE || !geometry || !attributes)
        return failure(QStringLiteral("The window %1 no longer exists").arg(hex(window)));
    if (attributes->map_state != XCB_MAP_STATE_VIEWABLE)
        return failure(QStringLiteral("The window %1 is not shown").arg(hex(window)));
    if (geometry->width == 0 || geometry->height == 0)
        return failure(QStringLiteral("The window %1 is empty").arg(hex(window)));

    if (!m_composite)
        return read({ window, 0, 0, geometry->width, geometry->height, geometry->depth });

    xcb::ReplyPtr<xcb_get_geometry_reply_t> topGeometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, top), nullptr));
    xcb::ReplyPtr<xcb_translate_coordinates_reply_t> offset(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, top, 0, 0), nullptr));
    if (!topGeometry || !offset)
        return failure(QStringLiteral("The window %1 no longer exists").arg(hex(window)));

    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb::ErrorPtr error(xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, top, pixmap)));
    if (error)
        return failure(QStringLiteral("The window %1 closed or was hidden while being captured").arg(hex(window)));
    // The pixmap includes the top-level window's border; the client sits inside it.
    const int border = topGeometry->border_width;
    CaptureResult<QImage> image = read({ pixmap, offset->dst_x + border, offset->dst_y + border, geometry->width,
        geometry->height, topGeometry->depth });
    xcb_free_pixmap(c, pixmap);
    xcb_flush(c);
    return image;
}

CaptureResult<QImage> X11WindowGrabber::read(const Region &region)
{
    const xcb_setup_t *setup = xcb_get_setup(m_connection.get());
    bool supported = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST && (region.depth == 24 || region.depth == 32);
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); supported && it.rem; xcb_format_next(&it))
        if (it.data->depth == region.depth)
            supported = it.data->bits_per_pixel == 32;
    if (!supported)
        return failure(QStringLiteral("Windows of depth %1 cannot be captured").arg(region.depth));
    if (m_shmAllowed && ensureSegment(size_t(region.width) * size_t(region.height) * 4))
        return readShared(region);
    return readPlain(region);
}

CaptureResult<QImage> X11WindowGrabber::readFailure() const
{
    return failure(m_connection.hasError() ? QStringLiteral("The connection to the X server is lost")
                                           : QStringLiteral("The window closed while being captured"));
}

CaptureResult<QImage> X11WindowGrabber::toImage(const uint8_t *pixels, const Region &region) const
{
    QImage image(region.width, region.height, QImage::Format_RGB32);
    if (image.isNull())
        return failure(QStringLiteral("Out of memory for a %1x%2 image").arg(region.width).arg(region.height));
    copyPixels(pixels, region.width, region.height, image);
    return image;
}

CaptureResult<QImage> X11WindowGrabber::readShared(const Region &region)
{
    xcb_connection_t *c = m_connection.get();
    const auto cookie = xcb_shm_get_image(c, region.drawable, int16_t(region.x), int16_t(region.y),
        uint16_t(region.width), uint16_t(region.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, m_segment, 0);
    xcb_generic_error_t *rawError = nullptr;
    xcb::ReplyPtr<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(c, cookie, &rawError));
    xcb::ErrorPtr error(rawError);
    if (!reply || error)
        return readFailure();
    return toImage(static_cast<const uint8_t *>(m_segmentAddress), region);
}

CaptureResult<QImage> X11WindowGrabber::readPlain(const Region &region)
{
    xcb_connection_t *c = m_connection.get();
    const auto cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, region.drawable, int16_t(region.x),
        int16_t(region.y), uint16_t(region.width), uint16_t(region.height), ~0u);
    xcb_generic_error_t *rawError = nullptr;
    xcb::ReplyPtr<xcb_get_image_reply_t> reply(xcb_get_image_reply(c, cookie, &rawError));
    xcb::ErrorPtr error(rawError);
    if (!reply || error)
        return readFailure();
    const size_t expected = size_t(region.width) * size_t(region.height) * 4;
    if (size_t(xcb_get_image_data_length(reply.get())) < expected)
        return failure(QStringLiteral("The X server sent a short image"));
    return toImage(xcb_get_image_data(reply.get()), region);
}

} // namespace pellux::x11
