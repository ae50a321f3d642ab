#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace pellux {

class DayTimelineModel;

// The ticks of a day's captures along the bar, drawn in one pass: a day can hold tens of
// thousands, far more than one item each. A pixel column shows its latest capture's colour.
class TimelineTicks : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(pellux::DayTimelineModel *model READ model WRITE setModel NOTIFY modelChanged)

public:
    explicit TimelineTicks(QQuickItem *parent = nullptr);
    DayTimelineModel *model() const { return m_model; }
    void setModel(DayTimelineModel *model);
    void paint(QPainter *painter) override;

signals:
    void modelChanged();

private:
    QPointer<DayTimelineModel> m_model;
};

// The frame under the playhead, fitted into the item: the model's thumbnail, uploaded only when
// it changes, so each step of a drag costs one texture at most.
class TimelineFrame : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(pellux::DayTimelineModel *model READ model WRITE setModel NOTIFY modelChanged)
    // Whether a picture is shown.
    Q_PROPERTY(bool hasFrame READ hasFrame NOTIFY hasFrameChanged)

public:
    explicit TimelineFrame(QQuickItem *parent = nullptr);
    DayTimelineModel *model() const { return m_model; }
    void setModel(DayTimelineModel *model);
    bool hasFrame() const { return m_hasFrame; }

signals:
    void modelChanged();
    void hasFrameChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;

private:
    QPointer<DayTimelineModel> m_model;
    qint64 m_uploadedKey = 0;
    bool m_hasFrame = false;
};

} // namespace pellux
