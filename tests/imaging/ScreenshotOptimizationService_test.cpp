#include "imaging/ExtendedAttributes.h"
#include "imaging/ImageFileReader.h"
#include "imaging/ImageOptimizer.h"
#include "imaging/RecompressionWorker.h"
#include "imaging/ScreenshotFileName.h"
#include "imaging/ScreenshotOptimizationService.h"
#include "runtime/PrivateFiles.h"
#include "support/FakeClock.h"
#include "support/FileSizeLimit.h"
#include "support/SampleImages.h"
#include "support/TestFiles.h"

#include <qcorotask.h>

using namespace pellux;
using namespace pellux::test;

namespace {

constexpr double kDay = 86400;

// Gradients with noise at quality 0.95, as JPEG or WebP: compresses like a photograph, so that the
// files are large.
QByteArray highQuality(quint32 seed, int width = 480, int height = 320, bool webp = false)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    for (int i = 0; i < width * height; ++i) {
        const int x = i % width, y = i / width, noise = int(random.bounded(48));
        image.setPixel(
            x, y, qRgb((x * 255 / width + noise) % 256, (y * 255 / height + noise) % 256, (x + y + noise) % 256));
    }
    return *(webp ? ImageOptimizer().convertToWebP(image, 0.95) : ImageOptimizer().compressToJPEG(image, 0.95));
}

// A valid JPEG of exactly `size` bytes: a small image padded with a comment segment.
QByteArray jpegOfSize(qsizetype size)
{
    const QByteArray image = highQuality(7, 160, 120);
    const qsizetype comment = size - image.size() - 4;
    // SOI, then COM and its length.
    return image.left(2) + "\xFF\xFE" + char((comment + 2) >> 8) + char((comment + 2) & 0xFF) + QByteArray(comment, 'x')
        + image.mid(2);
}

std::optional<QByteArray> marker(const QString &path)
{
    const ExtendedAttribute value = extendedAttribute(path, kOptimizedQualityAttribute);
    return value.ok() ? std::optional<QByteArray>(value.data) : std::nullopt;
}

class ScreenshotOptimizationServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(makePrivatePath(screenshots)); }

    // A screenshot captured `age` seconds before the clock's now, named and placed as the store does.
    QString place(double ageSeconds, const QByteArray &bytes, const QString &app = QStringLiteral("App"))
    {
        const TimePoint taken = fromSecondsSince1970(secondsSince1970(clock.now()) - ageSeconds);
        const QString folder = screenshots + QLatin1Char('/') + hourFolderName(taken);
        EXPECT_TRUE(makePrivatePath(folder));
        const QString path = folder + QLatin1Char('/') + screenshotFileName(taken, app, screenshotExtension(bytes));
        EXPECT_EQ(writeNewPrivateFile(path, bytes), WriteOutcome::written);
        return path;
    }

    // A service that tells `updates` each new size.
    std::unique_ptr<ScreenshotOptimizationService> makeService()
    {
        const auto update = [this](const QString &name, qint64 size, std::function<void(bool)> done) {
            updates.emplace_back(name, size);
            done(true);
        };
        return std::make_unique<ScreenshotOptimizationService>(
            screenshots, update, clock, ScreenshotOptimizationService::Schedule::manual);
    }

    static void runPass(ScreenshotOptimizationService &service) { QCoro::waitFor(service.optimizeOldScreenshots()); }

    QStringList backups() const
    {
        QStringList out;
        for (QDirIterator it(screenshots, { "*.bak" }, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();)
            out << it.next();
        return out;
    }

    TempHome home;
    FakeClock clock { fromSecondsSince1970(1'800'000'000.0) };
    QString screenshots = home.pelluxFolder() + QStringLiteral("/Screenshots");
    std::vector<std::pair<QString, qint64>> updates;
};

TEST_F(ScreenshotOptimizationServiceTest, QualityFollowsAgeAndAPassReencodesByAgeMarkerSizeAndContent)
{
    const std::tuple<double, int, double> ages[]
        = { { 0, -1, 0.7 }, { 7 * kDay, -1, 0.6 }, { 7 * kDay + 1, 0, 0.6 }, { 30 * kDay - 1, 0, 0.6 },
              { 30 * kDay, 1, 0.4 }, { 90 * kDay, 2, 0.3 }, { 180 * kDay, 3, 0.2 }, { 400 * kDay, 3, 0.2 } };
    for (const auto &[age, level, quality] : ages) {
        EXPECT_EQ(qualityLevelIndex(age), level) << age;
        EXPECT_DOUBLE_EQ(targetQuality(age), quality) << age;
    }
    const std::tuple<qint64, qint64, bool> sizes[] = { { 100000, 91000, false }, { 100000, 90000, false },
        { 100000, 89000, true }, { 100000, 120000, false }, { 0, 0, false } };
    for (const auto &[source, encoded, worthwhile] : sizes)
        EXPECT_EQ(isRewriteWorthwhile(source, encoded), worthwhile) << source << " -> " << encoded;
    EXPECT_EQ(qualityMarker(0.6), QByteArray("0.60"));
    const std::pair<QByteArray, std::optional<double>> markers[] = { { "0.40", 0.4 }, { "1", 1.0 }, { "", {} },
        { "abc", {} }, { " 0.4", {} }, { "0.4x", {} }, { "nan", {} }, { "\xff\xfe", {} } };
    for (const auto &[text, value] : markers)
        EXPECT_EQ(parseQualityMarker(text), value) << text.toStdString();

    // One pass over files of every age, marker, size and content: which are re-encoded, at what quality.
    // A pixel-exact desktop of terminals is far smaller than any lossy encoding of it: it keeps
    // every pixel at every age. A lossless photograph shrinks by much more than 10 % and is
    // re-encoded like any other file. The desktop is encoded at the lower effort of earlier
    // versions, which leaves it above the size re-compression looks at.
    const QByteArray text = *ImageOptimizer().convertToLosslessWebP(terminalDesktopFrame(), 3);
    const QByteArray photo = *ImageOptimizer().convertToLosslessWebP(photographicFrame(480, 320));
    ASSERT_GE(text.size(), kMinimumRecompressedBytes);
    struct Case {
        QByteArray bytes;
        double age;
        std::optional<QByteArray> before; // the marker an earlier pass left
        std::optional<QByteArray> after; // absent: left as it was
    };
    const Case cases[] = {
        { highQuality(1), 1 * kDay, {}, {} },
        { highQuality(2, 480, 320, true), 7 * kDay, {}, {} },
        { highQuality(3), 7 * kDay + 1, {}, "0.60" },
        { highQuality(4, 480, 320, true), 45 * kDay, {}, "0.40" },
        { highQuality(5), 100 * kDay, {}, "0.30" },
        { highQuality(6, 480, 320, true), 400 * kDay, {}, "0.20" },
        { highQuality(10), 10 * kDay, "0.60", {} },
        { highQuality(11), 45 * kDay, "0.60", "0.40" },
        { highQuality(12), 10 * kDay, "0.40", {} },
        { highQuality(13), 45 * kDay, "0.40", {} },
        { highQuality(15), 10 * kDay, "abc", "0.60" },
        { jpegOfSize(51199), 20 * kDay, {}, {} }, // under 50 KB: never touched
        { jpegOfSize(51200), 20 * kDay, {}, "0.60" },
        { text, 400 * kDay, {}, {} }, // even at the lowest quality
        { photo, 10 * kDay, {}, "0.60" },
    };
    std::vector<QString> paths;
    for (const Case &c : cases) {
        paths.push_back(place(c.age, c.bytes, QStringLiteral("App%1").arg(paths.size())));
        ASSERT_TRUE(!c.before || setExtendedAttribute(paths.back(), *c.before, kOptimizedQualityAttribute) == 0);
    }
    auto service = makeService();
    runPass(*service);
    std::vector<std::pair<QString, qint64>> rewritten; // what the database is told: name and new size
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(i);
        const QByteArray now = readAll(paths[i]);
        EXPECT_EQ(marker(paths[i]), c.after ? c.after : c.before);
        EXPECT_EQ(now == c.bytes, !c.after);
        if (c.after) {
            // Smaller by more than a tenth, in its own format, the same picture size, still private.
            EXPECT_LT(now.size(), c.bytes.size() * 9 / 10);
            EXPECT_EQ(std::tuple(screenshotExtension(now), decodeImage(now).size(), modeOf(paths[i])),
                std::tuple(screenshotExtension(c.bytes), decodeImage(c.bytes).size(), 0600));
            rewritten.emplace_back(QFileInfo(paths[i]).fileName(), now.size());
        }
    }
    EXPECT_EQ(service->optimizedCount(), int(rewritten.size()));
    std::ranges::sort(updates);
    std::ranges::sort(rewritten);
    EXPECT_TRUE(updates == rewritten && backups().isEmpty());
}

// A delta container is left alone, and a FIFO or a link out of the store is never opened; a source
// that cannot be read or decoded is a failure: counted, said once, kept, and tried again a pass later.
TEST_F(ScreenshotOptimizationServiceTest, SourcesThatCannotBeReadOrDecodedAreFailuresAndStay)
{
    const QByteArray delta = "DLTA" + QByteArray(80000, '\x5a');
    const QString deltaPath = place(60 * kDay, delta, QStringLiteral("Delta"));
    const QByteArray broken = highQuality(3).left(200) + QByteArray(80000, '\0');
    const QString brokenPath = place(60 * kDay, broken, QStringLiteral("Broken"));
    const QString fifo = place(40 * kDay, highQuality(4), QStringLiteral("Fifo"));
    ASSERT_TRUE(QFile::remove(fifo) && ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QByteArray outsideBytes = highQuality(5);
    const QString outside = home.path() + QStringLiteral("/outside.jpg");
    const QString link = place(50 * kDay, highQuality(6), QStringLiteral("Link"));
    ASSERT_TRUE(writeAll(outside, outsideBytes) && QFile::remove(link) && QFile::link(outside, link));
    // Too large to read: refused before a byte is read.
    const QString huge = place(45 * kDay, highQuality(7), QStringLiteral("Huge"));
    ASSERT_TRUE(QFile::resize(huge, kMaxImageFileBytes + 1));

    LogCapture log;
    auto service = makeService();
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        runPass(*service);
        EXPECT_EQ(std::pair(service->lastPassStatistics().filesFailed, service->lastPassStatistics().foldersListed),
            std::pair(2, pass == 0 ? 4 : 2));
        EXPECT_EQ(log.linesStartingWith(QStringLiteral("Failed to optimize")).size(), 2) << log.text().toStdString();
        EXPECT_EQ(std::tuple(QFileInfo(huge).size(), readAll(deltaPath), readAll(brokenPath), readAll(outside)),
            std::tuple(kMaxImageFileBytes + 1, delta, broken, outsideBytes));
        EXPECT_TRUE(QFileInfo(link).isSymLink() && !marker(brokenPath));
        EXPECT_TRUE(service->optimizedCount() == 0 && updates.empty() && backups().empty());
        clock.advance(3600);
    }
}

// The original is kept as a backup until the new file reads back: where there is room for the new
// file but not for the backup, nothing is rewritten. Backups an interrupted run left are settled.
TEST_F(ScreenshotOptimizationServiceTest, TheOriginalStaysUntilTheNewFileReadsBack)
{
    const QByteArray original = highQuality(90);
    const QString old = place(60 * kDay, original, QStringLiteral("Old"));
    // Young files, so that only the backup handling touches them.
    const QByteArray good = highQuality(21);
    const QString intact = place(1 * kDay, good, QStringLiteral("Intact"));
    const QString damaged = place(1 * kDay, QByteArray(70000, 'z'), QStringLiteral("Damaged"));
    const QString orphan = QFileInfo(intact).path() + QStringLiteral("/20200101_000000_Gone.jpg.bak");
    for (const auto &[path, bytes] :
        { std::pair(intact + ".bak", highQuality(22)), { damaged + ".bak", good }, { orphan, good } })
        ASSERT_EQ(writeNewPrivateFile(path, bytes), WriteOutcome::written);

    auto service = makeService();
    {
        FileSizeLimit limit(rlim_t(original.size() - 1));
        runPass(*service);
    }
    EXPECT_EQ(std::tuple(readAll(old), readAll(intact), readAll(damaged)), std::tuple(original, good, good));
    EXPECT_EQ(service->lastPassStatistics().filesFailed, 1);
    EXPECT_TRUE(backups().isEmpty()) << backups().join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(orphan.chopped(4)));
    runPass(*service);
    EXPECT_EQ(service->optimizedCount(), 1);
}

