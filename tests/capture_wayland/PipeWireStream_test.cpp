#include "capture/wayland/PipeWireStream.h"

#include "support/TestFiles.h"
#include <QCoro/QCoroTask>

namespace pellux::wayland {
namespace {

using namespace std::chrono_literals;

constexpr QRgb testColour = 0xff3366cc;

// A PipeWire daemon of the test's own, with its session manager and a GStreamer program that
// offers one video node per pixel layout, each filled with `testColour`.
class PipeWireDaemon {
public:
    PipeWireDaemon()
    {
        QFile::setPermissions(
            m_runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QString producers;
        for (const char *format : { "BGRx", "BGRA", "RGBx", "RGBA" })
            producers
                += QStringLiteral("gst-launch-1.0 -q videotestsrc pattern=solid-color foreground-color=0x%1"
                                  " ! video/x-raw,format=%2,width=64,height=48,framerate=10/1"
                                  " ! pipewiresink mode=provide"
                                  " stream-properties=\"props,media.class=Video/Source,node.name=pellux-test-%2\" & ")
                       .arg(testColour, 0, 16)
                       .arg(QString::fromLatin1(format));
        m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_environment.remove(QStringLiteral("PIPEWIRE_REMOTE"));
        m_daemon.setProcessEnvironment(m_environment);
        // Its own process group, so that the daemons started by the shell end with it.
        m_daemon.setChildProcessModifier([] { ::setsid(); });
        m_daemon.setStandardOutputFile(QProcess::nullDevice());
        m_daemon.setStandardErrorFile(QProcess::nullDevice());
        m_daemon.start(QStringLiteral("dbus-run-session"),
            { QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                QStringLiteral("pipewire & sleep 0.3; wireplumber & sleep 0.3; %1 wait").arg(producers) });
        qputenv("PIPEWIRE_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }
    ~PipeWireDaemon()
    {
        const auto group = pid_t(m_daemon.processId());
        if (group > 0) {
            ::kill(-group, SIGTERM);
            // The daemons remove their sockets from the runtime folder as they exit.
            for (int waited = 0; waited < 50 && ::kill(-group, 0) == 0; ++waited)
                QThread::msleep(100);
        }
        m_daemon.waitForFinished(5000);
        qunsetenv("PIPEWIRE_RUNTIME_DIR");
    }

    // The id of the node named `name`, waiting up to ten seconds for it to appear.
    std::optional<quint32> nodeId(const QString &name)
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            QProcess dump;
            dump.setProcessEnvironment(m_environment);
            dump.start(QStringLiteral("pw-dump"), {});
            dump.waitForFinished(5000);
            for (const QJsonValue &object : QJsonDocument::fromJson(dump.readAllStandardOutput()).array()) {
                const QJsonObject properties = object[QLatin1String("info")][QLatin1String("props")].toObject();
                if (properties[QLatin1String("node.name")].toString() == name)
                    return quint32(object[QLatin1String("id")].toInteger());
            }
            QThread::msleep(200);
        }
        return std::nullopt;
    }

private:
    QTemporaryDir m_runtime;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    QProcess m_daemon;
};

class PipeWireStreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { daemon = new PipeWireDaemon; }
    static void TearDownTestSuite()
    {
        delete daemon;
        daemon = nullptr;
    }
    static PipeWireDaemon *daemon;
};

PipeWireDaemon *PipeWireStreamTest::daemon = nullptr;

TEST_F(PipeWireStreamTest, DeliversTheProducersPixelsInEachLayout)
{
    for (const char *layout : { "BGRx", "BGRA", "RGBx", "RGBA" }) {
        SCOPED_TRACE(layout);
        const auto node = daemon->nodeId(QStringLiteral("pellux-test-%1").arg(QString::fromLatin1(layout)));
        ASSERT_TRUE(node) << "the test producer did not appear";
        const CaptureResult<QImage> frame = QCoro::waitFor(PipeWireStream::grabFrame(*node, 10s));
        ASSERT_TRUE(frame) << frame.error().localizedDescription.toStdString();
        EXPECT_EQ(frame.value().format(), QImage::Format_RGB32);
        EXPECT_EQ(frame.value().size(), QSize(64, 48));
        EXPECT_EQ(frame.value().pixel(0, 0), testColour);
        EXPECT_EQ(frame.value().pixel(63, 47), testColour);
    }
}

TEST_F(PipeWireStreamTest, FailsWithinTheTimeoutForAMissingNode)
{
    ASSERT_TRUE(daemon->nodeId(QStringLiteral("pellux-test-BGRx"))); // the daemon is up
    const CaptureResult<QImage> frame = QCoro::waitFor(PipeWireStream::grabFrame(999999, 1500ms));
    ASSERT_FALSE(frame);
    EXPECT_TRUE(frame.error().localizedDescription.contains(QLatin1String("999999")))
        << frame.error().localizedDescription.toStdString();
}

TEST(PipeWireStreamWithoutDaemon, FailsToOpenWhenPipeWireIsUnreachable)
{
    QTemporaryDir empty;
    qputenv("PIPEWIRE_RUNTIME_DIR", QFile::encodeName(empty.path()));
    const auto stream = PipeWireStream::open(1);
    qunsetenv("PIPEWIRE_RUNTIME_DIR");
    ASSERT_FALSE(stream);
    EXPECT_TRUE(stream.error().localizedDescription.contains(QLatin1String("cannot connect to PipeWire")))
        << stream.error().localizedDescription.toStdString();
}

} // namespace
} // namespace pellux::wayland
