#pragma once

#include "persistence/Recording.h"
#include "persistence/RecordingText.h"
#include "persistence/TextMatches.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <qcorotask.h>

#include <functional>
#include <optional>
#include <vector>

namespace pellux {

class ScreenshotLoader;
class SearchModel;
class StorageManager;

// What the expanded screenshot viewer shows and does: the result it shows (the search window's
// selected card, so the grid's selection follows), its header, where the query occurs on it, and
// the actions on it (copy, open, show in folder, delete). QML only draws. Main thread.
class ScreenshotViewerModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the search window")
    Q_PROPERTY(int currentIndex READ currentIndex WRITE setCurrentIndex NOTIFY currentChanged)
    Q_PROPERTY(bool hasCurrent READ hasCurrent NOTIFY currentChanged)
    Q_PROPERTY(QString imageSource READ imageSource NOTIFY currentChanged)
    Q_PROPERTY(QString appName READ appName NOTIFY currentChanged)
    // Plain text: a title is data, never markup.
    Q_PROPERTY(QString windowTitle READ windowTitle NOTIFY currentChanged)
    Q_PROPERTY(QString captureTime READ captureTime NOTIFY currentChanged)
    Q_PROPERTY(bool hasPrevious READ hasPrevious NOTIFY currentChanged)
    Q_PROPERTY(bool hasNext READ hasNext NOTIFY currentChanged)
    // Every occurrence of the query: {x, y, width, height, match} in pixels of the frame, a box
    // per line an occurrence spans, `match` its number.
    Q_PROPERTY(QVariantList matchBoxes READ matchBoxes NOTIFY matchesChanged)
    Q_PROPERTY(int matchCount READ matchCount NOTIFY matchesChanged)
    // -1 when there are none.
    Q_PROPERTY(int currentMatch READ currentMatch NOTIFY currentMatchChanged)
    // "2 of 5"; empty without occurrences.
    Q_PROPERTY(QString matchPosition READ matchPosition NOTIFY currentMatchChanged)
    // The current occurrence's bounding box, empty without one.
    Q_PROPERTY(QRectF currentMatchRect READ currentMatchRect NOTIFY currentMatchChanged)
    // True once the text of the current screenshot is known (copying it is possible).
    Q_PROPERTY(bool textKnown READ textKnown NOTIFY matchesChanged)
    // What the last action did, for a moment's notice ("Text copied"), or why it failed.
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool deleting READ deleting NOTIFY deletingChanged)
    // While the viewer or a card's menu is shown: only then is the text of the current result
    // loaded (an old one may be recognised again for it).
    Q_PROPERTY(bool active READ active WRITE setActive NOTIFY activeChanged)

public:
    // Answers (on the main thread) the recording's text with its word boxes, absent when unknown.
    using TextSource
        = std::function<void(const Recording &, std::function<void(std::optional<RecordingText>)> completion)>;
    // Opens a URL with the desktop (QDesktopServices::openUrl by default); answers success.
    using UrlOpener = std::function<bool(const QUrl &)>;

    ScreenshotViewerModel(SearchModel &search, StorageManager &storage, ScreenshotLoader &loader, TextSource texts,
        QObject *parent = nullptr);
    ~ScreenshotViewerModel() override;

    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
    // Where frames that are no image file of their own are written to be opened (0700, removed
    // with the model).
    QString openedFramesFolder() const { return m_openedFolder; }

    int currentIndex() const;
    void setCurrentIndex(int index);
    bool hasCurrent() const { return current() != nullptr; }
    QString imageSource() const;
    QString appName() const;
    QString windowTitle() const;
    QString captureTime() const;
    bool hasPrevious() const;
    bool hasNext() const;
    QVariantList matchBoxes() const;
    int matchCount() const { return int(m_matches.size()); }
    int currentMatch() const { return m_currentMatch; }
    QString matchPosition() const;
    QRectF currentMatchRect() const;
    bool textKnown() const { return m_text.has_value(); }
    QString status() const { return m_status; }
    bool deleting() const { return m_deleting; }
    bool active() const { return m_active; }
    void setActive(bool active);
    const std::optional<RecordingText> &text() const { return m_text; }

    // The absolute capture time in the user's locale, with seconds.
    static QString formatCaptureTime(TimePoint timestamp);
    // "2 of 5" for the match at `index` of `count`; empty when there are none.
    static QString matchPositionText(int index, int count);
    // The confirmation of a deletion: what goes, named.
    static QString deletionQuestion(const Recording &recording);

    Q_INVOKABLE void showPrevious();
    Q_INVOKABLE void showNext();
    // Enter / F3 and Shift+Enter / Shift+F3: the next or previous occurrence, wrapping around.
    Q_INVOKABLE void nextMatch();
    Q_INVOKABLE void previousMatch();

    Q_INVOKABLE void copyText();
    // The text of the words inside `imageRect` (pixels of the frame).
    Q_INVOKABLE void copyRegion(const QRectF &imageRect);
    Q_INVOKABLE void copyImage();
    Q_INVOKABLE void open();
    Q_INVOKABLE void showInFolder();
    Q_INVOKABLE QString deletionQuestion() const;
    // Deletes the current screenshot (after the view's confirmation); the viewer moves to the
    // result that takes its place, or asks to close when none is left.
    Q_INVOKABLE void deleteCurrent();

    // The tasks behind the actions, for tests and benchmarks to await.
    QCoro::Task<bool> copyImageTask();
    QCoro::Task<bool> openTask();
    QCoro::Task<bool> deleteCurrentTask();

signals:
    void currentChanged();
    void matchesChanged();
    void currentMatchChanged();
    void statusChanged();
    void deletingChanged();
    void activeChanged();
    // The last result was deleted: nothing is left to show.
    void closeRequested();

private:
    const Recording *current() const;
    void loadText();
    void findMatchesOfQuery();
    void setCurrentMatch(int index);
    void setStatus(const QString &status);
    // The full-size frame of the recording, read off the main thread.
    QCoro::Task<QImage> readFrame(QString path);

    QPointer<SearchModel> m_search;
    StorageManager &m_storage;
    ScreenshotLoader &m_loader;
    TextSource m_texts;
    UrlOpener m_openUrl;
    QString m_openedFolder;
    QUuid m_textFor;
    bool m_textRequested = false;
    std::optional<RecordingText> m_text;
    std::vector<TextMatch> m_matches;
    int m_currentMatch = -1;
    QString m_status;
    bool m_deleting = false;
    bool m_active = false;
};

} // namespace pellux
