#include "app/UpdateChecker.h"
#include "app/UpdateDialog.h"
#include "support/TestFiles.h"

#include <QPushButton>
#include <QTcpServer>

namespace pellux {
namespace {

using Status = UpdateCheckResult::Status;

QByteArray feed(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><title>Pellux</title>\n"
           "<link>https://pellux.example/channel</link>\n"
        + items + "</channel></rss>\n";
}

// An item in the element style: <sparkle:version> and a <link>.
QByteArray elementItem(const QByteArray &version, const QByteArray &link)
{
    return "<item><title>Pellux " + version + "</title>"
        + (version.isEmpty() ? "" : "<sparkle:version>" + version + "</sparkle:version>")
        + (link.isEmpty() ? "" : "<link>" + link + "</link>") + "</item>\n";
}

// An item in the enclosure style: the versions as attributes of its <enclosure>.
QByteArray enclosureItem(const QByteArray &version, const QByteArray &url, const QByteArray &shortVersion = {})
{
    return "<item><title>Release</title><enclosure url=\"" + url + "\" type=\"application/octet-stream\""
        + (version.isEmpty() ? "" : " sparkle:version=\"" + version + "\"")
        + (shortVersion.isEmpty() ? "" : " sparkle:shortVersionString=\"" + shortVersion + "\"") + "/></item>\n";
}

TEST(UpdateChecker, ParsesAppcastFeeds)
{
    const struct {
        const char *name;
        QByteArray xml;
        QString version; // empty: no release expected
        QString pageOrError; // the release's page, or what the error says
    } cases[] = {
        { "element style", feed(elementItem("1.2.0", "https://pellux.example/1.2.0")), "1.2.0",
            "https://pellux.example/1.2.0" },
        { "enclosure style prefers the short version string",
            feed(enclosureItem("412", "https://pellux.example/p-1.3.tgz", "1.3")), "1.3",
            "https://pellux.example/p-1.3.tgz" },
        { "enclosure with only sparkle:version", feed(enclosureItem("2.0.1", "https://dl.example/p.tgz")), "2.0.1",
            "https://dl.example/p.tgz" },
        { "element short version wins over the enclosure's build number",
            feed("<item><sparkle:shortVersionString>1.4.0</sparkle:shortVersionString><enclosure "
                 "url=\"https://dl.example/a\" sparkle:version=\"99\"/></item>"),
            "1.4.0", "https://dl.example/a" },
        { "the link is preferred over the enclosure",
            feed("<item><link>https://pellux.example/page</link><enclosure url=\"https://dl.example/file\" "
                 "sparkle:version=\"1.0\"/></item>"),
            "1.0", "https://pellux.example/page" },
        { "several items: the newest wins wherever it stands",
            feed(elementItem("1.2.0", "https://p.example/a") + elementItem("1.10.0", "https://p.example/b")
                + elementItem("1.9.3", "https://p.example/c") + elementItem("1.10.0-rc1", "https://p.example/d")),
            "1.10.0", "https://p.example/b" },
        { "items without version or link are passed over",
            feed(elementItem("", "https://p.example/noversion") + elementItem("9.0", "")
                + elementItem("latest", "https://p.example/word") + elementItem("0.5", "https://p.example/ok")),
            "0.5", "https://p.example/ok" },
        { "a link that is not http(s) is not offered",
            feed(elementItem("3.0", "javascript:alert(1)") + elementItem("2.0", "file:///etc/passwd")
                + elementItem("1.0", "https://p.example/ok")),
            "1.0", "https://p.example/ok" },
        { "the channel's link is not an item's link", feed(elementItem("1.0", "")), {}, "none of the feed's 1" },
        { "a link nested deeper in the item is not the item's link",
            feed("<item><sparkle:version>1.0</sparkle:version><description><link>https://p.example/x</link>"
                 "</description></item>"),
            {}, "none of the feed's 1" },
        { "item without version", feed(elementItem("", "https://p.example/a")), {}, "version" },
        { "no items", feed(""), {}, "no releases" },
        { "malformed XML", "<rss><channel><item><sparkle:version>1.0</item></channel></rss>", {},
            "not well-formed XML" },
        { "not a feed", "<html><body>Not found</body></html>", {}, "not an RSS document" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const std::optional<AppcastItem> item = parseAppcast(c.xml, &error);
        EXPECT_EQ(item.has_value(), !c.version.isEmpty()) << error.toStdString();
        if (item) {
            EXPECT_EQ(item->version, c.version);
            EXPECT_EQ(item->downloadPage, QUrl(c.pageOrError));
        } else {
            EXPECT_TRUE(error.contains(c.pageOrError)) << error.toStdString();
        }
    }
}

TEST(UpdateChecker, ComparesVersions)
{
    const struct {
        const char *a, *b;
        int order;
    } cases[] = { { "1.10", "1.9", 1 }, { "1.0.10", "1.0.9", 1 }, { "2", "10", -1 }, { "0.1.0", "0.1.1", -1 },
        { "1.2", "1.2.0", 0 }, { "1.2.3", "1.2.3.1", -1 }, { "01.2", "1.2", 0 }, { "v1.3", "1.3.0", 0 },
        { "1.2.0+build5", "1.2.0", 0 }, { "1.2.0-beta1", "1.2.0", -1 }, { "1.2.0beta1", "1.2.0", -1 },
        { "1.2.0-beta1", "1.1.9", 1 }, { "1.2.0-beta2", "1.2.0-beta10", -1 }, { "1.2.0-rc1", "1.2.0-beta3", 1 },
        { "1.2.0-alpha", "1.2.0-alpha.1", -1 }, { "1.2.0-BETA1", "1.2.0-beta1", 0 },
        { "99999999999999999999999.0", "1.0", 1 }, { "18446744073709551616", "18446744073709551615", 1 } };
    for (const auto &c : cases) {
        EXPECT_EQ(compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(compareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
    }
    EXPECT_EQ(std::tuple(isComparableVersion("v2"), isComparableVersion("latest"), isComparableVersion({})),
        std::tuple(true, false, false));
}

// An HTTP answer with its body.
QByteArray answer(const QByteArray &status, const QByteArray &body, const QByteArray &headers = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n"
        + headers + "\r\n" + body;
}

// An HTTP server on 127.0.0.1 with one scripted answer per path; an empty one is never sent, the
// request is left waiting. It keeps every request it got, whole.
struct FeedServer {
    FeedServer()
    {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection())
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    QByteArray &request = pending[socket];
                    request += socket->readAll();
                    if (!request.contains("\r\n\r\n"))
                        return;
                    requests << std::exchange(request, {});
                    const QByteArray response
                        = routes.value(requests.back().split(' ').value(1), answer("404 Not Found", "no feed"));
                    socket->write(response);
                    if (!response.isEmpty())
                        socket->disconnectFromHost();
                });
        });
    }

    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()) + path);
    }

    QTcpServer server;
    QHash<QTcpSocket *, QByteArray> pending;
    QHash<QByteArray, QByteArray> routes;
    QList<QByteArray> requests;
};

