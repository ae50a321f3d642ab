#include "capture/wayland/wlroots/SwayIpc.h"

#include "support/TestFiles.h"
#include <QCoro/QCoroTask>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

namespace pellux::wayland::sway {
namespace {

// A message decodes only once whole; what is not i3-ipc is refused as soon as it shows.
TEST(SwayIpcMessage, DecodesWhatWasEncodedAndRefusesWhatIsNotI3Ipc)
{
    const QByteArray message = encodeMessage(MessageType::getOutputs, "[{\"name\": \"HEADLESS-1\"}]");
    for (qsizetype cut = 0; cut < message.size(); ++cut)
        EXPECT_TRUE(std::holds_alternative<NeedMoreBytes>(decodeMessage(message.left(cut)))) << cut;
    const auto decoded = decodeMessage(message + "i3-ipc");
    ASSERT_TRUE(std::holds_alternative<Message>(decoded));
    const Message &m = std::get<Message>(decoded);
    EXPECT_EQ(std::tuple(m.type, m.payload, m.size),
        std::tuple(3u, QByteArray("[{\"name\": \"HEADLESS-1\"}]"), message.size()));

    QByteArray huge = encodeMessage(MessageType::getTree);
    const quint32 length = 0x7fffffff;
    std::memcpy(huge.data() + 6, &length, 4);
    for (const QByteArray &bad : { QByteArray("HTTP/1.1 200 OK\r\n\r\n"), QByteArray("x3"), huge })
        EXPECT_TRUE(std::holds_alternative<MalformedMessage>(decodeMessage(bad))) << bad.left(8).toStdString();
}

// A stand-in for sway's socket that answers each connection as the test says.
class FakeSway {
public:
    using Answer = std::function<void(QLocalSocket *)>;

    explicit FakeSway(Answer answer)
        : m_answer(std::move(answer))
    {
        m_server.listen(m_dir.filePath(QStringLiteral("sway-ipc.sock")));
        QObject::connect(&m_server, &QLocalServer::newConnection, [this] {
            while (QLocalSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                    m_request += socket->readAll();
                    if (m_request.size() >= 14 && !m_answered) {
                        m_answered = true;
                        m_answer(socket);
                    }
                });
            }
        });
    }

    QString path() const { return m_server.fullServerName(); }
    const QByteArray &request() const { return m_request; }

private:
    QTemporaryDir m_dir;
    QLocalServer m_server;
    Answer m_answer;
    QByteArray m_request;
    bool m_answered = false;
};

CaptureResult<QByteArray> ask(const QString &path, int timeout_ms = 2000)
{
    const IpcClient client(path);
    return QCoro::waitFor(client.request(MessageType::getTree, timeout_ms));
}

TEST(SwayIpcClient, PutsTogetherAReplyThatArrivesInPieces)
{
    FakeSway sway([](QLocalSocket *s) {
        const QByteArray reply = encodeMessage(MessageType::getTree, QByteArray(100000, 'x'));
        s->write(reply.left(9));
        s->flush();
        QPointer<QLocalSocket> socket(s);
        QTimer::singleShot(50, [socket, reply] {
            if (socket)
                socket->write(reply.mid(9));
        });
    });
    const auto reply = ask(sway.path());
    ASSERT_TRUE(reply.ok()) << reply.error().localizedDescription.toStdString();
    EXPECT_EQ(reply.value(), QByteArray(100000, 'x'));
    EXPECT_EQ(sway.request(), encodeMessage(MessageType::getTree));
}

// Every way the socket can fail ends in an error with a description, within the time limit.
TEST(SwayIpcClient, EveryFailureEndsInAnError)
{
    const struct {
        const char *name;
        FakeSway::Answer answer;
    } cases[] = {
        { "closed without an answer", [](QLocalSocket *s) { s->disconnectFromServer(); } },
        { "never answers", [](QLocalSocket *) {} },
        { "not i3-ipc", [](QLocalSocket *s) { s->write("HTTP/1.1 400 Bad Request\r\n\r\n"); } },
        { "another message type", [](QLocalSocket *s) { s->write(encodeMessage(MessageType::getOutputs, "[]")); } },
        { "cut short",
            [](QLocalSocket *s) {
                s->write(encodeMessage(MessageType::getTree, "{\"type\": \"root\"}").left(20));
                s->flush();
                s->disconnectFromServer();
            } },
    };
    for (const auto &c : cases) {
        FakeSway sway(c.answer);
        const auto reply = ask(sway.path(), 300);
        ASSERT_FALSE(reply.ok()) << c.name;
        EXPECT_FALSE(reply.error().localizedDescription.isEmpty()) << c.name;
    }
    QTemporaryDir dir;
    const auto reply = ask(dir.filePath("no-such.sock"));
    ASSERT_FALSE(reply.ok());
    EXPECT_TRUE(reply.error().localizedDescription.contains("cannot connect"));
}

} // namespace
} // namespace pellux::wayland::sway
