#include "ui/TimelineItems.h"

#include "ui/DayTimeline.h"
#include "ui/DayTimelineModel.h"

#include <QPainter>
#include <QQuickWindow>
#include <QSGImageNode>

#include <algorithm>
#include <cmath>

namespace pellux {

TimelineTicks::TimelineTicks(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
}

void TimelineTicks::setModel(DayTimelineModel *model)
{
    if (model == m_model)
        return;
    if (m_model)
        m_model->disconnect(this);
    m_model = model;
    if (m_model)
        connect(m_model, &DayTimelineModel::capturesChanged, this, [this] { update(); });
    update();
    emit modelChanged();
}

void TimelineTicks::paint(QPainter *painter)
{
    if (!m_model || m_model->count() == 0 || width() < 1)
        return;
    const int columns = static_cast<int>(std::ceil(width()));
    // Each column's latest capture; captures are in time order, so later ones overwrite.
    std::vector<QRgb> column(static_cast<size_t>(columns), 0);
    const QDate day = m_model->day();
    for (const DayTimelineModel::Capture &capture : m_model->captures()) {
        const int x = std::clamp(
            static_cast<int>(timeline::dayFraction(day, capture.timestamp) * (width() - 2)), 0, columns - 1);
        column[static_cast<size_t>(x)] = m_model->colorOf(capture.appName).rgb();
    }
    const qreal h = height();
    for (int x = 0; x < columns; ++x) {
        if (const QRgb c = column[static_cast<size_t>(x)])
            painter->fillRect(QRectF(x, 0, 2, h), QColor::fromRgb(c));
    }
}

TimelineFrame::TimelineFrame(QQuickItem *parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents, true);
}

void TimelineFrame::setModel(DayTimelineModel *model)
{
    if (model == m_model)
        return;
    if (m_model)
        m_model->disconnect(this);
    m_model = model;
    if (m_model)
        connect(m_model, &DayTimelineModel::frameChanged, this, [this] { update(); });
    update();
    emit modelChanged();
}

QSGNode *TimelineFrame::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    const QImage image = m_model ? m_model->currentFrame() : QImage();
    const bool has = !image.isNull() && width() > 0 && height() > 0;
    if (has != m_hasFrame) {
        m_hasFrame = has;
        QMetaObject::invokeMethod(this, &TimelineFrame::hasFrameChanged, Qt::QueuedConnection);
    }
    if (!has) {
        delete old;
        m_uploadedKey = 0;
        return nullptr;
    }
    auto *node = static_cast<QSGImageNode *>(old);
    if (!node) {
        node = window()->createImageNode();
        node->setOwnsTexture(true);
        m_uploadedKey = 0;
    }
    // While dragging, the cheaper nearest-pixel scaling keeps each step within a display frame.
    node->setFiltering(smooth() ? QSGTexture::Linear : QSGTexture::Nearest);
    if (image.cacheKey() != m_uploadedKey) {
        node->setTexture(window()->createTextureFromImage(image));
        m_uploadedKey = image.cacheKey();
    }
    const QSizeF fitted = QSizeF(image.size()).scaled(size(), Qt::KeepAspectRatio);
    node->setRect(QRectF(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted));
    return node;
}

} // namespace pellux