// Runs one check (asking twice: the second is ignored while one is under way) and waits for its
// answer; exactly one answer comes.
UpdateCheckResult runCheck(UpdateChecker &checker)
{
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    checker.checkForUpdates();
    checker.checkForUpdates();
    test::runEventsUntil([&] { return !finished.isEmpty(); });
    for (int i = 0; i < 10; ++i) // any second answer would arrive by now
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(finished.size(), 1);
    EXPECT_FALSE(checker.isChecking());
    return finished.isEmpty() ? UpdateCheckResult { Status::Error, {}, {}, "no answer" }
                              : finished.first().first().value<UpdateCheckResult>();
}

TEST(UpdateChecker, ChecksAFeedServedOverHttp)
{
    FeedServer server;
    const auto ok = [](const QByteArray &body) { return answer("200 OK", body); };
    server.routes = { { "/newer.xml", ok(feed(elementItem("0.2.0", "https://pellux.example/0.2.0"))) },
        { "/same.xml", ok(feed(enclosureItem("7", "https://dl.example/p.tgz", "0.1.0"))) },
        { "/prerelease.xml", ok(feed(elementItem("0.1.0-rc2", "https://pellux.example/rc"))) },
        { "/garbage.xml", ok("\x01<<<this is not a feed") },
        { "/error.xml", answer("500 Internal Server Error", "oops") }, { "/silent.xml", {} },
        { "/moved.xml", answer("302 Found", {}, "Location: /newer.xml\r\n") },
        { "/away.xml", answer("302 Found", {}, "Location: http://pellux.example/feed.xml\r\n") },
        { "/huge.xml",
            ok(feed(elementItem("9.0", "https://p.example/") + QByteArray(UpdateChecker::kMaxFeedBytes, ' '))) } };
    const struct {
        QUrl url;
        Status status;
        QString latestOrError; // the newest version found, or what the error says
    } cases[] = {
        { server.url("/newer.xml"), Status::UpdateAvailable, "0.2.0" },
        { server.url("/same.xml"), Status::UpToDate, "0.1.0" },
        { server.url("/prerelease.xml"), Status::UpToDate, "0.1.0-rc2" },
        { server.url("/moved.xml"), Status::UpdateAvailable, "0.2.0" },
        { server.url("/missing.xml"), Status::Error, "HTTP 404 (Not Found)" },
        { server.url("/error.xml"), Status::Error, "HTTP 500" },
        { server.url("/garbage.xml"), Status::Error, "could not be read" },
        { server.url("/silent.xml"), Status::Error, "did not answer within 0.5 seconds" },
        { server.url("/away.xml"), Status::Error, "redirected to http://pellux.example/feed.xml" },
        { server.url("/huge.xml"), Status::Error, "larger than 1 MB" },
        { QUrl("http://pellux.example/feed.xml"), Status::Error, "not an HTTPS address" },
        { QUrl("file:///etc/passwd"), Status::Error, "not an HTTPS address" },
        { QUrl("http://127.0.0.1:1/feed.xml"), Status::Error, "Could not reach" },
        { QUrl(), Status::NotConfigured, {} },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url.toString().toStdString());
        UpdateChecker checker(c.url, QStringLiteral("0.1.0"));
        checker.setTimeout(std::chrono::milliseconds(500));
        const UpdateCheckResult result = runCheck(checker);
        EXPECT_EQ(result.status, c.status) << result.errorMessage.toStdString();
        EXPECT_EQ(result.currentVersion, QStringLiteral("0.1.0"));
        if (c.status == Status::Error) {
            EXPECT_FALSE(result.latest.has_value());
            EXPECT_TRUE(result.errorMessage.contains(c.latestOrError)) << result.errorMessage.toStdString();
        } else {
            EXPECT_EQ(result.latest ? result.latest->version : QString(), c.latestOrError);
            EXPECT_TRUE(result.errorMessage.isEmpty());
        }
    }
    // The checker can be asked again after an answer, and asks the server again. It only ever
    // fetches its feed, sending nothing of its own.
    UpdateChecker checker(server.url("/newer.xml"), QStringLiteral("0.1.0"));
    const qsizetype before = server.requests.size();
    EXPECT_EQ(runCheck(checker).status, Status::UpdateAvailable);
    EXPECT_EQ(runCheck(checker).status, Status::UpdateAvailable);
    EXPECT_EQ(server.requests.size(), before + 2);
    for (const QByteArray &request : server.requests)
        EXPECT_TRUE(request.startsWith("GET /") && request.endsWith("\r\n\r\n")) << request.toStdString();
}

