#include "app/UpdateChecker.h"

#include "runtime/Log.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QXmlStreamReader>

#include <algorithm>

namespace pellux {

namespace {

const QString kSparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

QStringView withoutPrefix(QStringView version)
{
    version = version.trimmed();
    if (version.startsWith(u'v', Qt::CaseInsensitive))
        version = version.mid(1);
    return version;
}

struct VersionParts {
    QList<QStringView> numbers;
    QStringView suffix;
};

VersionParts splitVersion(QStringView version)
{
    version = withoutPrefix(version);
    if (const qsizetype plus = version.indexOf(u'+'); plus >= 0)
        version = version.left(plus);
    qsizetype end = 0;
    while (end < version.size() && (isAsciiDigit(version[end]) || version[end] == u'.'))
        ++end;
    QStringView core = version.left(end);
    QStringView suffix = version.mid(end);
    while (core.endsWith(u'.'))
        core.chop(1);
    while (!suffix.isEmpty() && QStringView(u"-._~").contains(suffix.front()))
        suffix = suffix.mid(1);
    VersionParts parts;
    if (!core.isEmpty())
        parts.numbers = core.split(u'.');
    parts.suffix = suffix;
    return parts;
}

// Digit strings of any length, compared by value.
int compareNumbers(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == u'0')
        a = a.mid(1);
    while (b.size() > 1 && b.front() == u'0')
        b = b.mid(1);
    if (a.isEmpty())
        a = u"0";
    if (b.isEmpty())
        b = u"0";
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

// A pre-release suffix as runs of digits and of other characters: "beta.10" -> beta, 10.
QList<QStringView> suffixRuns(QStringView suffix)
{
    QList<QStringView> runs;
    qsizetype start = 0;
    while (start < suffix.size()) {
        if (QStringView(u"-._~").contains(suffix[start])) {
            ++start;
            continue;
        }
        const bool digits = isAsciiDigit(suffix[start]);
        qsizetype end = start + 1;
        while (
            end < suffix.size() && !QStringView(u"-._~").contains(suffix[end]) && isAsciiDigit(suffix[end]) == digits)
            ++end;
        runs.append(suffix.mid(start, end - start));
        start = end;
    }
    return runs;
}

int compareSuffixes(QStringView a, QStringView b)
{
    const QList<QStringView> runsA = suffixRuns(a);
    const QList<QStringView> runsB = suffixRuns(b);
    for (qsizetype i = 0; i < std::min(runsA.size(), runsB.size()); ++i) {
        const bool digitsA = isAsciiDigit(runsA[i].front());
        const bool digitsB = isAsciiDigit(runsB[i].front());
        int order = 0;
        if (digitsA && digitsB)
            order = compareNumbers(runsA[i], runsB[i]);
        else if (digitsA != digitsB)
            order = digitsA ? -1 : 1;
        else
            order = runsA[i].compare(runsB[i], Qt::CaseInsensitive);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    if (runsA.size() != runsB.size())
        return runsA.size() < runsB.size() ? -1 : 1;
    return 0;
}

// An http(s) address with a host, or an empty URL.
QUrl webAddress(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return {};
    return url;
}

bool isLocalHost(const QUrl &url)
{
    const QString host = url.host().toLower();
    return host == u"localhost" || QHostAddress(host).isLoopback();
}

struct ItemFields {
    QString title;
    QString link;
    QString version;
    QString shortVersion;
    QString enclosureUrl;
    QString enclosureVersion;
    QString enclosureShortVersion;
};

std::optional<AppcastItem> releaseOf(const ItemFields &item)
{
    AppcastItem release;
    for (const QString &candidate :
        { item.shortVersion, item.enclosureShortVersion, item.version, item.enclosureVersion }) {
        if (!candidate.trimmed().isEmpty()) {
            release.version = candidate.trimmed();
            break;
        }
    }
    if (!isComparableVersion(release.version))
        return std::nullopt;
    release.downloadPage = webAddress(item.link);
    if (release.downloadPage.isEmpty())
        release.downloadPage = webAddress(item.enclosureUrl);
    if (release.downloadPage.isEmpty())
        return std::nullopt;
    release.title = item.title;
    return release;
}

} // namespace

int compareVersions(const QString &a, const QString &b)
{
    const VersionParts partsA = splitVersion(a);
    const VersionParts partsB = splitVersion(b);
    const qsizetype count = std::max(partsA.numbers.size(), partsB.numbers.size());
    for (qsizetype i = 0; i < count; ++i) {
        const QStringView numberA = i < partsA.numbers.size() ? partsA.numbers[i] : QStringView(u"0");
        const QStringView numberB = i < partsB.numbers.size() ? partsB.numbers[i] : QStringView(u"0");
        if (const int order = compareNumbers(numberA, numberB); order != 0)
            return order < 0 ? -1 : 1;
    }
    if (partsA.suffix.isEmpty() || partsB.suffix.isEmpty()) {
        if (partsA.suffix.isEmpty() == partsB.suffix.isEmpty())
            return 0;
        // A release is newer than any of its pre-releases.
        return partsA.suffix.isEmpty() ? 1 : -1;
    }
    return compareSuffixes(partsA.suffix, partsB.suffix);
}

bool isComparableVersion(const QString &version)
{
    const QStringView stripped = withoutPrefix(version);
    return !stripped.isEmpty() && isAsciiDigit(stripped.front());
}

std::optional<AppcastItem> parseAppcast(const QByteArray &xml, QString *error)
{
    const auto fail = [error](const QString &why) -> std::optional<AppcastItem> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QXmlStreamReader reader(xml);
    bool sawRoot = false;
    bool inItem = false;
    int depthInItem = 0;
    int itemCount = 0;
    ItemFields item;
    std::optional<AppcastItem> newest;

    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            const QStringView name = reader.name();
            const QStringView ns = reader.namespaceUri();
            if (!sawRoot) {
                sawRoot = true;
                if (name != u"rss" || !ns.isEmpty())
                    return fail(QStringLiteral("the feed is not an RSS document (its root element is <%1>)")
                                    .arg(reader.qualifiedName()));
                continue;
            }
            if (!inItem) {
                if (name == u"item" && ns.isEmpty()) {
                    inItem = true;
                    depthInItem = 0;
                    item = {};
                    ++itemCount;
                }
                continue;
            }
            const auto text
                = [&reader] { return reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed(); };
            if (depthInItem == 0 && ns.isEmpty() && name == u"title") {
                item.title = text();
            } else if (depthInItem == 0 && ns.isEmpty() && name == u"link") {
                item.link = text();
            } else if (depthInItem == 0 && ns == kSparkleNamespace && name == u"version") {
                item.version = text();
            } else if (depthInItem == 0 && ns == kSparkleNamespace && name == u"shortVersionString") {
                item.shortVersion = text();
            } else {
                if (depthInItem == 0 && ns.isEmpty() && name == u"enclosure" && item.enclosureUrl.isEmpty()) {
                    const QXmlStreamAttributes attributes = reader.attributes();
                    item.enclosureUrl = attributes.value(QStringLiteral("url")).toString();
                    item.enclosureVersion = attributes.value(kSparkleNamespace, QStringLiteral("version")).toString();
                    item.enclosureShortVersion
                        = attributes.value(kSparkleNamespace, QStringLiteral("shortVersionString")).toString();
                }
                ++depthInItem;
            }
        } else if (reader.isEndElement() && inItem) {
            if (depthInItem > 0) {
                --depthInItem;
                continue;
            }
            inItem = false;
            std::optional<AppcastItem> release = releaseOf(item);
            if (!release) {
                log::debug(QStringLiteral("DEBUG Update feed: skipping item \"%1\" without a version and an "
                                          "http(s) link")
                               .arg(item.title));
                continue;
            }
            if (!newest || compareVersions(release->version, newest->version) > 0)
                newest = std::move(release);
        }
    }
    if (reader.hasError()) {
        QString reason = reader.errorString();
        if (reason.endsWith(u'.'))
            reason.chop(1);
        return fail(QStringLiteral("the feed is not well-formed XML (line %1, column %2: %3)")
                        .arg(reader.lineNumber())
                        .arg(reader.columnNumber())
                        .arg(reason));
    }
    if (!sawRoot)
        return fail(QStringLiteral("the feed is empty"));
    if (itemCount == 0)
        return fail(QStringLiteral("the feed lists no releases"));
    if (!newest)
        return fail(
            QStringLiteral("none of the feed's %1 release(s) has both a version and an http(s) link").arg(itemCount));
    return newest;
}

