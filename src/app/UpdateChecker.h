#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <optional>

namespace pellux {

// One release offered by an appcast feed: an RSS <item> with a Sparkle-style version and a page
// (or file) to get it from.
struct AppcastItem {
    // What versions are compared by: sparkle:shortVersionString when the item has one (the
    // version people see, as PELLUX_VERSION is), else sparkle:version.
    QString version;
    QString title;
    // The item's <link>, else its enclosure's url; always http or https.
    QUrl downloadPage;
};

// The newest item of an appcast feed that has a version and an http(s) link; items lacking
// either are skipped. Sparkle's version and shortVersionString are read both as elements of the
// item and as attributes of its <enclosure>. Without such an item, or for a document that is not
// well-formed XML with an <rss> root, the answer is empty and `error` (when given) says why.
std::optional<AppcastItem> parseAppcast(const QByteArray &xml, QString *error = nullptr);

// Negative, zero or positive as version `a` is older than, equal to or newer than `b`. Dotted
// numbers compare numerically ("1.10" > "1.9", "1.2" == "1.2.0"); a leading "v" is ignored; a
// suffix marks a pre-release, older than the plain version ("1.2.0-beta1" < "1.2.0"), and
// suffixes compare by their dotted parts, digit runs numerically ("rc1" > "beta10" > "beta2");
// build metadata after "+" is ignored.
int compareVersions(const QString &a, const QString &b);

// True when `version` starts with a number (after an optional "v"): something compareVersions
// can place.
bool isComparableVersion(const QString &version);

struct UpdateCheckResult {
    enum class Status {
        UpToDate,
        UpdateAvailable,
        // Built without a feed address: updates come from the distribution.
        NotConfigured,
        Error,
    };
    Status status = Status::Error;
    QString currentVersion;
    // The feed's newest release (UpToDate and UpdateAvailable).
    std::optional<AppcastItem> latest;
    // Why the check failed (Error), written for the user.
    QString errorMessage;
};

// "Check for Updates...": fetches the appcast feed, picks its newest release and compares it with
// the running version. The feed is fetched over HTTPS; plain http is accepted only for a feed on
// this machine (127.0.0.1, ::1, localhost), which is what tests serve. Every check ends with
// exactly one `finished`, errors included. Main thread.
class UpdateChecker : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultTimeout { 15000 };
    // Feeds are a few kilobytes; a larger answer is refused rather than held in memory.
    static constexpr qint64 kMaxFeedBytes = 1024 * 1024;

    // The feed address this build was configured with (the CMake cache variable
    // PELLUX_UPDATE_FEED_URL); empty when updates come from the distribution.
    static QUrl configuredFeedUrl();

    explicit UpdateChecker(
        QUrl feedUrl, QString currentVersion = QStringLiteral(PELLUX_VERSION), QObject *parent = nullptr);
    ~UpdateChecker() override;

    // How long a whole check may take before it ends with a timeout error.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    bool isChecking() const { return m_reply != nullptr || m_pendingResult; }
    QUrl feedUrl() const { return m_feedUrl; }

    // Starts a check; `finished` follows asynchronously, also when no feed is configured or the
    // address is refused. A call while a check runs is ignored (that check's answer follows).
    void checkForUpdates();

signals:
    void finished(const pellux::UpdateCheckResult &result);

private:
    void finishLater(UpdateCheckResult result);
    void finish(UpdateCheckResult result);
    void onReplyFinished();
    UpdateCheckResult resultForFeed(const QByteArray &body) const;
    UpdateCheckResult errorResult(const QString &message) const;

    QUrl m_feedUrl;
    QString m_currentVersion;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    bool m_timedOut = false;
    bool m_tooLarge = false;
    QUrl m_refusedRedirect;
    bool m_pendingResult = false;
};

// Whether the checker fetches from `url`: https anywhere, http only on this machine.
bool isAllowedFeedUrl(const QUrl &url);

} // namespace pellux

Q_DECLARE_METATYPE(pellux::UpdateCheckResult)
