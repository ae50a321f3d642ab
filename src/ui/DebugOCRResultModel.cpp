#include "ui/DebugOCRResultModel.h"

#include "diagnostics/DebugManager.h"
#include "ui/DebugFormatting.h"

#include <algorithm>

namespace pellux {

namespace {

DebugOCRResultModel::Row makeRow(const DebugOCRResult &result)
{
    return DebugOCRResultModel::Row {
        result.id,
        debugTimeText(result.time()),
        result.text,
        confidenceText(result.confidence),
        confidenceColor(result.confidence),
        result.bounds ? boundsText(*result.bounds) : QString(),
    };
}

} // namespace

void DebugOCRResultModel::update(const std::deque<DebugOCRResult> &results, const QString &search)
{
    std::vector<Row> next;
    for (const DebugOCRResult *result : filterOCRResults(results, search))
        next.push_back(makeRow(*result));

    // The usual change: new results in front, the oldest dropped behind. Anything else resets.
    const auto firstKept = m_rows.empty()
        ? next.end()
        : std::find_if(next.begin(), next.end(), [&](const Row &row) { return row.id == m_rows.front().id; });
    const auto added = firstKept - next.begin();
    const auto kept = next.end() - firstKept;
    const bool prefixOnly = firstKept != next.end() && kept <= qsizetype(m_rows.size())
        && std::equal(firstKept, next.end(), m_rows.begin(), [](const Row &a, const Row &b) { return a.id == b.id; });
    if (!prefixOnly) {
        beginResetModel();
        m_rows = std::move(next);
        endResetModel();
        return;
    }
    if (qsizetype(m_rows.size()) > kept) {
        beginRemoveRows({}, int(kept), int(m_rows.size()) - 1);
        m_rows.resize(size_t(kept));
        endRemoveRows();
    }
    if (added > 0) {
        beginInsertRows({}, 0, int(added) - 1);
        m_rows.insert(m_rows.begin(), std::make_move_iterator(next.begin()), std::make_move_iterator(firstKept));
        endInsertRows();
    }
}

int DebugOCRResultModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

QVariant DebugOCRResultModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows[size_t(index.row())];
    switch (role) {
    case TimeTextRole:
        return row.timeText;
    case Qt::DisplayRole:
    case TextRole:
        return row.text;
    case ConfidenceTextRole:
        return row.confidenceText;
    case ConfidenceColorRole:
        return row.confidenceColor;
    case BoundsTextRole:
        return row.boundsText;
    default:
        return {};
    }
}

QHash<int, QByteArray> DebugOCRResultModel::roleNames() const
{
    return {
        { TimeTextRole, "timeText" },
        { TextRole, "text" },
        { ConfidenceTextRole, "confidenceText" },
        { ConfidenceColorRole, "confidenceColor" },
        { BoundsTextRole, "boundsText" },
    };
}

} // namespace pellux