TEST(UpdateChecker, ResultBoxesSayWhatTheCheckFound)
{
    const AppcastItem release { "0.2.0", "Pellux 0.2.0", QUrl(QStringLiteral("https://pellux.example/0.2.0")) };
    const std::tuple<UpdateCheckResult, const char *, QStringList> cases[] = {
        { { Status::UpToDate, "0.1.0", AppcastItem { "0.1.0", {}, {} }, {} }, "Pellux 0.1.0 is the newest", { "OK" } },
        { { Status::UpdateAvailable, "0.1.0", release, {} }, "Pellux 0.2.0 is available; you have 0.1.0.",
            { "Not Now", "Open Download Page" } },
        { { Status::Error, "0.1.0", {}, "The update server answered HTTP 404 (Not Found)." }, "HTTP 404", { "OK" } },
        { { Status::NotConfigured, "0.1.0", {}, {} }, "package manager", { "OK" } },
    };
    for (const auto &[result, informative, expected] : cases) {
        const std::unique_ptr<AlertDialog> box = makeUpdateResultBox(result);
        EXPECT_TRUE(box->informativeText().contains(QLatin1String(informative)))
            << box->informativeText().toStdString();
        QStringList buttons;
        for (QPushButton *button : box->buttons())
            buttons << button->text().remove(QLatin1Char('&'));
        buttons.sort();
        EXPECT_EQ(buttons, expected);
        EXPECT_FALSE(box->isVisible());
    }
}

} // namespace
} // namespace pellux
