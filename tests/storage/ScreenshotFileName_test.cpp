#include "imaging/ScreenshotFileName.h"
#include "storage/StorageTestSupport.h"

#include <gtest/gtest.h>

using namespace pellux;
using namespace pellux::test;

TEST(ScreenshotFileName, FollowsTheHourFolderAndNamePatterns)
{
    const TimePoint t = localTime(2024, 3, 5, 14, 7, 9);
    EXPECT_EQ(hourFolderName(t), QStringLiteral("2024/03/05/14"));
    EXPECT_EQ(screenshotFileName(t, QStringLiteral("My App/Beta"), QStringLiteral("jpg")),
        QStringLiteral("20240305_140709_My_App_Beta.jpg"));
    EXPECT_EQ(
        screenshotFileName(t, std::nullopt, QStringLiteral("webp")), QStringLiteral("20240305_140709_unknown.webp"));
    // A second frame of one application in one second.
    EXPECT_EQ(screenshotFileName(t, QStringLiteral("Kate"), QStringLiteral("jpg"), 2),
        QStringLiteral("20240305_140709_Kate_2.jpg"));
    EXPECT_EQ(captureTimeFromFileName(QStringLiteral("20240305_140709_Kate_2.jpg")), t);
    EXPECT_EQ(captureTimeFromFileName(QStringLiteral("notes.jpg")), std::nullopt);
}

TEST(ScreenshotFileName, ExtensionComesFromTheWebPHeaderWithinTwelveBytes)
{
    EXPECT_EQ(screenshotExtension(webpBytes()), QStringLiteral("webp"));
    EXPECT_EQ(screenshotExtension(jpegBytes()), QStringLiteral("jpg"));
    EXPECT_EQ(screenshotExtension(QByteArray("DLTA")), QStringLiteral("jpg"));
    // "WEBP" starting at byte 9 runs past the first 12 bytes.
    EXPECT_EQ(screenshotExtension(QByteArray("RIFF00000WEBP")), QStringLiteral("jpg"));
    EXPECT_EQ(screenshotExtension(QByteArray()), QStringLiteral("jpg"));
}

TEST(ScreenshotFileName, NamesAreSafeAndFitTheFileSystemLimit)
{
    const TimePoint t = localTime(2024, 3, 5, 14, 7, 9);
    EXPECT_EQ(fileNameAppPart(QStringLiteral("a b/c") + QChar(u'\0') + QStringLiteral("d")), QStringLiteral("a_b_c_d"));
    EXPECT_EQ(fileNameAppPart(QStringLiteral("../..")), QStringLiteral(".._..")); // no separator left

    // Two-byte and four-byte characters: the cut never splits one.
    for (const QString &unit : { QStringLiteral("é"), QStringLiteral("\U0001F600"), QStringLiteral("x") }) {
        const QString longName = unit.repeated(400);
        for (int attempt : { 1, 2, 123 }) {
            const QString name = screenshotFileName(t, longName, QStringLiteral("webp"), attempt);
            const QByteArray bytes = name.toUtf8();
            EXPECT_LE(bytes.size(), kMaxFileNameBytes) << name.toStdString();
            EXPECT_GT(bytes.size(), kMaxFileNameBytes - 4) << name.toStdString();
            EXPECT_EQ(QString::fromUtf8(bytes), name); // valid UTF-8
            EXPECT_TRUE(name.startsWith(QStringLiteral("20240305_140709_") + unit));
            EXPECT_TRUE(name.endsWith(attempt > 1 ? QStringLiteral("_%1.webp").arg(attempt) : QStringLiteral(".webp")));
        }
    }
}
