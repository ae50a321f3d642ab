// The image URL schemes as the engine calls them (recordings, symbols and application icons), and
// the cards' thumbnails.
#include "imaging/DeltaTestImages.h"
#include "imaging/ImageFileReader.h"
#include "imaging/Thumbnail.h"
#include "persistence/SimpleDatabaseManager.h"
#include "runtime/PrivateFiles.h"
#include "support/ImageEncoder.h"
#include "ui/ApplicationIcons.h"
#include "ui/ImageProviders.h"
#include "ui/ScreenshotLoader.h"
#include "ui/SettingsModel.h"
#include "ui/SymbolIcons.h"

#include <QQmlEngine>
#include <QQuickAsyncImageProvider>
#include <QQuickImageResponse>
#include <QQuickTextureFactory>

namespace pellux::test {
namespace {

struct Answer {
    QImage image;
    QString error;
};

// The id the engine hands over for a URL built by QML's encodeURIComponent.
QString idOf(const QString &url) { return QUrl(url).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).mid(1); }
QString encoded(const QString &text) { return QString::fromUtf8(QUrl::toPercentEncoding(text)); }

class ImageProviders : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString apps = home.path() + "/applications";
        QDir().mkpath(apps);
        QImage icon(48, 48, QImage::Format_ARGB32);
        icon.fill(QColor(10, 200, 30));
        ASSERT_TRUE(icon.save(home.path() + "/viewer.png"));
        const std::pair<const char *, QByteArray> entries[] = {
            { "debian-xterm", "StartupWMClass=XTerm\nIcon=utilities-terminal" },
            { "viewer", "StartupWMClass=Viewer\nIcon=" + home.path().toUtf8() + "/viewer.png" },
            { "org.example.Editor", "Icon=" + home.path().toUtf8() + "/viewer.png" }, // found by its id alone
            { "noicon", "StartupWMClass=Bare" },
            { "lost", "StartupWMClass=Lost\nIcon=/nowhere/lost.png" },
        };
        for (const auto &[name, lines] : entries)
            writeAll(apps + '/' + name + ".desktop", "[Desktop Entry]\nType=Application\n" + lines + '\n');
        icons = std::make_shared<ApplicationIcons>(QStringList { apps });
        registerImageProviders(engine, database, icons);
    }

    // Requests an image the way the engine does for "image://<scheme>/<id>" and waits for it.
    Answer request(const QString &scheme, const QString &id, QSize size)
    {
        auto *provider = dynamic_cast<QQuickAsyncImageProvider *>(engine.imageProvider(scheme));
        std::unique_ptr<QQuickImageResponse> response(provider->requestImageResponse(id, size));
        QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
        EXPECT_TRUE(finished.wait(30000)) << id.toStdString();
        const std::unique_ptr<QQuickTextureFactory> factory { response->textureFactory() };
        return { factory ? factory->image() : QImage(), response->errorString() };
    }

    TempHome home;
    SimpleDatabaseManager database;
    std::shared_ptr<ApplicationIcons> icons;
    QQmlEngine engine;
};

TEST_F(ImageProviders, RecordingsAreDecodedAtTheRequestedSizeOrAnswerUnavailable)
{
    // A folder name with characters that URLs escape.
    const QString folder = home.path() + "/Shots #1 & 50%?";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/shot.webp";
    ASSERT_TRUE(writeAll(path, *imageEncoder().convertToWebP(windowFrame(1000, 500), 0.8)));
    const QString id = idOf("image://recording/" + encoded(path));
    EXPECT_EQ(recordingPathFromId(id), path);

    const Answer card = request("recording", id, QSize(560, 350));
    EXPECT_EQ(std::pair(card.image.size(), card.error), std::pair(QSize(560, 280), QString()));
}

