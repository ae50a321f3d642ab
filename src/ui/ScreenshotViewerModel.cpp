#include "ui/ScreenshotViewerModel.h"

#include "imaging/DeltaFrameReader.h"
#include "imaging/ImageFileReader.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"
#include "storage/StorageManager.h"
#include "ui/RecordingListModel.h"
#include "ui/ScreenshotLoader.h"
#include "ui/SearchModel.h"

#include <QBuffer>
#include <QClipboard>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QStandardPaths>
#include <QtConcurrent>

#include <qcorofuture.h>

namespace pellux {

namespace {

// What opening a stored screenshot takes: the file itself when it is an image, else a private
// copy of the frame it stands for.
struct OpenTarget {
    QString path;
    QString error;
};

OpenTarget prepareOpen(ScreenshotLoader &loader, const QString &path, const QString &folder)
{
    QString why;
    const std::optional<QByteArray> head = readStoredFile(path, &why);
    if (!head)
        return { {}, why };
    if (!DeltaFrameReader::isDeltaContainer(*head))
        return { path, {} };
    const QImage frame = loader.load(path, QSize(), &why);
    if (frame.isNull())
        return { {}, why };
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !frame.save(&buffer, "PNG"))
        return { {}, QStringLiteral("the frame could not be encoded") };
    if (!ensurePrivateFolder(folder, &why))
        return { {}, why };
    const QString target = QDir(folder).filePath(QFileInfo(path).completeBaseName() + QStringLiteral(".png"));
    if (!writePrivateFileAtomically(target, png, &why))
        return { {}, why };
    return { target, {} };
}

} // namespace

ScreenshotViewerModel::ScreenshotViewerModel(
    SearchModel &search, StorageManager &storage, ScreenshotLoader &loader, TextSource texts, QObject *parent)
    : QObject(parent)
    , m_search(&search)
    , m_storage(storage)
    , m_loader(loader)
    , m_texts(std::move(texts))
    , m_openUrl([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    m_openedFolder = QDir(runtime.isEmpty() ? QDir::tempPath() : runtime)
                         .filePath(QStringLiteral("pellux-opened-%1").arg(QCoreApplication::applicationPid()));
    connect(&search, &SearchModel::selectedIndexChanged, this, [this] {
        emit currentChanged();
        loadText();
    });
    connect(search.results(), &RecordingListModel::countChanged, this, &ScreenshotViewerModel::currentChanged);
    connect(&search, &SearchModel::searchTextChanged, this, &ScreenshotViewerModel::loadText);
}

ScreenshotViewerModel::~ScreenshotViewerModel()
{
    // The copies opened for the desktop's viewer hold screen contents.
    if (QFileInfo::exists(m_openedFolder))
        QDir(m_openedFolder).removeRecursively();
}

const Recording *ScreenshotViewerModel::current() const
{
    if (!m_search)
        return nullptr;
    // The selected card: rows are the cards shown, not every result.
    const int index = m_search->selectedIndex();
    return index >= 0 && index < m_search->results()->count() ? &m_search->results()->recordingAt(index) : nullptr;
}

int ScreenshotViewerModel::currentIndex() const { return m_search ? m_search->selectedIndex() : -1; }

void ScreenshotViewerModel::setCurrentIndex(int index)
{
    if (m_search)
        m_search->setSelectedIndex(index);
}

QString ScreenshotViewerModel::imageSource() const
{
    const Recording *r = current();
    return r ? RecordingListModel::imageSource(*r) : QString();
}

QString ScreenshotViewerModel::appName() const
{
    const Recording *r = current();
    return r ? r->appName.value_or(QStringLiteral("Unknown App")) : QString();
}

QString ScreenshotViewerModel::windowTitle() const
{
    const Recording *r = current();
    return r ? r->windowTitle.value_or(QString()) : QString();
}

QString ScreenshotViewerModel::captureTime() const
{
    const Recording *r = current();
    return r ? formatCaptureTime(r->timestamp) : QString();
}

bool ScreenshotViewerModel::hasPrevious() const { return current() && currentIndex() > 0; }

bool ScreenshotViewerModel::hasNext() const { return current() && currentIndex() + 1 < m_search->results()->count(); }

QString ScreenshotViewerModel::formatCaptureTime(TimePoint timestamp)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(qint64(secondsSince1970(timestamp) * 1000.0));
    const QLocale locale;
    // Frames seconds apart must read apart: the short time format with its seconds.
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    if (!timeFormat.contains(QLatin1Char('s'))) {
        const qsizetype minutes = timeFormat.lastIndexOf(QStringLiteral("mm"));
        if (minutes >= 0)
            timeFormat.insert(minutes + 2, QStringLiteral(":ss"));
    }
    return locale.toString(time.date(), QLocale::LongFormat) + QLatin1Char(' ')
        + locale.toString(time.time(), timeFormat);
}

QString ScreenshotViewerModel::matchPositionText(int index, int count)
{
    if (count <= 0 || index < 0 || index >= count)
        return {};
    return QStringLiteral("%1 of %2").arg(index + 1).arg(count);
}

