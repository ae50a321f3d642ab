// Stored screenshots as the search window shows them: image files at the size they are shown at,
// delta files rebuilt through the real database from frames the real delta processor made.
#include "DeltaTestImages.h"
#include "support/FakeClock.h"
#include "support/ImageEncoder.h"
#include "support/ListedRecordings.h"

#include "imaging/DeltaFrameProcessor.h"
#include "imaging/ImageFileReader.h"
#include "imaging/ImageOptimizer.h"
#include "imaging/StoredScreenshotReader.h"
#include "persistence/SimpleDatabaseManager.h"
#include "storage/RecordingIndex.h"
#include "storage/StorageManager.h"

#include <qcorotask.h>

using namespace pellux;
using namespace pellux::test;

namespace {

// The path of `bytes` written there, or "" when they could not be written.
QString written(const QString &path, const QByteArray &bytes) { return writeAll(path, bytes) ? path : QString(); }

// WebP and JPEG as the store encodes them, PNG as Qt writes it.
QByteArray encode(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (qstrcmp(format, "png") == 0)
        return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format) ? bytes : QByteArray();
    return *(qstrcmp(format, "webp") == 0 ? test::imageEncoder().convertToWebP(image, 0.85)
                                          : test::imageEncoder().compressToJPEG(image, 0.85));
}

// A window's frames stored by the real pipeline pieces: the delta processor decides, the store
// writes the file and the database row.
class DeltaChainFixture : public ::testing::Test {
protected:
    struct Stored {
        QString path;
        QImage frame;
    };

    // Stores `frame` of window `window` as the processor decides; the window's previous frame is
    // the last one stored for it.
    Stored store(const QImage &frame, const QString &window = QStringLiteral("1"))
    {
        const QString hash = ImageOptimizer::perceptualHash(frame);
        const DeltaFrameOutcome outcome
            = QCoro::waitFor(processor.processDeltaFrame(frame, previousFrames.value(window), window, hash));
        lastWasDelta = outcome.deltaFrame.has_value();
        EXPECT_TRUE(lastWasDelta || outcome.fullFrame);
        const QByteArray data = lastWasDelta ? outcome.deltaFrame->data : *outcome.fullFrame;
        clock.advance(5);
        const std::optional<Recording> recording = QCoro::waitFor(
            storage.saveScreenshot(data, clock.now(), 0, QStringLiteral("XTerm"), QStringLiteral("title"), hash,
                lastWasDelta, lastWasDelta ? std::optional(outcome.deltaFrame->referenceHash) : std::nullopt,
                lastWasDelta ? outcome.deltaFrame->compressionRatio
                             : double(tiffRepresentationSize(frame)) / double(data.size())));
        EXPECT_TRUE(recording);
        if (recording && outcome.newReference)
            processor.commitReference(*outcome.newReference);
        previousFrames.insert(window, frame);
        return { recording ? recording->localPath() : QString(), frame };
    }

    TempHome home;
    FakeClock clock { fromSecondsSince1970(1.7e9) };
    SimpleDatabaseManager database;
    DatabaseRecordingIndex index { database };
    StorageManager storage { index, clock };
    DeltaFrameProcessor processor { test::imageEncoder(), clock };
    StoredScreenshotReader loader { StoredScreenshotReader::databaseLookup(database), 192LL << 20 };
    QHash<QString, QImage> previousFrames;
    bool lastWasDelta = false;
};

// A frame stored at its own size: text, stored without loss.
QImage textFrame(int width, int height) { return terminalWindowFrame().copy(0, 0, width, height); }

