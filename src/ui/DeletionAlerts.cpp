#include "ui/DeletionAlerts.h"

#include "storage/StorageManager.h"
#include "ui/Alert.h"
#include "ui/Formatting.h"

#include <QLocale>
#include <QPointer>
#include <QWindow>

namespace pellux {

QString screenshotCountText(qint64 count)
{
    return QStringLiteral("%1 %2").arg(
        QLocale().toString(count), count == 1 ? QStringLiteral("screenshot") : QStringLiteral("screenshots"));
}

QString deletionReportMessage(const DeletionReport &report)
{
    if (!report.ok)
        return QStringLiteral("Screenshots Could Not Be Deleted");
    if (report.count == 0)
        return QStringLiteral("No Screenshots Were Removed");
    return QStringLiteral("Removed %1, %2").arg(screenshotCountText(report.count), fileStyleByteCount(report.bytes));
}

QString deletionReportDetail(const DeletionReport &report)
{
    if (report.ok)
        return {};
    QString detail = report.failure;
    if (report.count > 0)
        detail += QStringLiteral(" %1 (%2) were removed before that.")
                      .arg(screenshotCountText(report.count), fileStyleByteCount(report.bytes));
    return detail;
}

void showDeletionReport(QWindow *window, const DeletionReport &report)
{
    runAlert(window, report.ok ? QMessageBox::Information : QMessageBox::Warning, deletionReportMessage(report),
        deletionReportDetail(report), { { QStringLiteral("OK"), QMessageBox::AcceptRole } }, 0, 0);
}

namespace {

// Asks before a deletion, with `keep` as the default and escape button; true when Delete was chosen.
bool confirmDeletion(
    QWindow *owner, QMessageBox::Icon icon, const QString &title, const QString &text, const QString &keep)
{
    return runAlert(owner, icon, title, text,
               { { QStringLiteral("Delete"), QMessageBox::DestructiveRole }, { keep, QMessageBox::RejectRole } }, 1, 1)
        == 0;
}

// Waits for a confirmed deletion and shows what it removed.
QCoro::Task<std::optional<DeletionReport>> reportWhenDone(QPointer<QWindow> owner, QCoro::Task<DeletionReport> deleting)
{
    const DeletionReport report = co_await deleting;
    showDeletionReport(owner, report);
    co_return report;
}

} // namespace

QCoro::Task<std::optional<DeletionReport>> cleanUpOlderThan(QWindow *window, StorageManager &storage, int days)
{
    QPointer<QWindow> owner(window);
    QPointer<StorageManager> store(&storage);
    const QString age = QStringLiteral("older than %1 day%2")
                            .arg(QLocale().toString(days), days == 1 ? QString() : QStringLiteral("s"));
    QCoro::Task<std::optional<qint64>> counting = storage.countRecordings(days);
    const std::optional<qint64> count = co_await counting;
    if (!store)
        co_return std::nullopt;
    if (!count) {
        const DeletionReport failed { .failure = QStringLiteral("The database could not count the screenshots.") };
        showDeletionReport(owner, failed);
        co_return failed;
    }
    if (*count == 0) {
        runAlert(owner, QMessageBox::Information,
            QStringLiteral("No Screenshots Older Than %1 Day%2")
                .arg(QLocale().toString(days), days == 1 ? QString() : QStringLiteral("s")),
            QStringLiteral("Nothing was deleted."), { { QStringLiteral("OK"), QMessageBox::AcceptRole } }, 0, 0);
        co_return std::nullopt;
    }
    const bool confirmed
        = confirmDeletion(owner, QMessageBox::Warning, QStringLiteral("Delete %1?").arg(screenshotCountText(*count)),
            QStringLiteral("Every screenshot %1 will be permanently deleted with its text. This cannot be undone.")
                .arg(age),
            QStringLiteral("Cancel"));
    if (!confirmed || !store)
        co_return std::nullopt;
    co_return co_await reportWhenDone(owner, store->deleteOldRecordings(days));
}

QCoro::Task<std::optional<DeletionReport>> offerToDeleteApplication(
    QWindow *window, StorageManager &storage, QString appName)
{
    QPointer<QWindow> owner(window);
    QPointer<StorageManager> store(&storage);
    QCoro::Task<std::optional<qint64>> counting = storage.countRecordings(std::nullopt, appName);
    const std::optional<qint64> count = co_await counting;
    // Nothing to offer; a count that failed was logged, and the exclusion stands either way.
    if (!store || !count || *count == 0)
        co_return std::nullopt;
    const QString existing = *count == 1
        ? QStringLiteral("the existing screenshot")
        : QStringLiteral("the %1 existing screenshots").arg(QLocale().toString(*count));
    // runAlert shows its texts as plain text: the name is the application's own.
    const bool confirmed = confirmDeletion(owner, QMessageBox::Question,
        QStringLiteral("Delete %1 of %2?").arg(existing, displayedName(appName, 80)),
        QStringLiteral("Pellux no longer captures this application. Its screenshots taken so far can be deleted "
                       "with their text, or kept and found as before."),
        QStringLiteral("Keep"));
    if (!confirmed || !store)
        co_return std::nullopt;
    co_return co_await reportWhenDone(owner, store->deleteRecordingsOfApplication(appName));
}

} // namespace pellux
