#pragma once

#include <QAbstractListModel>
#include <QColor>
#include <QString>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

#include <deque>
#include <vector>

namespace pellux {

struct DebugOCRResult;

// The rows of the debug window's recognised-text list: the results a search shows, newest first,
// with their texts ready to draw. Results arriving at the top are inserted, so a scrolled list
// stays where it is. Main thread.
class DebugOCRResultModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by the debug window")

public:
    enum Roles {
        TimeTextRole = Qt::UserRole + 1,
        TextRole,
        ConfidenceTextRole,
        ConfidenceColorRole,
        // Empty when the result has no position.
        BoundsTextRole,
    };

    struct Row {
        QUuid id;
        QString timeText;
        QString text;
        QString confidenceText;
        QColor confidenceColor;
        QString boundsText;
    };

    using QAbstractListModel::QAbstractListModel;

    // Shows the results that contain `search` (all for an empty one).
    void update(const std::deque<DebugOCRResult> &results, const QString &search);
    const std::vector<Row> &rows() const { return m_rows; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    std::vector<Row> m_rows;
};

} // namespace pellux
