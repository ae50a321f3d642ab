#pragma once

#include "persistence/RecordingPage.h"
#include "persistence/Timeline.h"
#include "runtime/Clock.h"
#include "ui/DayFrameCache.h"

#include <QAbstractListModel>
#include <QColor>
#include <QDate>
#include <QImage>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <map>

namespace pellux {

class SimpleDatabaseManager;

// One day of captures for the timeline bar: each capture's place along the day and its
// application's colour, the capture under the playhead and its thumbnail, and the keys that move
// the playhead. The captures come from the database queue; the thumbnails from DayFrameCache.
// Main thread.
class DayTimelineModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the search window")
    Q_PROPERTY(QDate day READ day NOTIFY dayChanged)
    Q_PROPERTY(QString dayTitle READ dayTitle NOTIFY dayChanged)
    // {hour, fraction, label} for each wall-clock hour 0-24 the day has.
    Q_PROPERTY(QVariantList hourMarks READ hourMarks NOTIFY dayChanged)
    Q_PROPERTY(int count READ count NOTIFY capturesChanged)
    // {name, color, count} per application of the day, most captures first.
    Q_PROPERTY(QVariantList legend READ legend NOTIFY capturesChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    // Why the day could not be read; empty when it was.
    Q_PROPERTY(QString failure READ failure NOTIFY capturesChanged)
    // The capture under the playhead, -1 on an empty day.
    Q_PROPERTY(int currentIndex READ currentIndex WRITE setCurrentIndex NOTIFY currentChanged)
    Q_PROPERTY(double currentFraction READ currentFraction NOTIFY currentChanged)
    Q_PROPERTY(QString currentTime READ currentTime NOTIFY currentChanged)
    // Plain text: an application name is data, never markup.
    Q_PROPERTY(QString currentApp READ currentApp NOTIFY currentChanged)
    Q_PROPERTY(QColor currentColor READ currentColor NOTIFY currentChanged)
    // image://recording/ for the full frame, once a drag is over.
    Q_PROPERTY(QString currentFrameUrl READ currentFrameUrl NOTIFY currentChanged)
    // While true only thumbnails are shown.
    Q_PROPERTY(bool scrubbing READ scrubbing WRITE setScrubbing NOTIFY scrubbingChanged)
    // Whether the capture under the playhead has a thumbnail shown now (not a neighbour's).
    Q_PROPERTY(bool frameExact READ frameExact NOTIFY frameChanged)

public:
    // One capture as the bar places it.
    struct Capture {
        TimePoint timestamp;
        QUuid id;
        std::optional<QString> appName;
        QString filePath;
    };
    // More captures than a day can hold at any capture rate; a day beyond it shows its latest.
    static constexpr int kMaxCaptures = 200'000;

    enum Roles { FractionRole = Qt::UserRole + 1, ColorRole, AppNameRole, TimeRole };

    // `loader` reads the frames that keep no thumbnail (one of the model's own when none is given).
    explicit DayTimelineModel(SimpleDatabaseManager &database, const Clock &clock = Clock::system(),
        std::shared_ptr<ScreenshotLoader> loader = nullptr, QObject *parent = nullptr);
    ~DayTimelineModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    QDate day() const { return m_day; }
    QString dayTitle() const;
    QVariantList hourMarks() const;
    int count() const { return static_cast<int>(m_captures.size()); }
    QVariantList legend() const;
    bool loading() const { return m_loading; }
    QString failure() const { return m_failure; }
    int currentIndex() const { return m_current; }
    void setCurrentIndex(int index);
    double currentFraction() const;
    QString currentTime() const;
    QString currentApp() const;
    QString currentFrameUrl() const;
    QColor currentColor() const;
    bool scrubbing() const { return m_scrubbing; }
    void setScrubbing(bool on);
    bool frameExact() const { return m_frameExact; }

    const std::vector<Capture> &captures() const { return m_captures; }
    // The picture for the playhead: its capture's thumbnail, else the last one shown, so a fast
    // drag never blanks the view.
    QImage currentFrame() const { return m_shown; }
    DayFrameCache &frames() { return m_frames; }
    // The application's colour on this day's bar.
    QColor colorOf(const std::optional<QString> &appName) const;

    // Reads the day's captures (today when `day` is invalid); the playhead goes to the last one.
    Q_INVOKABLE void showDay(QDate day);
    Q_INVOKABLE void showToday() { showDay(QDate()); }
    // Screenshots were saved: a day shown that is today gains those after its last capture, the
    // playhead staying where it is.
    void showNewCaptures();
    // The local date changed: a day shown as today moves on to the new day.
    void followToday();
    // Left/Right, Page Up/Down, Home/End; true when the key moves the playhead.
    Q_INVOKABLE bool handleKey(int key);
    // The capture nearest a place on the bar, 0 to 1; -1 on an empty day.
    Q_INVOKABLE int indexAt(double fraction) const;
    // A drag or click at a place on the bar.
    Q_INVOKABLE void scrubTo(double fraction);
    // "14:05:32 · Terminal", for the bar's tooltip.
    Q_INVOKABLE QString describe(int index) const;
    // Enter: asks the window to open the capture under the playhead in the viewer.
    Q_INVOKABLE void openCurrent();

signals:
    void dayChanged();
    void capturesChanged();
    void loadingChanged();
    void currentChanged();
    void scrubbingChanged();
    void frameChanged();
    // The day's captures are shown (or its failure).
    void dayShown();
    void openRequested(const QString &recordingId, const QString &filePath);

private:
    void setCaptures(QDate day, RecordingPage page);
    void appendCaptures(RecordingPage page, TimePoint since);
    void updateFrame();

    SimpleDatabaseManager &m_database;
    const Clock &m_clock;
    DayFrameCache m_frames;
    QDate m_day;
    // The day was asked for as today.
    bool m_showsToday = false;
    std::vector<Capture> m_captures;
    std::vector<TimePoint> m_times;
    std::map<QString, QColor> m_colors;
    QString m_failure;
    bool m_loading = false;
    bool m_scrubbing = false;
    bool m_frameExact = false;
    int m_current = -1;
    int m_direction = 0;
    QImage m_shown;
    quint64 m_generation = 0;
};

} // namespace pellux
