#include "app/UpdateChecker.h"
#include "app/UpdateDialog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace pellux {
namespace {

using Status = UpdateCheckResult::Status;

QByteArray feed(const QByteArray &items)
{
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel>
    <title>Pellux</title>
    <link>https://pellux.example/channel</link>
)" + items
        + R"(
  </channel>
</rss>
)";
}

// An item in the element style: <sparkle:version> and a <link>.
QByteArray elementItem(const QByteArray &version, const QByteArray &link)
{
    QByteArray item = "<item><title>Pellux " + version + "</title>";
    if (!version.isEmpty())
        item += "<sparkle:version>" + version + "</sparkle:version>";
    if (!link.isEmpty())
        item += "<link>" + link + "</link>";
    return item + "</item>\n";
}

// An item in the enclosure style: the versions as attributes of its <enclosure>.
QByteArray enclosureItem(const QByteArray &version, const QByteArray &url, const QByteArray &shortVersion = {})
{
    QByteArray enclosure = "<enclosure url=\"" + url + "\" length=\"1024\" type=\"application/octet-stream\"";
    if (!version.isEmpty())
        enclosure += " sparkle:version=\"" + version + "\"";
    if (!shortVersion.isEmpty())
        enclosure += " sparkle:shortVersionString=\"" + shortVersion + "\"";
    return "<item><title>Release</title>" + enclosure + "/></item>\n";
}

struct ParseCase {
    const char *name;
    QByteArray xml;
    QString version; // empty: no release expected
    QString page;
    QString errorContains;
};

TEST(UpdateChecker, ParsesAppcastFeeds)
{
    const ParseCase cases[] = {
        { "element style", feed(elementItem("1.2.0", "https://pellux.example/1.2.0")), "1.2.0",
            "https://pellux.example/1.2.0", {} },
        { "enclosure style prefers the short version string",
            feed(enclosureItem("412", "https://pellux.example/pellux-1.3.tar.gz", "1.3")), "1.3",
            "https://pellux.example/pellux-1.3.tar.gz", {} },
        { "enclosure with only sparkle:version", feed(enclosureItem("2.0.1", "https://dl.example/p.tgz")), "2.0.1",
            "https://dl.example/p.tgz", {} },
        { "element short version wins over the enclosure's build number",
            feed("<item><sparkle:shortVersionString>1.4.0</sparkle:shortVersionString><enclosure "
                 "url=\"https://dl.example/a\" sparkle:version=\"99\"/></item>"),
            "1.4.0", "https://dl.example/a", {} },
        { "the link is preferred over the enclosure",
            feed("<item><link>https://pellux.example/page</link><enclosure url=\"https://dl.example/file\" "
                 "sparkle:version=\"1.0\"/></item>"),
            "1.0", "https://pellux.example/page", {} },
        { "several items: the newest wins wherever it stands",
            feed(elementItem("1.2.0", "https://p.example/a") + elementItem("1.10.0", "https://p.example/b")
                + elementItem("1.9.3", "https://p.example/c") + elementItem("1.10.0-rc1", "https://p.example/d")),
            "1.10.0", "https://p.example/b", {} },
        { "items without version or link are passed over",
            feed(elementItem("", "https://p.example/noversion") + elementItem("9.0", "")
                + elementItem("latest", "https://p.example/word") + elementItem("0.5", "https://p.example/ok")),
            "0.5", "https://p.example/ok", {} },
        { "a link that is not http(s) is not offered",
            feed(elementItem("3.0", "javascript:alert(1)") + elementItem("2.0", "file:///etc/passwd")
                + elementItem("1.0", "https://p.example/ok")),
            "1.0", "https://p.example/ok", {} },
        { "the channel's link is not an item's link", feed(elementItem("1.0", "")), {}, {}, "none of the feed's 1" },
        { "a link nested deeper in the item is not the item's link",
            feed("<item><sparkle:version>1.0</sparkle:version><description><link>https://p.example/x</link>"
                 "</description></item>"),
            {}, {}, "none of the feed's 1" },
        { "item without version", feed(elementItem("", "https://p.example/a")), {}, {}, "version" },
        { "no items", feed(""), {}, {}, "no releases" },
        { "malformed XML", "<rss><channel><item><sparkle:version>1.0</item></channel></rss>", {}, {},
            "not well-formed XML" },
        { "truncated", feed(elementItem("1.0", "https://p.example/a")).left(200), {}, {}, "not well-formed XML" },
        { "not a feed", "<html><body>Not found</body></html>", {}, {}, "not an RSS document" },
        { "empty body", "", {}, {}, "not well-formed XML" },
    };
    for (const ParseCase &c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const std::optional<AppcastItem> item = parseAppcast(c.xml, &error);
        if (c.version.isEmpty()) {
            EXPECT_FALSE(item.has_value());
            EXPECT_TRUE(error.contains(c.errorContains)) << error.toStdString();
        } else {
            ASSERT_TRUE(item.has_value()) << error.toStdString();
            EXPECT_EQ(item->version, c.version);
            EXPECT_EQ(item->downloadPage, QUrl(c.page));
        }
    }
}

