// The image URL schemes as the engine calls them: recordings, symbols and application icons.
#include "support/ImageEncoder.h"
#include "support/TempHome.h"
#include "ui/UiTestSupport.h"

#include "imaging/DeltaTestImages.h"
#include "imaging/ImageOptimizer.h"
#include "persistence/SimpleDatabaseManager.h"
#include "ui/ApplicationIcons.h"
#include "ui/ImageProviders.h"
#include "ui/ScreenshotLoader.h"
#include "ui/SymbolIcons.h"

#include <QBuffer>
#include <QDir>
#include <QQmlEngine>
#include <QQuickAsyncImageProvider>
#include <QQuickImageResponse>
#include <QQuickTextureFactory>
#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pellux;
using namespace pellux::test;

namespace {

struct Answer {
    QImage image;
    QString error;
};

// Requests an image the way the engine does for "image://<scheme>/<id>" and waits for it.
Answer request(QQmlEngine &engine, const QString &scheme, const QString &id, QSize size)
{
    auto *provider = dynamic_cast<QQuickAsyncImageProvider *>(engine.imageProvider(scheme));
    if (!provider) {
        ADD_FAILURE() << "no asynchronous provider for " << scheme.toStdString();
        return {};
    }
    std::unique_ptr<QQuickImageResponse> response(provider->requestImageResponse(id, size));
    QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
    if (!finished.wait(30000)) {
        ADD_FAILURE() << "no answer for " << id.toStdString();
        return {};
    }
    Answer answer;
    answer.error = response->errorString();
    if (std::unique_ptr<QQuickTextureFactory> factory { response->textureFactory() })
        answer.image = factory->image();
    return answer;
}

// The id the engine hands over for a URL built by QML's encodeURIComponent.
QString idOf(const QString &url) { return QUrl(url).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).mid(1); }

QString encodeUriComponent(const QString &text) { return QString::fromUtf8(QUrl::toPercentEncoding(text)); }

class ImageProviders : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString apps = home.path() + QStringLiteral("/applications");
        QDir().mkpath(apps);
        iconFile = writeFile(home.path(), QStringLiteral("viewer.png"), [] {
            QImage icon(48, 48, QImage::Format_ARGB32);
            icon.fill(QColor(10, 200, 30));
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            icon.save(&buffer, "PNG");
            return bytes;
        }());
        writeFile(apps, QStringLiteral("debian-xterm.desktop"),
            "[Desktop Entry]\nType=Application\nStartupWMClass=XTerm\nIcon=utilities-terminal\n");
        writeFile(apps, QStringLiteral("viewer.desktop"),
            "[Desktop Entry]\nType=Application\nStartupWMClass=Viewer\nIcon=" + iconFile.toUtf8() + "\n");
        writeFile(apps, QStringLiteral("noicon.desktop"), "[Desktop Entry]\nType=Application\nStartupWMClass=Bare\n");
        writeFile(apps, QStringLiteral("lost.desktop"),
            "[Desktop Entry]\nType=Application\nStartupWMClass=Lost\nIcon=/nowhere/lost.png\n");
        icons = std::make_unique<ApplicationIcons>(QStringList { apps });
        registerImageProviders(engine, database, *icons);
    }

    TempHome home;
    QString iconFile;
    SimpleDatabaseManager database;
    std::unique_ptr<ApplicationIcons> icons;
    QQmlEngine engine;
};

TEST_F(ImageProviders, RecordingsAreDecodedAtTheRequestedSizeOrAnswerUnavailable)
{
    // A folder name with characters that URLs escape.
    const QString folder = home.path() + QStringLiteral("/Shots #1 & 50%?");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = writeFile(
        folder, QStringLiteral("shot.webp"), *test::imageEncoder().convertToWebP(windowFrame(1000, 500), 0.8));
    const QString id = idOf(QStringLiteral("image://recording/") + encodeUriComponent(path));
    EXPECT_EQ(recordingPathFromId(id), path);

    const Answer card = request(engine, QStringLiteral("recording"), id, QSize(560, 350));
    EXPECT_EQ(card.image.size(), QSize(560, 280));
    EXPECT_TRUE(card.error.isEmpty());
    EXPECT_EQ(request(engine, QStringLiteral("recording"), id, QSize()).image.size(), QSize(1000, 500));

    const QString missing = idOf(QStringLiteral("image://recording/") + encodeUriComponent(folder + "/gone.webp"));
    const Answer none = request(engine, QStringLiteral("recording"), missing, QSize(560, 350));
    EXPECT_TRUE(none.image.isNull());
    EXPECT_EQ(none.error, QStringLiteral("Screenshot unavailable"));
}

