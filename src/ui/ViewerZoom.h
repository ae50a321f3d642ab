#pragma once

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QtQml/qqmlregistration.h>

namespace pellux {

// Zoom and pan of the screenshot viewer. The view feeds it gestures and draws the image scaled by
// `scale` about its centre and moved by `offset`; every rule lives here.
class ViewerZoom : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(double scale READ scale NOTIFY changed)
    Q_PROPERTY(QPointF offset READ offset NOTIFY changed)

public:
    static constexpr double minimumScale = 0.5;
    static constexpr double maximumScale = 5.0;
    static constexpr double doubleClickScale = 2.0;
    // One wheel notch (120 eighths of a degree) zooms by this factor.
    static constexpr double wheelStep = 1.25;

    // An occurrence of the query shown smaller than this (pixels high on screen) is zoomed in on,
    // to kFocusedMatchHeight.
    static constexpr double kSmallMatchHeight = 12.0;
    static constexpr double kFocusedMatchHeight = 28.0;

    explicit ViewerZoom(QObject *parent = nullptr);

    // The scale of an image of `image` pixels shown in `area` before any zoom: fitted down to the
    // area, never enlarged beyond its own pixels (an enlarged screenshot goes soft).
    Q_INVOKABLE static double fittedScale(QSizeF image, QSizeF area);

    double scale() const { return m_scale; }
    QPointF offset() const { return m_offset; }

    // A pinch in progress, with its cumulative magnification since it began.
    Q_INVOKABLE void pinchChanged(double magnification);
    // The pinch ended: a zoom below 1 springs back to 1 and recentres.
    Q_INVOKABLE void pinchEnded();
    // A drag in progress with its translation since it began; the drag starts from where the last
    // one ended.
    Q_INVOKABLE void dragChanged(QPointF translation);
    Q_INVOKABLE void dragEnded();
    // Zoomed in: back to 1 and centred; otherwise to 2 keeping the offset.
    Q_INVOKABLE void doubleClicked();
    // A mouse wheel turned by `angleDelta` eighths of a degree (positive zooms in). A wheel has no
    // release, so it stays between 1 and the maximum.
    Q_INVOKABLE void wheel(double angleDelta);
    // Back to the state of a freshly opened viewer.
    Q_INVOKABLE void reset();
    // Brings `rect` (in the coordinates of the shown image, `shownSize` large before any zoom)
    // into view: zoomed in and centred when it would be too small to read, centred when the
    // viewer is zoomed in already; otherwise the whole image shows it and nothing moves.
    Q_INVOKABLE void focusOn(QRectF rect, QSizeF shownSize);

signals:
    void changed();

private:
    void set(double scale, QPointF offset);

    double m_scale = 1.0;
    QPointF m_offset;
    double m_lastScaleValue = 1.0;
    QPointF m_lastOffset;
};

} // namespace pellux
