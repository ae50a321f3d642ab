#pragma once

#include <QString>

#include <qcorotask.h>

#include <optional>

class QWindow;

namespace pellux {

class StorageManager;
struct DeletionReport;

// "1 screenshot", "1,204 screenshots": the count in the user's locale.
QString screenshotCountText(qint64 count);
// The alert's message after a deletion: "Removed 1,204 screenshots, 2.1 GB" (sizes as the storage
// toolbar shows them); on failure its reason, with what went before it.
QString deletionReportMessage(const DeletionReport &report);
QString deletionReportDetail(const DeletionReport &report);

// The clean-ups the windows offer, each asked, confirmed (the alerts default to keeping) and
// reported in alerts above `window`. Counts come from the database; the deletion runs on the
// store's queues. Main thread.
//
// Deletes the screenshots older than `days` days after showing how many there are.
QCoro::Task<std::optional<DeletionReport>> cleanUpOlderThan(QWindow *window, StorageManager &storage, int days);
// Offers to delete the screenshots of an application just excluded from capture, when it has any;
// `appName` is shown as plain text. Absent when nothing was deleted.
QCoro::Task<std::optional<DeletionReport>> offerToDeleteApplication(
    QWindow *window, StorageManager &storage, QString appName);
// Shows what a deletion removed, or why it failed.
void showDeletionReport(QWindow *window, const DeletionReport &report);

} // namespace pellux