TEST_F(ScreenshotOptimizationServiceTest, PublishesTheProgressOfTheLatestPassAndPassesNeverOverlap)
{
    qint64 saved = 0;
    std::vector<QString> paths;
    for (int i = 0; i < 3; ++i)
        paths.push_back(place((10 + i) * kDay, highQuality(40 + i)));
    for (const QString &path : paths)
        saved += QFileInfo(path).size();
    auto service = makeService();
    std::vector<double> progress;
    std::vector<bool> optimizing;
    QObject::connect(service.get(), &ScreenshotOptimizationService::optimizationProgressChanged,
        [&] { progress.push_back(service->optimizationProgress()); });
    QObject::connect(service.get(), &ScreenshotOptimizationService::isOptimizingChanged,
        [&] { optimizing.push_back(service->isOptimizing()); });
    QCoro::Task<> first = service->optimizeOldScreenshots();
    EXPECT_TRUE(service->isOptimizing());
    runPass(*service); // while the first runs: no second pass
    QCoro::waitFor(first);

    for (const QString &path : paths)
        saved -= QFileInfo(path).size();
    EXPECT_EQ(progress, (std::vector<double> { 1.0 / 3, 2.0 / 3, 1.0 }));
    EXPECT_EQ(optimizing, (std::vector<bool> { true, false }));
    EXPECT_EQ(std::pair(service->optimizedCount(), service->savedBytes()), std::pair(3, saved));

    // The next pass starts from zero and, with nothing to do, leaves the progress where it is.
    QSignalSpy counts(service.get(), &ScreenshotOptimizationService::optimizedCountChanged);
    runPass(*service);
    EXPECT_EQ(std::pair(service->optimizedCount(), counts.size()), std::pair(0, qsizetype(1)));
    EXPECT_FALSE(service->isOptimizing());
}