// Each format at the size asked for, keeping the aspect and never enlarged, and the same picture
// as a full decode scaled down, within what lossy coding and resampling move.
TEST_F(DeltaChainFixture, ImagesFitTheRequestAndDeltaFramesShowTheFrameThatWasCapturedAtItsCapturedSize)
{
    const QImage source = windowFrame(1000, 500);
    StoredScreenshotReader plain(nullptr, 0);
    const std::tuple<const char *, QSize, QSize> cases[] = { { "webp", QSize(560, 350), QSize(560, 280) },
        { "png", QSize(560, 350), QSize(560, 280) }, { "jpeg", QSize(560, 100), QSize(200, 100) },
        { "jpeg", QSize(250, 0), QSize(250, 125) }, { "webp", QSize(-1, 50), QSize(100, 50) },
        { "webp", QSize(), QSize(1000, 500) }, { "jpeg", QSize(4000, 3000), QSize(1000, 500) } };
    for (const auto &[format, requested, expected] : cases) {
        SCOPED_TRACE(format);
        QString error;
        const QImage image
            = plain.read(written(home.path() + QStringLiteral("/shot"), encode(source, format)), requested, &error);
        ASSERT_FALSE(image.isNull()) << error.toStdString();
        EXPECT_EQ(image.size(), expected);
        EXPECT_LT(meanDifference(
                      image, source.scaled(expected, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), image.rect()),
            12.0);
    }

    struct Case {
        QSize stored;
        std::optional<qint64> pixels;
        QSize extent;
        QSize expected;
    };
    const Case inferred[] = {
        { QSize(800, 500), 800 * 500, QSize(800, 500), QSize(800, 500) }, // stored at full size
        { QSize(960, 540), 1920 * 1080, QSize(64, 64), QSize(1920, 1080) }, // longer side capped
        { QSize(320, 200), 640 * 400, QSize(100, 100), QSize(640, 400) }, // flat content, halved
        { QSize(501, 251), 1001 * 501, QSize(1001, 501), QSize(1001, 501) }, // odd sides rounded up
        { QSize(320, 200), std::nullopt, QSize(300, 150), QSize(320, 200) }, // no ratio, regions fit
        { QSize(320, 200), std::nullopt, QSize(640, 128), QSize(640, 400) }, // no ratio, regions beyond
    };
    for (const Case &c : inferred)
        EXPECT_EQ(StoredScreenshotReader::inferSourceSize(c.stored, c.pixels, c.extent), c.expected);

    const qint64 tiffBytes = tiffRepresentationSize(QImage(640, 400, QImage::Format_RGB32));
    EXPECT_EQ(StoredScreenshotReader::sourcePixelCount(double(tiffBytes) / 1234, 1234), 640 * 400);
    EXPECT_FALSE(StoredScreenshotReader::sourcePixelCount(3.14159, 1234)
        || StoredScreenshotReader::sourcePixelCount(std::nullopt, 1234));

    std::vector<Stored> frames { store(textFrame(640, 400)) };
    ASSERT_TRUE(!lastWasDelta && readImageFile(frames.front().path).size() == QSize(640, 400));
    const QRect areas[] = { QRect(10, 40, 100, 60), QRect(300, 200, 90, 90), QRect(12, 300, 200, 40) };
    for (unsigned i = 0; i < std::size(areas); ++i) {
        frames.push_back(store(withNoise(frames.back().frame, areas[i], i + 1)));
        ASSERT_TRUE(lastWasDelta) << i;
    }
    // A smooth picture (no text, hardly a pixel like its neighbour) is stored at half size; its
    // deltas are in captured pixels.
    QImage flat(640, 400, QImage::Format_RGB32);
    for (int i = 0; i < 640 * 400; ++i)
        flat.setPixel(
            i % 640, i / 640, qRgb(i % 640 * 255 / 639, (3 * (i % 640) + i / 640) % 256, i / 640 * 255 / 399));
    ASSERT_EQ(readImageFile(store(flat, QStringLiteral("3")).path).size(), QSize(320, 200));
    QImage next = flat.copy();
    QPainter(&next).fillRect(QRect(576, 320, 64, 80), QColor(20, 40, 200));
    const Stored onHalved = store(next, QStringLiteral("3"));
    ASSERT_TRUE(lastWasDelta);
    database.waitUntilIdle();

    QString error;
    const QImage rebuilt = loader.read(onHalved.path, QSize(), &error);
    ASSERT_EQ(rebuilt.size(), QSize(640, 400)) << error.toStdString();
    EXPECT_LT(meanDifference(rebuilt, next, QRect(576, 320, 64, 80)), 12.0);
    EXPECT_LT(meanDifference(rebuilt, next, rebuilt.rect()), 6.0);
    for (size_t k = frames.size(); k-- > 0;) { // newest first, as the grid asks
        const Stored &stored = frames[k];
        const QImage full = loader.read(stored.path, QSize(), &error);
        ASSERT_EQ(full.size(), stored.frame.size()) << error.toStdString();
        EXPECT_LT(meanDifference(full, stored.frame, full.rect()), 6.0) << k;
        // Every area changed up to this frame shows its pixels, not those from before the change.
        // (Noise is stored reduced, so it is compared by which frame it is nearer to.)
        for (size_t j = 0; j < k; ++j) {
            EXPECT_LT(meanDifference(full, stored.frame, areas[j]) * 2,
                meanDifference(frames[j].frame, stored.frame, areas[j]))
                << k << " " << j;
        }
        EXPECT_EQ(loader.read(stored.path, QSize(560, 350), &error).size(), QSize(560, 350));
    }
}