bool isAllowedFeedUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == u"https" || (scheme == u"http" && isLocalHost(url));
}

QUrl UpdateChecker::configuredFeedUrl()
{
#ifdef PELLUX_UPDATE_FEED_URL
    return QUrl(QStringLiteral(PELLUX_UPDATE_FEED_URL).trimmed());
#else
    return {};
#endif
}

UpdateChecker::UpdateChecker(QUrl feedUrl, QString currentVersion, QObject *parent)
    : QObject(parent)
    , m_feedUrl(std::move(feedUrl))
    , m_currentVersion(std::move(currentVersion))
{
    qRegisterMetaType<UpdateCheckResult>();
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (!m_reply)
            return;
        m_timedOut = true;
        m_reply->abort();
    });
}

UpdateChecker::~UpdateChecker()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void UpdateChecker::checkForUpdates()
{
    if (isChecking())
        return;
    if (m_feedUrl.isEmpty()) {
        UpdateCheckResult result;
        result.status = UpdateCheckResult::Status::NotConfigured;
        result.currentVersion = m_currentVersion;
        finishLater(std::move(result));
        return;
    }
    if (!isAllowedFeedUrl(m_feedUrl)) {
        finishLater(errorResult(
            QStringLiteral("The update feed address %1 is not an HTTPS address.").arg(m_feedUrl.toDisplayString())));
        return;
    }

    QNetworkRequest request(m_feedUrl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Pellux/%1").arg(m_currentVersion));
    request.setRawHeader("Accept", "application/rss+xml, application/xml;q=0.9, */*;q=0.1");
    // A feed on this machine is reached directly, whatever proxy the environment names.
    m_network.setProxy(isLocalHost(m_feedUrl) ? QNetworkProxy(QNetworkProxy::NoProxy) : QNetworkProxy());
    m_timedOut = false;
    m_tooLarge = false;
    m_refusedRedirect.clear();

    QNetworkReply *reply = m_network.get(request);
    m_reply = reply;
    connect(reply, &QNetworkReply::redirected, this, [this, reply](const QUrl &location) {
        const QUrl target = reply->url().resolved(location);
        if (isAllowedFeedUrl(target)) {
            emit reply->redirectAllowed();
        } else {
            m_refusedRedirect = target;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64 total) {
        if (received > kMaxFeedBytes || total > kMaxFeedBytes) {
            m_tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, &UpdateChecker::onReplyFinished);
    m_deadline.start(m_timeout);
}

void UpdateChecker::onReplyFinished()
{
    m_deadline.stop();
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();

    if (m_timedOut) {
        finish(errorResult(QStringLiteral("The update server did not answer within %1 seconds.")
                               .arg(double(m_timeout.count()) / 1000.0)));
        return;
    }
    if (m_tooLarge) {
        finish(errorResult(QStringLiteral("The update feed is larger than %1 MB.").arg(kMaxFeedBytes / (1024 * 1024))));
        return;
    }
    if (!m_refusedRedirect.isEmpty()) {
        finish(errorResult(QStringLiteral("The update server redirected to %1, which is not an HTTPS address.")
                               .arg(m_refusedRedirect.toDisplayString())));
        return;
    }
    const int httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (httpStatus != 0 && (httpStatus < 200 || httpStatus > 299)) {
        const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        finish(errorResult(QStringLiteral("The update server answered HTTP %1%2.")
                               .arg(httpStatus)
                               .arg(reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason))));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        finish(errorResult(QStringLiteral("Could not reach the update server: %1").arg(reply->errorString())));
        return;
    }
    finish(resultForFeed(reply->readAll()));
}

UpdateCheckResult UpdateChecker::resultForFeed(const QByteArray &body) const
{
    QString why;
    std::optional<AppcastItem> latest = parseAppcast(body, &why);
    if (!latest)
        return errorResult(QStringLiteral("The update feed could not be read: %1.").arg(why));
    UpdateCheckResult result;
    result.currentVersion = m_currentVersion;
    result.status = compareVersions(latest->version, m_currentVersion) > 0 ? UpdateCheckResult::Status::UpdateAvailable
                                                                           : UpdateCheckResult::Status::UpToDate;
    result.latest = std::move(latest);
    return result;
}

UpdateCheckResult UpdateChecker::errorResult(const QString &message) const
{
    UpdateCheckResult result;
    result.status = UpdateCheckResult::Status::Error;
    result.currentVersion = m_currentVersion;
    result.errorMessage = message;
    return result;
}

void UpdateChecker::finishLater(UpdateCheckResult result)
{
    m_pendingResult = true;
    QTimer::singleShot(0, this, [this, result = std::move(result)] { finish(result); });
}

void UpdateChecker::finish(UpdateCheckResult result)
{
    m_pendingResult = false;
    switch (result.status) {
    case UpdateCheckResult::Status::Error:
        log::failure(QStringLiteral("Update check failed: %1").arg(result.errorMessage));
        break;
    case UpdateCheckResult::Status::UpdateAvailable:
        log::info(QStringLiteral("Update check: Pellux %1 is available (running %2)")
                      .arg(result.latest->version, result.currentVersion));
        break;
    case UpdateCheckResult::Status::UpToDate:
        log::info(QStringLiteral("Update check: Pellux %1 is up to date").arg(result.currentVersion));
        break;
    case UpdateCheckResult::Status::NotConfigured:
        log::info(QStringLiteral("Update check: no update feed in this build; updates come from the distribution"));
        break;
    }
    emit finished(result);
}

} // namespace pellux