// A FIFO or a link out of the store in place of a stored screenshot answers "unavailable" at once
// and holds no thread of the provider's pool: the cards after it still load, and nothing outside
// the store is read.
TEST_F(ImageProviders, AFifoOrALinkInTheStoreIsUnavailableAndHoldsNoLoaderThread)
{
    const QString folder = home.path() + "/Documents/Pellux/Screenshots/2024/03/05/14";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray webp = *imageEncoder().convertToWebP(windowFrame(400, 200), 0.8);
    QStringList unavailable;
    for (int i = 0; i < 3; ++i) { // more than the pool has threads
        unavailable << folder + QStringLiteral("/fifo%1.webp").arg(i);
        ASSERT_EQ(::mkfifo(QFile::encodeName(unavailable.back()).constData(), 0600), 0);
    }
    unavailable << folder + "/link.webp";
    ASSERT_TRUE(writeAll(home.path() + "/outside.webp", webp));
    ASSERT_TRUE(QFile::link(home.path() + "/outside.webp", unavailable.back()));
    ASSERT_TRUE(writeAll(folder + "/card.webp", webp));

    for (const QString &path : unavailable) {
        const Answer answer = request("recording", encoded(path), QSize(200, 100));
        EXPECT_EQ(std::pair(answer.image.isNull(), answer.error), std::pair(true, QString("Screenshot unavailable")))
            << path.toStdString();
    }
    EXPECT_EQ(request("recording", encoded(folder + "/card.webp"), QSize()).image.size(), QSize(400, 200));
    // A reader stuck in open() is let go, so that a fault fails this test instead of hanging it.
    for (const QString &path : unavailable.mid(0, 3))
        ::close(::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK));
}

TEST_F(ImageProviders, EverySymbolOfTheViewsHasAnIconAtTheRequestedSize)
{
    for (const QString &name : knownSymbolNames())
        EXPECT_EQ(request("symbol", name, QSize(24, 24)).image.size(), QSize(24, 24)) << name.toStdString();
    for (const char *name : { "magnifyingglass", "text.magnifyingglass", "xmark.circle.fill", "camera.viewfinder",
             "arrow.up.left.and.arrow.down.right", "checkmark.circle.fill", "internaldrive.fill",
             "photo.on.rectangle.angled", "trash", "exclamationmark.triangle" })
        EXPECT_TRUE(knownSymbolNames().contains(QLatin1String(name))) << name;

    // Tinted, in the views and as the tray's icon: every visible pixel takes the colour (-1: none
    // is visible).
    const auto untinted = [](const QImage &image, QColor colour) {
        int visible = 0, other = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                visible += c.alpha() >= 200;
                other += c.alpha() >= 200
                    && std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green())
                            + std::abs(c.blue() - colour.blue())
                        > 30;
            }
        }
        return visible > 10 ? other : -1;
    };
    EXPECT_EQ(
        untinted(request("symbol", idOf("image://symbol/trash?color=%23ff0000"), QSize(32, 32)).image, Qt::red), 0);
    const QIcon status = symbolIcon(QStringLiteral("mail.and.text.magnifyingglass"));
    ASSERT_FALSE(status.isNull()) << "no icon theme with system-search is installed";
    const QColor green(0, 200, 0);
    EXPECT_EQ(untinted(tintedIcon(status, green, 22).pixmap(22, 22).toImage(), green), 0);
    const Answer unknown = request("symbol", "1.circle.fill", QSize(24, 24));
    EXPECT_EQ(std::pair(unknown.image.isNull(), unknown.error.isEmpty()), std::pair(true, false));
}

// By window class (a name alone) or, as the picker asks, by the bundle identifier first; from the
// desktop entry's icon name or path.
TEST_F(ImageProviders, ApplicationIconsComeFromTheDesktopEntry)
{
    const struct {
        const char *app, *bundle;
        bool found;
    } cases[] = { { "XTerm", nullptr, true }, { "Viewer", nullptr, true }, { "Bare", nullptr, false },
        { "Lost", nullptr, false }, { "Unknown", nullptr, false }, { "Some Name", "org.example.Editor", true },
        { "Viewer", "viewer-instance", true }, { "Other", "other", false } };
    for (const auto &c : cases) {
        const QString id = c.bundle ? idOf(SettingsModel::iconSourceFor({ c.app, c.bundle, 0 })) : c.app;
        const Answer answer = request("appicon", id, QSize(16, 16));
        EXPECT_EQ(answer.image.size(), c.found ? QSize(16, 16) : QSize(0, 0)) << id.toStdString();
        EXPECT_EQ(answer.error.isEmpty(), c.found) << id.toStdString();
        if (c.found && QLatin1String(c.app) != "XTerm") { // the one drawn in the entry's file
            EXPECT_EQ(answer.image.pixelColor(8, 8).green(), 200) << id.toStdString();
        }
    }
    // The cheap check answers once the entries are read, without blocking before.
    QSignalSpy ready(icons.get(), &ApplicationIcons::readyChanged);
    ASSERT_TRUE(icons->isReady() || ready.wait(10000));
    for (const auto &c : cases)
        EXPECT_EQ(icons->hasApplicationIcon(c.app, c.bundle ? c.bundle : QString()), c.found) << c.app;
}

