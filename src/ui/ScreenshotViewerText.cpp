// The viewer's side of the recognised text: where the query occurs, stepping through the
// occurrences, and copying the text.
#include "ui/ScreenshotViewerModel.h"

#include "ui/SearchModel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QVariantMap>

namespace pellux {

void ScreenshotViewerModel::loadText()
{
    const Recording *r = current();
    const QUuid id = r ? r->id : QUuid();
    if (id != m_textFor || !r) {
        m_text.reset();
        m_matches.clear();
        m_textFor = id;
        m_textRequested = false;
        emit matchesChanged();
        setCurrentMatch(-1);
    }
    if (m_text) {
        // The query changed: the same text, other occurrences.
        findMatchesOfQuery();
        return;
    }
    if (!r || !m_texts || !m_active || m_textRequested)
        return;
    m_textRequested = true;
    QPointer<ScreenshotViewerModel> self(this);
    m_texts(*r, [self, id](std::optional<RecordingText> text) {
        // A later screenshot may be shown by now.
        if (!self || self->m_textFor != id)
            return;
        self->m_text = std::move(text);
        self->findMatchesOfQuery();
    });
}

void ScreenshotViewerModel::findMatchesOfQuery()
{
    m_matches = m_text && m_search ? findMatches(*m_text, m_search->searchText().trimmed()) : std::vector<TextMatch>();
    m_currentMatch = m_matches.empty() ? -1 : 0;
    emit matchesChanged();
    emit currentMatchChanged();
}

void ScreenshotViewerModel::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    emit activeChanged();
    loadText();
}

QVariantList ScreenshotViewerModel::matchBoxes() const
{
    QVariantList boxes;
    for (size_t i = 0; i < m_matches.size(); ++i) {
        for (const QRect &box : m_matches[i].boxes) {
            boxes.append(QVariantMap { { QStringLiteral("x"), box.x() }, { QStringLiteral("y"), box.y() },
                { QStringLiteral("width"), box.width() }, { QStringLiteral("height"), box.height() },
                { QStringLiteral("match"), int(i) } });
        }
    }
    return boxes;
}

QString ScreenshotViewerModel::matchPosition() const { return matchPositionText(m_currentMatch, matchCount()); }

QRectF ScreenshotViewerModel::currentMatchRect() const
{
    if (m_currentMatch < 0 || size_t(m_currentMatch) >= m_matches.size())
        return {};
    QRect bounds;
    for (const QRect &box : m_matches[size_t(m_currentMatch)].boxes)
        bounds = bounds.united(box);
    return bounds;
}

void ScreenshotViewerModel::setCurrentMatch(int index)
{
    if (index == m_currentMatch)
        return;
    m_currentMatch = index;
    emit currentMatchChanged();
}

void ScreenshotViewerModel::nextMatch()
{
    if (!m_matches.empty())
        setCurrentMatch((m_currentMatch + 1) % matchCount());
}

void ScreenshotViewerModel::previousMatch()
{
    if (!m_matches.empty())
        setCurrentMatch((m_currentMatch - 1 + matchCount()) % matchCount());
}

void ScreenshotViewerModel::copyText()
{
    if (!m_text || m_text->text.isEmpty()) {
        setStatus(QStringLiteral("No text was recognised in this screenshot"));
        return;
    }
    QGuiApplication::clipboard()->setText(m_text->text);
    setStatus(QStringLiteral("Text copied"));
}

void ScreenshotViewerModel::copyRegion(const QRectF &imageRect)
{
    const QString text = m_text ? regionText(*m_text, imageRect.toAlignedRect()) : QString();
    if (text.isEmpty()) {
        setStatus(m_text && m_text->words.empty() ? QStringLiteral("Where the words are is not known yet")
                                                  : QStringLiteral("No text in the selected area"));
        return;
    }
    QGuiApplication::clipboard()->setText(text);
    setStatus(QStringLiteral("Text of the area copied"));
}

} // namespace pellux
