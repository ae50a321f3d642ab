#include "ui/ImageProviders.h"

#include "runtime/Log.h"
#include "runtime/ThreadSanitizer.h"
#include "ui/ApplicationIcons.h"
#include "ui/ScreenshotLoader.h"
#include "ui/SymbolIcons.h"

#include <QColor>
#include <QQmlEngine>
#include <QQuickAsyncImageProvider>
#include <QQuickImageResponse>
#include <QQuickTextureFactory>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QUrl>
#include <QUrlQuery>

#include <functional>
#include <memory>

namespace pellux {

namespace {

// What a provider does for one request, on a pool thread: the image, or null and the error text.
using ImageWork = std::function<QImage(const QString &id, QSize requested, QString *error)>;

// Runs the work on the pool and hands the result to its response through a queued signal, so a
// response the engine has dropped meanwhile is never touched.
class ImageJob final : public QObject, public QRunnable {
    Q_OBJECT

public:
    ImageJob(ImageWork work, QString id, QSize requested)
        : m_work(std::move(work))
        , m_id(std::move(id))
        , m_requested(requested)
    {
        setAutoDelete(false);
    }
    // Deleted on the response's thread once run() is over (deleteLater).
    ~ImageJob() override { tsan::acquire(this); }

    void run() override
    {
        // Handed over by QThreadPool::start.
        tsan::acquire(this);
        QString error;
        QImage image = m_work(m_id, m_requested, &error);
        if (image.isNull() && error.isEmpty())
            error = QStringLiteral("No image");
        emit done(image, error);
        tsan::release(this);
        deleteLater();
    }

signals:
    void done(const QImage &image, const QString &error);

private:
    ImageWork m_work;
    QString m_id;
    QSize m_requested;
};

class JobResponse final : public QQuickImageResponse {
public:
    JobResponse(QThreadPool &pool, const ImageWork &work, const QString &id, QSize requested)
    {
        // The job lives on this response's thread and is deleted there after its result is sent.
        auto *job = new ImageJob(work, id, requested);
        connect(job, &ImageJob::done, this, [this](const QImage &image, const QString &error) {
            m_image = image;
            m_error = image.isNull() ? error : QString();
            emit finished();
        });
        tsan::release(job);
        pool.start(job);
    }

    QQuickTextureFactory *textureFactory() const override
    {
        return m_image.isNull() ? nullptr : QQuickTextureFactory::textureFactoryForImage(m_image);
    }
    QString errorString() const override { return m_error; }

private:
    QImage m_image;
    QString m_error;
};

class AsyncProvider final : public QQuickAsyncImageProvider {
public:
    AsyncProvider(ImageWork work, int threads)
        : m_work(std::move(work))
    {
        m_pool.setMaxThreadCount(threads);
    }
    ~AsyncProvider() override { m_pool.waitForDone(); }

    QQuickImageResponse *requestImageResponse(const QString &id, const QSize &requestedSize) override
    {
        return new JobResponse(m_pool, m_work, id, requestedSize);
    }

private:
    ImageWork m_work;
    QThreadPool m_pool;
};

// Icons drawn without a size from the view.
constexpr int kDefaultIconSide = 64;
// Larger requests are refused: an icon never needs them, and a view bound to a huge size would
// otherwise allocate it.
constexpr int kMaxIconSide = 1024;

QSize iconSize(QSize requested)
{
    QSize size(requested.width() > 0 ? requested.width() : 0, requested.height() > 0 ? requested.height() : 0);
    if (size.width() == 0)
        size.setWidth(size.height() > 0 ? size.height() : kDefaultIconSide);
    if (size.height() == 0)
        size.setHeight(size.width());
    return size.boundedTo(QSize(kMaxIconSide, kMaxIconSide));
}

QImage loadSymbol(const QString &id, QSize requested, QString *error)
{
    const qsizetype queryStart = id.indexOf(QLatin1Char('?'));
    const QString name = QUrl::fromPercentEncoding(id.left(queryStart).toUtf8());
    std::optional<QColor> tint;
    if (queryStart >= 0) {
        const QString colorText
            = QUrlQuery(id.mid(queryStart + 1)).queryItemValue(QStringLiteral("color"), QUrl::FullyDecoded);
        if (!colorText.isEmpty()) {
            const QColor color(colorText);
            if (color.isValid())
                tint = color;
            else
                log::failure(QStringLiteral("ERROR ImageProviders: symbol %1 asks for the colour %2, which is not one")
                                 .arg(name, colorText));
        }
    }
    QImage image = symbolImage(name, iconSize(requested), tint);
    if (image.isNull()) {
        log::failure(QStringLiteral("ERROR ImageProviders: No icon for the symbol %1").arg(name));
        *error = QStringLiteral("No icon for %1").arg(name);
    }
    return image;
}

} // namespace

void registerSymbolImageProvider(QQmlEngine &engine)
{
    engine.addImageProvider(QStringLiteral("symbol"), new AsyncProvider(loadSymbol, 1));
}

QString recordingPathFromId(const QString &id) { return QUrl::fromPercentEncoding(id.toUtf8()); }

void registerImageProviders(
    QQmlEngine &engine, std::shared_ptr<ScreenshotLoader> loader, std::shared_ptr<ApplicationIcons> icons)
{
    icons->prepare();
    engine.addImageProvider(QStringLiteral("recording"),
        new AsyncProvider([loader](const QString &id, QSize requested,
                              QString *error) { return loader->load(recordingPathFromId(id), requested, error); },
            2));
    engine.addImageProvider(QStringLiteral("symbol"), new AsyncProvider(loadSymbol, 1));
    engine.addImageProvider(QStringLiteral("appicon"),
        new AsyncProvider(
            [icons](const QString &id, QSize requested, QString *error) {
                const qsizetype queryStart = id.indexOf(QLatin1Char('?'));
                const QString name = QUrl::fromPercentEncoding(id.left(queryStart).toUtf8());
                const QString bundleIdentifier = queryStart < 0
                    ? QString()
                    : QUrlQuery(id.mid(queryStart + 1)).queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
                QImage image = icons->applicationIcon(name, iconSize(requested), bundleIdentifier);
                if (image.isNull())
                    *error = QStringLiteral("No icon for %1").arg(name);
                return image;
            },
            1));
}

void registerImageProviders(
    QQmlEngine &engine, SimpleDatabaseManager &database, std::shared_ptr<ApplicationIcons> icons)
{
    // One loader per engine: its cache of rebuilt frames serves every view.
    registerImageProviders(
        engine, std::make_shared<ScreenshotLoader>(ScreenshotLoader::databaseLookup(database)), std::move(icons));
}

std::shared_ptr<ApplicationIcons> sharedApplicationIcons()
{
    // The last provider may let go on the thread that answered its last request.
    return std::shared_ptr<ApplicationIcons>(new ApplicationIcons, [](ApplicationIcons *icons) {
        if (QThread::currentThread() == icons->thread())
            delete icons;
        else
            icons->deleteLater();
    });
}

} // namespace pellux

#include "ImageProviders.moc"