QImage filled(QSize size, QColor color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 30;
}

// The cards' images: a size the thumbnail serves is read from it; a screenshot stored without
// one has its frame read once and gets one when it gains by one; larger sizes read the screenshot.
TEST(CardThumbnails, SmallSizesComeFromTheThumbnailWhichAnOldScreenshotGetsWhenFirstShown)
{
    TempHome home;
    const QString folder = home.pelluxFolder() + QStringLiteral("/Screenshots/2025/03/30/10");
    ASSERT_TRUE(makePrivatePath(folder));
    const QString screenshot = folder + QStringLiteral("/20250330_100000_Kate.webp");
    // Red under a band of noise: a frame that weighs a thumbnail many times over.
    QImage frame = filled({ 1280, 800 }, Qt::red);
    QRandomGenerator noise(7);
    for (int y = 0; y < 160; ++y) {
        for (int x = 0; x < frame.width(); ++x)
            frame.setPixel(x, y, noise.generate() | 0xff000000u);
    }
    const std::optional<QByteArray> red = imageEncoder().convertToWebP(frame, 0.8);
    ASSERT_TRUE(red && writeNewPrivateFile(screenshot, *red) == WriteOutcome::written);
    const QString thumbnailPath = thumbnail::pathFor(screenshot);
    ScreenshotLoader loader([](const QString &) { return std::nullopt; }, 0);

    // A screenshot without a thumbnail (stored before they were kept, or its thumbnail damaged):
    // the card is drawn from the frame, and the thumbnail is written, private and whole.
    for (const QByteArray &damaged : { QByteArray(), QByteArray("not an image") }) {
        if (!damaged.isEmpty()) {
            ASSERT_TRUE(writeAll(thumbnailPath, damaged));
        }
        const QImage card = loader.load(screenshot, { 280, 175 });
        EXPECT_EQ(card.size(), QSize(280, 175));
        EXPECT_TRUE(near(card.pixelColor(140, 80), Qt::red));
        EXPECT_EQ(decodeImage(readAll(thumbnailPath)).size(), QSize(320, 200));
        EXPECT_EQ(modeOf(thumbnailPath), 0600);
    }

    // What the thumbnail holds is what a card shows, up to a fifth larger than it; a size beyond
    // that reads the screenshot.
    const std::optional<QByteArray> green = thumbnail::encode(filled({ 1280, 800 }, Qt::green));
    ASSERT_TRUE(green && writePrivateFileAtomically(thumbnailPath, *green));
    const std::tuple<QSize, QSize, QColor> sizes[] = { { { 280, 175 }, { 280, 175 }, Qt::green },
        { { 384, 384 }, { 320, 200 }, Qt::green }, { { 385, 240 }, { 384, 240 }, Qt::red },
        { { 1600, 1000 }, { 1280, 800 }, Qt::red }, { {}, { 1280, 800 }, Qt::red } };
    for (const auto &[requested, size, color] : sizes) {
        const QImage image = loader.load(screenshot, requested);
        EXPECT_EQ(image.size(), size) << requested.width() << "x" << requested.height();
        EXPECT_TRUE(near(image.pixelColor(size.width() / 2, size.height() / 2), color))
            << requested.width() << "x" << requested.height();
    }

    // Nothing to show: the one failure text, and no thumbnail for a file that is not there.
    // Outside the store a frame is shown but nothing is written beside it.
    QString error;
    EXPECT_TRUE(loader.load(folder + QStringLiteral("/gone.webp"), { 280, 175 }, &error).isNull());
    EXPECT_EQ(error, ScreenshotLoader::unavailableText());
    EXPECT_FALSE(QFileInfo::exists(thumbnail::pathFor(folder + QStringLiteral("/gone.webp"))));
    const QString outside = home.path() + QStringLiteral("/elsewhere.webp");
    ASSERT_TRUE(writeAll(outside, *red));
    EXPECT_FALSE(loader.load(outside, { 280, 175 }).isNull());
    EXPECT_FALSE(QFileInfo::exists(thumbnail::pathFor(outside)));
}

} // namespace
} // namespace pellux::test