TEST_F(DeltaChainFixture, LaterFramesOfALongChainStartFromKeptFrames)
{
    std::vector<Stored> frames { store(textFrame(400, 300)) };
    for (unsigned i = 0; i < 20; ++i) {
        frames.push_back(store(withNoise(frames.back().frame, QRect(int(i % 5) * 64, 64, 40, 40), i + 1)));
        ASSERT_TRUE(lastWasDelta);
    }
    database.waitUntilIdle();
    // Newest first, as the grid asks. The first keeps the frame itself, the reference and every
    // eighth frame of the chain; the others start from those.
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        const QImage full = loader.read(it->path, QSize(), nullptr);
        ASSERT_FALSE(full.isNull());
        EXPECT_LT(meanDifference(full, it->frame, full.rect()), 6.0);
        EXPECT_TRUE(it != frames.rbegin() || loader.cachedFrameCount() == 4); // frames 0, 8, 16 and 20
    }
    EXPECT_EQ(loader.cachedFrameCount(), 21);

    // A bounded cache keeps what fits, newest used last.
    StoredScreenshotReader small(StoredScreenshotReader::databaseLookup(database), 2 * 400 * 300 * 4);
    EXPECT_FALSE(small.read(frames.back().path, QSize(), nullptr).isNull()
        || small.read(frames[5].path, QSize(), nullptr).isNull());
    EXPECT_LE(small.cachedBytes(), 2 * 400 * 300 * 4);
}

TEST_F(DeltaChainFixture, MissingDamagedAndBrokenFilesAreUnavailable)
{
    const Stored base = store(textFrame(320, 240));
    const Stored delta = store(withNoise(base.frame, QRect(0, 64, 64, 64), 3));
    ASSERT_TRUE(lastWasDelta);
    database.waitUntilIdle();
    const QByteArray deltaBytes = readAll(delta.path), jpeg = encode(base.frame, "jpeg");

    const auto file = [&](const char *name, const QByteArray &bytes) {
        return written(home.path() + QLatin1Char('/') + QLatin1String(name), bytes);
    };
    const std::pair<const char *, QString> cases[] = {
        { "missing file", home.path() + QStringLiteral("/nothing.webp") },
        { "empty file", file("empty", QByteArray()) },
        { "garbage", file("garbage", QByteArray(5000, '\x5a')) },
        { "truncated JPEG", file("cut.jpg", jpeg.left(jpeg.size() / 2)) },
        { "truncated WebP", file("cut.webp", encode(base.frame, "webp").left(200)) },
        { "truncated container", file("cut.dlta", deltaBytes.left(30)) },
        { "delta without a row", file("unknown", deltaBytes) },
    };
    const auto unavailable = [](StoredScreenshotReader &reader, const QString &path) {
        QString error;
        return reader.read(path, QSize(560, 350), &error).isNull() && !error.isEmpty();
    };
    for (const auto &[what, path] : cases)
        EXPECT_TRUE(unavailable(loader, path)) << what;

    // The reference frame is gone (its file, then its row).
    ASSERT_TRUE(QFile::remove(base.path));
    StoredScreenshotReader fresh(StoredScreenshotReader::databaseLookup(database), 192LL << 20);
    EXPECT_TRUE(unavailable(fresh, delta.path));
    QCoro::waitFor(storage.deleteRecordings({ test::listedRecordings(storage).back() }));
    EXPECT_TRUE(unavailable(fresh, delta.path));
}

} // namespace