QString ScreenshotViewerModel::deletionQuestion(const Recording &recording)
{
    const QString app = recording.appName.value_or(QStringLiteral("Unknown App"));
    const QString title = recording.windowTitle.value_or(QString());
    return QStringLiteral("Delete the screenshot of %1%2 from %3? Its image file, its recognised text and its "
                          "entry in the history are removed. This cannot be undone.")
        .arg(app, title.isEmpty() ? QString() : QStringLiteral(" \u201c%1\u201d").arg(title),
            formatCaptureTime(recording.timestamp));
}

QString ScreenshotViewerModel::deletionQuestion() const
{
    const Recording *r = current();
    return r ? deletionQuestion(*r) : QString();
}

void ScreenshotViewerModel::showPrevious()
{
    if (hasPrevious())
        setCurrentIndex(currentIndex() - 1);
}

void ScreenshotViewerModel::showNext()
{
    if (hasNext())
        setCurrentIndex(currentIndex() + 1);
}

void ScreenshotViewerModel::setStatus(const QString &status)
{
    m_status = status;
    emit statusChanged();
}

QCoro::Task<QImage> ScreenshotViewerModel::readFrame(QString path)
{
    ScreenshotLoader *loader = &m_loader;
    QFuture<QImage> reading = QtConcurrent::run([loader, path] { return loader->load(path, QSize()); });
    co_return co_await reading;
}

void ScreenshotViewerModel::copyImage() { copyImageTask(); }

QCoro::Task<bool> ScreenshotViewerModel::copyImageTask()
{
    const Recording *r = current();
    if (!r)
        co_return false;
    QPointer<ScreenshotViewerModel> self(this);
    QCoro::Task<QImage> reading = readFrame(r->localPath());
    const QImage frame = co_await reading;
    if (!self)
        co_return false;
    if (frame.isNull()) {
        setStatus(ScreenshotLoader::unavailableText());
        co_return false;
    }
    QGuiApplication::clipboard()->setImage(frame);
    setStatus(QStringLiteral("Image copied"));
    co_return true;
}

void ScreenshotViewerModel::open() { openTask(); }

QCoro::Task<bool> ScreenshotViewerModel::openTask()
{
    const Recording *r = current();
    if (!r)
        co_return false;
    QPointer<ScreenshotViewerModel> self(this);
    ScreenshotLoader *loader = &m_loader;
    QFuture<OpenTarget> preparing = QtConcurrent::run(
        [loader, path = r->localPath(), folder = m_openedFolder] { return prepareOpen(*loader, path, folder); });
    const OpenTarget target = co_await preparing;
    if (!self)
        co_return false;
    if (target.path.isEmpty()) {
        log::failure(QStringLiteral("ERROR ScreenshotViewer: cannot open the screenshot: %1").arg(target.error));
        setStatus(ScreenshotLoader::unavailableText());
        co_return false;
    }
    if (!m_openUrl(QUrl::fromLocalFile(target.path))) {
        log::failure(QStringLiteral("ERROR ScreenshotViewer: no application opened %1").arg(target.path));
        setStatus(QStringLiteral("No application could open the screenshot"));
        co_return false;
    }
    co_return true;
}

void ScreenshotViewerModel::showInFolder()
{
    const Recording *r = current();
    if (!r)
        return;
    const QString path = r->localPath();
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        m_openUrl(folder);
        return;
    }
    // The file manager selects the file; where none offers it, the folder is opened.
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList { QUrl::fromLocalFile(path).toString() } << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, folder](QDBusPendingCallWatcher *w) {
        if (w->isError())
            m_openUrl(folder);
        w->deleteLater();
    });
}

void ScreenshotViewerModel::deleteCurrent() { deleteCurrentTask(); }

QCoro::Task<bool> ScreenshotViewerModel::deleteCurrentTask()
{
    const Recording *r = current();
    if (!r || m_deleting)
        co_return false;
    const Recording recording = *r;
    QPointer<ScreenshotViewerModel> self(this);
    m_deleting = true;
    emit deletingChanged();
    QCoro::Task<bool> deleting = m_storage.deleteScreenshot(recording);
    const bool deleted = co_await deleting;
    if (!self)
        co_return false;
    m_deleting = false;
    emit deletingChanged();
    if (!deleted) {
        setStatus(QStringLiteral("The screenshot could not be deleted"));
        co_return false;
    }
    if (!m_search)
        co_return true;
    RecordingListModel *results = m_search->results();
    const int row = results->indexOf(recording.id);
    if (row >= 0) {
        results->remove(recording.id);
        // The result after it takes its place; the last one gives way to the one before.
        m_search->setSelectedIndex(std::min(row, results->count() - 1));
        // The index may be the same while the recording behind it is not.
        emit currentChanged();
        loadText();
    }
    setStatus(QStringLiteral("Screenshot deleted"));
    if (results->count() == 0)
        emit closeRequested();
    co_return true;
}

} // namespace pellux