// A FIFO or a link out of the store in place of a stored screenshot answers "unavailable" at once
// and holds no thread of the provider's pool: the cards after it still load, and nothing outside
// the store is read.
TEST_F(ImageProviders, AFifoOrALinkInTheStoreIsUnavailableAndHoldsNoLoaderThread)
{
    const QString folder = home.path() + QStringLiteral("/Documents/Pellux/Screenshots/2024/03/05/14");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray webp = *test::imageEncoder().convertToWebP(windowFrame(400, 200), 0.8);
    QStringList unavailable;
    for (int i = 0; i < 3; ++i) { // more than the pool has threads
        unavailable << folder + QStringLiteral("/fifo%1.webp").arg(i);
        ASSERT_EQ(::mkfifo(QFile::encodeName(unavailable.back()).constData(), 0600), 0);
    }
    unavailable << folder + QStringLiteral("/link.webp");
    ASSERT_TRUE(QFile::link(writeFile(home.path(), QStringLiteral("outside.webp"), webp), unavailable.back()));
    const QString card = writeFile(folder, QStringLiteral("card.webp"), webp);

    for (const QString &path : unavailable) {
        const Answer answer = request(engine, QStringLiteral("recording"), encodeUriComponent(path), QSize(200, 100));
        EXPECT_TRUE(answer.image.isNull()) << path.toStdString();
        EXPECT_EQ(answer.error, QStringLiteral("Screenshot unavailable")) << path.toStdString();
    }
    EXPECT_EQ(
        request(engine, QStringLiteral("recording"), encodeUriComponent(card), QSize()).image.size(), QSize(400, 200));
    // A reader stuck in open() is let go, so that a fault fails this test instead of hanging it.
    for (const QString &path : unavailable.mid(0, 3))
        ::close(::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK));
}

TEST_F(ImageProviders, EverySymbolOfTheViewsHasAnIconAtTheRequestedSize)
{
    for (const QString &name : knownSymbolNames()) {
        const Answer answer = request(engine, QStringLiteral("symbol"), name, QSize(24, 24));
        ASSERT_FALSE(answer.image.isNull()) << name.toStdString() << ": " << answer.error.toStdString();
        EXPECT_EQ(answer.image.size(), QSize(24, 24)) << name.toStdString();
    }
    for (const char *name : { "magnifyingglass", "text.magnifyingglass", "xmark.circle.fill", "camera.viewfinder",
             "arrow.up.left.and.arrow.down.right", "checkmark.circle.fill", "internaldrive.fill",
             "photo.on.rectangle.angled", "trash", "exclamationmark.triangle" })
        EXPECT_TRUE(knownSymbolNames().contains(QLatin1String(name))) << name;

    // Tinted: every visible pixel takes the colour.
    const Answer red = request(
        engine, QStringLiteral("symbol"), idOf(QStringLiteral("image://symbol/trash?color=%23ff0000")), QSize(32, 32));
    ASSERT_FALSE(red.image.isNull());
    int visible = 0;
    for (int y = 0; y < red.image.height(); ++y)
        for (int x = 0; x < red.image.width(); ++x) {
            const QColor c = red.image.pixelColor(x, y);
            if (c.alpha() < 200)
                continue;
            ++visible;
            EXPECT_GT(c.red(), 240);
            EXPECT_LT(c.green() + c.blue(), 20);
        }
    EXPECT_GT(visible, 10);

    const Answer unknown = request(engine, QStringLiteral("symbol"), QStringLiteral("1.circle.fill"), QSize(24, 24));
    EXPECT_TRUE(unknown.image.isNull());
    EXPECT_FALSE(unknown.error.isEmpty());
}

TEST_F(ImageProviders, ApplicationIconsComeFromTheDesktopEntryByNameOrPath)
{
    struct Case {
        const char *app;
        bool found;
    };
    const Case cases[]
        = { { "XTerm", true }, { "Viewer", true }, { "Bare", false }, { "Lost", false }, { "Unknown", false } };
    for (const Case &c : cases) {
        const Answer answer = request(engine, QStringLiteral("appicon"), QLatin1String(c.app), QSize(16, 16));
        EXPECT_EQ(!answer.image.isNull(), c.found) << c.app;
        if (c.found)
            EXPECT_EQ(answer.image.size(), QSize(16, 16)) << c.app;
        else
            EXPECT_FALSE(answer.error.isEmpty()) << c.app;
    }
    // The icon read from its file is the one drawn there.
    const QImage viewer = request(engine, QStringLiteral("appicon"), QStringLiteral("Viewer"), QSize(16, 16)).image;
    EXPECT_EQ(viewer.pixelColor(8, 8).green(), 200);

    // The cheap check answers once the entries are read, without blocking before.
    if (!icons->isReady()) {
        QSignalSpy ready(icons.get(), &ApplicationIcons::readyChanged);
        ASSERT_TRUE(ready.wait(10000));
    }
    for (const Case &c : cases)
        EXPECT_EQ(icons->hasApplicationIcon(QLatin1String(c.app)), c.found) << c.app;
}

} // namespace