TEST_F(ScreenshotOptimizationServiceTest, APassWithNothingNewReadsNoFile)
{
    const QByteArray original = highQuality(60);
    const QString first = place(10 * kDay, original, QStringLiteral("First"));
    place(10 * kDay - 5, highQuality(61), QStringLiteral("Second"));
    place(12 * kDay, highQuality(62), QStringLiteral("Other"));
    place(1 * kDay, highQuality(63), QStringLiteral("Young"));
    auto service = makeService();
    runPass(*service);
    const auto statistics = [&] {
        const auto &last = service->lastPassStatistics();
        return std::tuple(last.hourFolders, last.foldersListed, last.filesRead, service->optimizedCount());
    };
    ASSERT_EQ(statistics(), std::tuple(3, 3, 3, 3));

    // Put the first file back as it was, unmarked, without touching its folder: a pass that read
    // the file again would re-encode it.
    ASSERT_EQ(removeExtendedAttribute(first, kOptimizedQualityAttribute), 0);
    ASSERT_TRUE(writeAll(first, original));
    clock.advance(3600);
    runPass(*service);
    EXPECT_EQ(statistics(), std::tuple(3, 0, 0, 0));

    // A fresh start uses the records kept on the folders.
    service = makeService();
    runPass(*service);
    EXPECT_EQ(statistics(), std::tuple(3, 0, 0, 0));
    EXPECT_EQ(readAll(first), original);

    // A file arriving in the folder brings it back into the next pass.
    const TimePoint late = fromSecondsSince1970(secondsSince1970(clock.now()) - 10 * kDay + 60);
    const QString arrived = QFileInfo(first).path() + QLatin1Char('/')
        + screenshotFileName(late, QStringLiteral("Late"), QStringLiteral("jpg"));
    ASSERT_EQ(writeNewPrivateFile(arrived, highQuality(64)), WriteOutcome::written);
    runPass(*service);
    EXPECT_EQ(std::get<1>(statistics()), 1);
    EXPECT_EQ(std::get<3>(statistics()), 2); // the late file and the first one
    EXPECT_EQ(std::pair(marker(first), marker(arrived)),
        std::pair(std::optional<QByteArray>("0.60"), std::optional<QByteArray>("0.60")));
}

TEST_F(ScreenshotOptimizationServiceTest, FoldersAreVisitedAgainWhenTheirFilesReachTheNextLevel)
{
    const QString path = place(30 * kDay - 1800, highQuality(70, 1200, 800)); // still large at 0.6
    const QString young = place(7 * kDay - 1800, highQuality(71));
    auto service = makeService();
    runPass(*service);
    ASSERT_EQ(std::pair(marker(path), marker(young)),
        std::pair(std::optional<QByteArray>("0.60"), std::optional<QByteArray>()));
    for (const int expectedListed : { 0, 2 }) { // 20 minutes on still within their levels, 40 beyond
        clock.advance(1200);
        runPass(*service);
        EXPECT_EQ(service->lastPassStatistics().foldersListed, expectedListed);
    }
    EXPECT_EQ(std::pair(marker(path), marker(young)),
        std::pair(std::optional<QByteArray>("0.40"), std::optional<QByteArray>("0.60")));
}

TEST_F(ScreenshotOptimizationServiceTest, TheScheduleRunsAPassAtOnceAndStoppingEndsIt)
{
    place(9 * kDay, highQuality(80));
    {
        ScreenshotOptimizationService scheduled(screenshots, {}, clock, ScreenshotOptimizationService::Schedule::start);
        QSignalSpy finished(&scheduled, &ScreenshotOptimizationService::passFinished);
        ASSERT_TRUE(finished.wait(20000));
        EXPECT_EQ(scheduled.optimizedCount(), 1);
    }
    std::vector<std::pair<QString, QByteArray>> files;
    for (int i = 0; i < 3; ++i)
        files.emplace_back(place((10 + i) * kDay, highQuality(90 + i)), highQuality(90 + i));
    auto service = makeService();
    QCoro::Task<> pass = service->optimizeOldScreenshots();
    service->stop();
    QCoro::waitFor(pass);
    runPass(*service);
    // At most the file in progress was finished, and then completely.
    size_t rewritten = 0;
    for (const auto &[path, bytes] : files) {
        const bool changed = readAll(path) != bytes;
        rewritten += changed;
        EXPECT_TRUE(!changed || marker(path) == QByteArray("0.60"));
    }
    EXPECT_LE(rewritten, 1u);
    EXPECT_EQ(updates.size(), rewritten);
    EXPECT_TRUE(backups().isEmpty());
}

} // namespace
