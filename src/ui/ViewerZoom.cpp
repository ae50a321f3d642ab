#include "ui/ViewerZoom.h"

#include <algorithm>
#include <cmath>

namespace pellux {

ViewerZoom::ViewerZoom(QObject *parent)
    : QObject(parent)
{
}

void ViewerZoom::set(double scale, QPointF offset)
{
    if (scale == m_scale && offset == m_offset)
        return;
    m_scale = scale;
    m_offset = offset;
    emit changed();
}

void ViewerZoom::pinchChanged(double magnification)
{
    if (!(magnification > 0) || !std::isfinite(magnification))
        return;
    const double delta = magnification / m_lastScaleValue;
    m_lastScaleValue = magnification;
    set(std::clamp(m_scale * delta, minimumScale, maximumScale), m_offset);
}

void ViewerZoom::pinchEnded()
{
    m_lastScaleValue = 1.0;
    if (m_scale < 1.0)
        set(1.0, QPointF()); // the last drag's end stays where it was
}

void ViewerZoom::dragChanged(QPointF translation) { set(m_scale, m_lastOffset + translation); }

void ViewerZoom::dragEnded() { m_lastOffset = m_offset; }

void ViewerZoom::doubleClicked()
{
    if (m_scale > 1.0) {
        m_lastOffset = QPointF();
        set(1.0, QPointF());
    } else {
        set(doubleClickScale, m_offset);
    }
}

void ViewerZoom::wheel(double angleDelta)
{
    if (angleDelta == 0 || !std::isfinite(angleDelta))
        return;
    const double factor = std::pow(wheelStep, angleDelta / 120.0);
    const double scale = std::clamp(m_scale * factor, 1.0, maximumScale);
    // Zoomed all the way out, the image is centred again, as after a double click.
    if (scale == 1.0 && m_scale > 1.0) {
        m_lastOffset = QPointF();
        set(scale, QPointF());
        return;
    }
    set(scale, m_offset);
}

double ViewerZoom::fittedScale(QSizeF image, QSizeF area)
{
    if (image.isEmpty() || area.isEmpty())
        return 1.0;
    return std::min({ 1.0, area.width() / image.width(), area.height() / image.height() });
}

void ViewerZoom::focusOn(QRectF rect, QSizeF shownSize)
{
    if (rect.isEmpty() || shownSize.isEmpty())
        return;
    double scale = m_scale;
    if (rect.height() * scale < kSmallMatchHeight)
        scale = std::min(maximumScale, kFocusedMatchHeight / rect.height());
    if (scale <= 1.0)
        return;
    // The image is scaled about its centre, then moved by the offset.
    const QPointF centre(shownSize.width() / 2, shownSize.height() / 2);
    const QPointF offset = -(rect.center() - centre) * scale;
    m_lastOffset = offset;
    set(scale, offset);
}

void ViewerZoom::reset()
{
    m_lastScaleValue = 1.0;
    m_lastOffset = QPointF();
    set(1.0, QPointF());
}

} // namespace pellux
