// The KWin backend's pixels: a ScreenShot2 reply and the bytes from its pipe made into an image, the
// authorisation probe's verdicts, and the pipe reader.
#if PELLUX_WAYLAND

#include "capture/wayland/kde/KWinCaptureBackend.h"
#include "capture/wayland/kde/KWinScreenShot.h"
#include "capture/wayland/kde/PipeReader.h"
#include "support/TestFiles.h"

namespace pellux::kwin {
namespace {

QVariantMap replyFor(int width, int height, int stride, QImage::Format format)
{
    return { { "type", "raw" }, { "width", quint32(width) }, { "height", quint32(height) },
        { "stride", quint32(stride) }, { "format", quint32(format) }, { "scale", 1.0 } };
}

// A 3×2 image: each pixel's colour encodes its position.
QImage sourceImage()
{
    QImage source(3, 2, QImage::Format_RGB32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            source.setPixel(x, y, qRgb(40 * x + 10, 100 * y + 20, 30));
    return source;
}

// Its pixels in `format`, rows padded to `stride` with 0xEE bytes.
QByteArray pixelsOf(QImage::Format format, int stride)
{
    const QImage converted = sourceImage().convertToFormat(format);
    QByteArray bytes(stride * 2, char(0xEE));
    const int rowBytes = (3 * converted.depth() + 7) / 8;
    for (int y = 0; y < 2; ++y)
        memcpy(bytes.data() + y * stride, converted.constScanLine(y), rowBytes);
    return bytes;
}

TEST(KWinScreenShot, DecodesEachFormatRefusesWhatCannotBeReadFollowsTheProbeAndReadsThePipeWhateverItHolds)
{
    const struct {
        QImage::Format format;
        int stride;
    } cases[] = {
        // KWin 5.27 answers with ARGB32 (5); rows may be padded. The others: as it is, fewer and
        // more bytes a pixel.
        { QImage::Format_ARGB32, 16 },
        { QImage::Format_RGB32, 12 },
        { QImage::Format_RGB888, 12 },
        { QImage::Format_RGBA64, 24 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.format));
        const QVariantMap reply = replyFor(3, 2, c.stride, c.format);
        EXPECT_EQ(announcedByteCount(reply), std::optional<qsizetype>(c.stride * 2));
        const auto image = decodeScreenShot(reply, pixelsOf(c.format, c.stride));
        ASSERT_TRUE(image.ok()) << image.error().localizedDescription.toStdString();
        EXPECT_EQ(image.value(), sourceImage());
    }

    QVariantMap good = replyFor(3, 2, 12, QImage::Format_ARGB32);
    const auto with = [&](const char *key, const QVariant &value) {
        QVariantMap reply = good;
        if (value.isValid())
            reply.insert(key, value);
        else
            reply.remove(key);
        return reply;
    };
    const struct {
        const char *name;
        QVariantMap reply;
        qsizetype byteCount;
    } unreadable[] = {
        { "short read", good, 23 },
        { "no format", with("format", {}), 24 },
        { "invalid format", with("format", 0), 24 },
        { "stride below a row", replyFor(3, 2, 8, QImage::Format_ARGB32), 16 },
        { "zero width", replyFor(0, 2, 12, QImage::Format_ARGB32), 24 },
        { "huge height", replyFor(3, 1 << 20, 12, QImage::Format_ARGB32), 24 },
        { "no stride", with("stride", {}), 24 },
        { "negative width", with("width", -3), 24 },
        { "width not a number", with("width", "wide"), 24 },
        { "unknown format", with("format", 99), 24 },
        { "indexed without colours", replyFor(3, 2, 4, QImage::Format_Indexed8), 8 },
        { "not raw", with("type", "png"), 24 },
    };
    for (const auto &c : unreadable) {
        const auto image = decodeScreenShot(c.reply, QByteArray(c.byteCount, '\x7f'));
        ASSERT_FALSE(image.ok()) << c.name;
        EXPECT_EQ(image.error().domain, captureFailureDomain);
    }

    using enum ScreenShotAccess;
    for (const auto &[error, access] : { std::pair("org.kde.KWin.ScreenShot2.Error.InvalidWindow", granted),
             { "", granted }, { "org.kde.KWin.ScreenShot2.Error.NoAuthorized", refused },
             { "org.freedesktop.DBus.Error.AccessDenied", refused },
             { "org.freedesktop.DBus.Error.ServiceUnknown", unavailable },
             { "org.freedesktop.DBus.Error.NoReply", unavailable } })
        EXPECT_EQ(screenShotAccessFromProbe(error), access) << error;

    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    PipeReader reader(fds[0]);
    QByteArray sent(5 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < sent.size(); ++i)
        sent[i] = char(i * 31 % 251);
    // A blocking writer, as KWin's is: it only gets on while the reader drains the pipe.
    std::thread writer([&] {
        for (qsizetype done = 0, n = 0; done < sent.size(); done += n)
            if ((n = ::write(fds[1], sent.constData() + done, size_t(sent.size() - done))) <= 0)
                break;
    });
    reader.expect(sent.size());
    const bool finished = test::runEventsUntil([&] { return reader.isFinished(); });
    writer.join();
    ::close(fds[1]);
    ASSERT_TRUE(finished);
    EXPECT_EQ(reader.error(), 0);
    EXPECT_EQ(reader.takeBytes(), sent);
}

} // namespace
} // namespace pellux::kwin

#endif
