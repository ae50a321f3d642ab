#pragma once

#include "ui/DebugOCRResultModel.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <memory>

namespace pellux {

class DebugCaptureImage;
class DebugManager;
class MainViewModel;
class ScreenshotService;
class SimpleDatabaseManager;

// What the debug window shows of the debug manager, as ready texts and colours, and its actions:
// the one-off test capture (one at a time) and the database dump. Main thread.
class DebugViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by the debug window")
    Q_PROPERTY(bool canCaptureTest READ canCaptureTest NOTIFY captureStateChanged)
    // Why a test capture cannot be taken now (no permission, screenshots paused); empty when it can.
    Q_PROPERTY(QString testCaptureUnavailableReason READ testCaptureUnavailableReason NOTIFY captureStateChanged)
    Q_PROPERTY(bool isCapturingTest READ isCapturingTest NOTIFY isCapturingTestChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(pellux::DebugOCRResultModel *ocrResults READ ocrResults CONSTANT)
    Q_PROPERTY(bool hasCapture READ hasCapture NOTIFY captureChanged)
    Q_PROPERTY(QString captureImageSource READ captureImageSource NOTIFY captureChanged)
    Q_PROPERTY(QString captureTimeText READ captureTimeText NOTIFY captureChanged)
    Q_PROPERTY(QString captureSizeText READ captureSizeText NOTIFY captureChanged)
    Q_PROPERTY(int captureWidth READ captureWidth NOTIFY captureChanged)
    Q_PROPERTY(int captureHeight READ captureHeight NOTIFY captureChanged)
    Q_PROPERTY(QString framesPerSecondText READ framesPerSecondText NOTIFY framesPerSecondChanged)
    Q_PROPERTY(double cpuUsage READ cpuUsage NOTIFY cpuUsageChanged)
    Q_PROPERTY(QString cpuUsageText READ cpuUsageText NOTIFY cpuUsageChanged)
    Q_PROPERTY(QColor cpuUsageColor READ cpuUsageColor NOTIFY cpuUsageChanged)
    Q_PROPERTY(QString memoryText READ memoryText NOTIFY memoryUsageChanged)
    Q_PROPERTY(QString avgProcessingTimeText READ avgProcessingTimeText NOTIFY avgProcessingTimeChanged)
    Q_PROPERTY(QString textBacklogText READ textBacklogText NOTIFY textBacklogChanged)
    Q_PROPERTY(bool hasErrors READ hasErrors NOTIFY errorCountChanged)

public:
    // Without a capture service the test capture is unavailable; without a database the dump is.
    DebugViewModel(
        DebugManager &debug, ScreenshotService *service, SimpleDatabaseManager *database, QObject *parent = nullptr);
    ~DebugViewModel() override;

    // Where the test capture learns whether the screen can be read and capture is paused.
    void setCaptureState(MainViewModel *viewModel);
    bool canCaptureTest() const { return m_service != nullptr && testCaptureUnavailableReason().isEmpty(); }
    QString testCaptureUnavailableReason() const;
    bool isCapturingTest() const { return m_isCapturingTest; }
    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    DebugOCRResultModel *ocrResults() { return &m_ocrResults; }

    bool hasCapture() const;
    // image://debugcapture/<id>, empty without a capture or without an image.
    QString captureImageSource() const;
    QString captureTimeText() const;
    QString captureSizeText() const;
    int captureWidth() const;
    int captureHeight() const;
    // Empty while the manager has no frame rate.
    QString framesPerSecondText() const;
    double cpuUsage() const;
    QString cpuUsageText() const;
    QColor cpuUsageColor() const;
    QString memoryText() const;
    QString avgProcessingTimeText() const;
    // The frames waiting for their text, in memory and on disk, and why they wait on battery.
    QString textBacklogText() const;
    static QString textBacklogText(int inMemory, int onDisk, bool deferred);
    bool hasErrors() const;

    // The frame the image provider serves.
    std::shared_ptr<const DebugCaptureImage> captureImage() const { return m_captureImage; }

    // One capture cycle over all windows, its frames shown in debug mode or not; ignored while one
    // is running or when it cannot be taken.
    Q_INVOKABLE void captureTestScreenshot();
    // Prints the latest stored texts to the log (on the database's queue).
    Q_INVOKABLE void debugPrintDatabase();

signals:
    void isCapturingTestChanged();
    void captureStateChanged();
    void searchTextChanged();
    void captureChanged();
    void framesPerSecondChanged();
    void cpuUsageChanged();
    void memoryUsageChanged();
    void avgProcessingTimeChanged();
    void errorCountChanged();
    void textBacklogChanged();
    // A test capture finished (also emitted when it could not capture any window).
    void testCaptureFinished();

private:
    void captureUpdated();
    void resultsUpdated();
    void setCapturingTest(bool on);

    DebugManager &m_debug;
    ScreenshotService *m_service;
    QPointer<MainViewModel> m_viewModel;
    SimpleDatabaseManager *m_database;
    bool m_isCapturingTest = false;
    QString m_searchText;
    DebugOCRResultModel m_ocrResults;
    std::shared_ptr<DebugCaptureImage> m_captureImage;
};

} // namespace pellux