TEST(UpdateChecker, ComparesVersions)
{
    struct Case {
        const char *a;
        const char *b;
        int order;
    };
    const Case cases[] = {
        { "1.10", "1.9", 1 },
        { "1.0.10", "1.0.9", 1 },
        { "2", "10", -1 },
        { "0.1.0", "0.1.1", -1 },
        { "1.2", "1.2.0", 0 },
        { "1.2.3", "1.2.3.1", -1 },
        { "01.2", "1.2", 0 },
        { "v1.3", "1.3.0", 0 },
        { "1.2.0+build5", "1.2.0", 0 },
        { "1.2.0-beta1", "1.2.0", -1 },
        { "1.2.0beta1", "1.2.0", -1 },
        { "1.2.0-beta1", "1.1.9", 1 },
        { "1.2.0-beta2", "1.2.0-beta10", -1 },
        { "1.2.0-rc1", "1.2.0-beta3", 1 },
        { "1.2.0-alpha", "1.2.0-alpha.1", -1 },
        { "1.2.0-BETA1", "1.2.0-beta1", 0 },
        { "99999999999999999999999.0", "1.0", 1 },
        { "18446744073709551616", "18446744073709551615", 1 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(compareVersions(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.order);
        EXPECT_EQ(compareVersions(QString::fromLatin1(c.b), QString::fromLatin1(c.a)), -c.order);
    }
    EXPECT_TRUE(isComparableVersion(QStringLiteral("v2")));
    EXPECT_FALSE(isComparableVersion(QStringLiteral("latest")));
    EXPECT_FALSE(isComparableVersion(QString()));
}

// An HTTP server on 127.0.0.1 with one scripted answer per path; a path marked silent is
// accepted and never answered.
class FeedServer {
public:
    struct Response {
        QByteArray statusLine = "200 OK";
        QByteArray body;
        QByteArray extraHeaders;
        bool silent = false;
    };

    FeedServer()
    {
        EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0)) << m_server.errorString().toStdString();
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
        });
    }

    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    QHash<QByteArray, Response> routes;
    int requests = 0;

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &request = m_pending[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        ++requests;
        const QByteArray path = request.split(' ').value(1);
        request.clear();
        const Response response = routes.value(path, Response { "404 Not Found", "no such feed" });
        if (response.silent)
            return;
        socket->write("HTTP/1.1 " + response.statusLine
            + "\r\nContent-Type: application/rss+xml\r\nContent-Length: " + QByteArray::number(response.body.size())
            + "\r\nConnection: close\r\n" + response.extraHeaders + "\r\n" + response.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
};

// Runs one check and waits for its answer, counting how many answers came.
UpdateCheckResult runCheck(UpdateChecker &checker, int *answers = nullptr)
{
    std::optional<UpdateCheckResult> result;
    int count = 0;
    const QMetaObject::Connection connection
        = QObject::connect(&checker, &UpdateChecker::finished, [&](const UpdateCheckResult &r) {
              result = r;
              ++count;
          });
    checker.checkForUpdates();
    checker.checkForUpdates(); // ignored: a check is under way
    QElapsedTimer guard;
    guard.start();
    while (!result && guard.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // Any second answer would arrive by now.
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QObject::disconnect(connection);
    if (answers)
        *answers = count;
    EXPECT_FALSE(checker.isChecking());
    return result.value_or(UpdateCheckResult { Status::Error, {}, {}, QStringLiteral("no answer at all") });
}

TEST(UpdateChecker, ChecksAFeedServedOverHttp)
{
    FeedServer server;
    server.routes["/newer.xml"] = { "200 OK", feed(elementItem("0.2.0", "https://pellux.example/0.2.0")) };
    server.routes["/same.xml"] = { "200 OK", feed(enclosureItem("7", "https://dl.example/p.tgz", "0.1.0")) };
    server.routes["/older.xml"] = { "200 OK", feed(elementItem("0.0.9", "https://pellux.example/0.0.9")) };
    server.routes["/prerelease.xml"] = { "200 OK", feed(elementItem("0.1.0-rc2", "https://pellux.example/rc")) };
    server.routes["/garbage.xml"] = { "200 OK", "\x01<<<this is not a feed" };
    server.routes["/html.xml"] = { "200 OK", "<html><body>Moved to our new site</body></html>" };
    server.routes["/error.xml"] = { "500 Internal Server Error", "oops" };
    server.routes["/silent.xml"] = { {}, {}, {}, true };
    server.routes["/moved.xml"] = { "302 Found", {}, "Location: /newer.xml\r\n" };
    server.routes["/away.xml"] = { "302 Found", {}, "Location: http://pellux.example/feed.xml\r\n" };
    server.routes["/huge.xml"]
        = { "200 OK", feed(elementItem("9.0", "https://p.example/") + QByteArray(UpdateChecker::kMaxFeedBytes, ' ')) };

    struct Case {
        const char *name;
        QUrl url;
        Status status;
        QString latest;
        QString errorContains;
    };
    const Case cases[] = {
        { "a newer version", server.url("/newer.xml"), Status::UpdateAvailable, "0.2.0", {} },
        { "the same version", server.url("/same.xml"), Status::UpToDate, "0.1.0", {} },
        { "an older version", server.url("/older.xml"), Status::UpToDate, "0.0.9", {} },
        { "a pre-release of the running version", server.url("/prerelease.xml"), Status::UpToDate, "0.1.0-rc2", {} },
        { "a redirect on the same server", server.url("/moved.xml"), Status::UpdateAvailable, "0.2.0", {} },
        { "not found", server.url("/missing.xml"), Status::Error, {}, "HTTP 404 (Not Found)" },
        { "server error", server.url("/error.xml"), Status::Error, {}, "HTTP 500" },
        { "garbage body", server.url("/garbage.xml"), Status::Error, {}, "could not be read" },
        { "a web page instead of a feed", server.url("/html.xml"), Status::Error, {}, "not an RSS document" },
        { "no answer", server.url("/silent.xml"), Status::Error, {}, "did not answer within 0.5 seconds" },
        { "a redirect to plain http elsewhere", server.url("/away.xml"), Status::Error, {},
            "redirected to http://pellux.example/feed.xml" },
        { "a feed too large", server.url("/huge.xml"), Status::Error, {}, "larger than 1 MB" },
        { "plain http to another machine", QUrl("http://pellux.example/feed.xml"), Status::Error, {},
            "not an HTTPS address" },
        { "not a web address", QUrl("file:///etc/passwd"), Status::Error, {}, "not an HTTPS address" },
        { "nothing listening", QUrl("http://127.0.0.1:1/feed.xml"), Status::Error, {}, "Could not reach" },
        { "no feed configured", QUrl(), Status::NotConfigured, {}, {} },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        UpdateChecker checker(c.url, QStringLiteral("0.1.0"));
        checker.setTimeout(std::chrono::milliseconds(500));
        int answers = 0;
        const UpdateCheckResult result = runCheck(checker, &answers);
        EXPECT_EQ(answers, 1);
        EXPECT_EQ(result.status, c.status) << result.errorMessage.toStdString();
        EXPECT_EQ(result.currentVersion, QStringLiteral("0.1.0"));
        if (c.latest.isEmpty()) {
            EXPECT_FALSE(result.latest.has_value());
        } else {
            ASSERT_TRUE(result.latest.has_value());
            EXPECT_EQ(result.latest->version, c.latest);
        }
        EXPECT_TRUE(result.errorMessage.contains(c.errorContains)) << result.errorMessage.toStdString();
        EXPECT_EQ(result.status == Status::Error, !result.errorMessage.isEmpty());
    }

    // The checker can be asked again after an answer, and asks the server again.
    UpdateChecker checker(server.url("/newer.xml"), QStringLiteral("0.1.0"));
    const int before = server.requests;
    EXPECT_EQ(runCheck(checker).status, Status::UpdateAvailable);
    EXPECT_EQ(runCheck(checker).status, Status::UpdateAvailable);
    EXPECT_EQ(server.requests, before + 2);
}

TEST(UpdateChecker, ResultBoxesSayWhatTheCheckFound)
{
    AppcastItem release { QStringLiteral("0.2.0"), QStringLiteral("Pellux 0.2.0"),
        QUrl(QStringLiteral("https://pellux.example/0.2.0")) };
    struct Case {
        UpdateCheckResult result;
        QString text;
        QString informativeContains;
        QStringList buttons;
    };
    const Case cases[] = {
        { { Status::UpToDate, "0.1.0", AppcastItem { "0.1.0", {}, {} }, {} }, "You're up to date",
            "Pellux 0.1.0 is the newest version available.", { "OK" } },
        { { Status::UpdateAvailable, "0.1.0", release, {} }, "A new version of Pellux is available!",
            "Pellux 0.2.0 is available; you have 0.1.0.", { "Open Download Page", "Not Now" } },
        { { Status::Error, "0.1.0", {}, "The update server answered HTTP 404 (Not Found)." }, "Update Error",
            "HTTP 404", { "OK" } },
        { { Status::NotConfigured, "0.1.0", {}, {} }, "Updates come from your distribution", "package manager",
            { "OK" } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const std::unique_ptr<QMessageBox> box = makeUpdateResultBox(c.result);
        EXPECT_EQ(box->text(), c.text);
        EXPECT_TRUE(box->informativeText().contains(c.informativeContains)) << box->informativeText().toStdString();
        QStringList buttons;
        for (QAbstractButton *button : box->buttons())
            buttons << button->text().remove(QLatin1Char('&'));
        buttons.sort();
        QStringList expected = c.buttons;
        expected.sort();
        EXPECT_EQ(buttons, expected);
        EXPECT_FALSE(box->isVisible());
    }
}

} // namespace
} // namespace pellux
