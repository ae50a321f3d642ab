#include "ui/WindowActions.h"

#include "capture/CaptureBackendLoader.h"

#include "storage/StorageManager.h"
#include "ui/Alert.h"
#include "ui/DeletionAlerts.h"
#include "ui/MainViewModel.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QStandardPaths>
#include <QWindow>

#include <algorithm>
#include <array>
#include <vector>

namespace pellux {

WindowActions::WindowActions(MainViewModel *viewModel, StorageManager &storage, QObject *parent)
    : WindowActions(viewModel, storage, currentDesktopSession(), parent)
{
}

WindowActions::WindowActions(MainViewModel *viewModel, StorageManager &storage, DesktopSession session, QObject *parent)
    : QObject(parent)
    , m_viewModel(viewModel)
    , m_storage(storage)
    , m_permissionGuide(permissionGuideFor(session))
{
}

QString WindowActions::deleteAllInformativeText(int recordingCount)
{
    // "all 1 screenshot" reads wrong.
    return QStringLiteral("This will permanently delete %1%2. This action cannot be undone.")
        .arg(recordingCount == 1 ? QString() : QStringLiteral("all "), screenshotCountText(recordingCount));
}

int WindowActions::retentionDays() const
{
    return (m_viewModel ? m_viewModel->preferences() : AppPreferences::load()).retentionDays;
}

QCoro::Task<> WindowActions::cleanUp()
{
    QPointer<WindowActions> self(this);
    const int days = retentionDays();
    switch (askCleanupChoice(days)) {
    case CleanupChoice::deleteOlderThanRetention: {
        QCoro::Task<std::optional<DeletionReport>> cleaning = cleanUpOlderThan(m_window, m_storage, days);
        co_await cleaning;
        break;
    }
    case CleanupChoice::deleteAll:
        if (confirmDeleteAll()) {
            QCoro::Task<DeletionReport> deleting = m_storage.deleteAllRecordingsReported();
            const DeletionReport report = co_await deleting;
            if (self)
                showDeletionReport(m_window, report);
        }
        break;
    case CleanupChoice::cancel:
        break;
    }
    if (self)
        emit cleanupFinished();
}

WindowActions::CleanupChoice WindowActions::askCleanupChoice(int days)
{
    const AlertButton deleteAll { QStringLiteral("Delete All Screenshots"), QMessageBox::DestructiveRole };
    const AlertButton cancel { QStringLiteral("Cancel"), QMessageBox::RejectRole };
    if (days <= 0) {
        // Nothing is old while screenshots are kept forever.
        const int choice = runAlert(m_window, QMessageBox::Information, QStringLiteral("Clean Up Storage"),
            QStringLiteral("Screenshots are kept forever (Preferences, Storage). To free up space, delete all of "
                           "them or choose how long to keep them."),
            { deleteAll, cancel }, 1, 1);
        return choice == 0 ? CleanupChoice::deleteAll : CleanupChoice::cancel;
    }
    const int choice = runAlert(m_window, QMessageBox::Information, QStringLiteral("Clean Up Storage"),
        QStringLiteral("Choose how to free up storage space:"),
        { { QStringLiteral("Delete Screenshots Older Than %1 Day%2")
                  .arg(QLocale().toString(days), days == 1 ? QString() : QStringLiteral("s")),
              QMessageBox::AcceptRole },
            deleteAll, cancel },
        0, 2);
    return std::array { CleanupChoice::deleteOlderThanRetention, CleanupChoice::deleteAll,
        CleanupChoice::cancel }[size_t(choice)];
}

bool WindowActions::confirmDeleteAll()
{
    const int choice = runAlert(m_window, QMessageBox::Warning, QStringLiteral("Delete All Screenshots?"),
        deleteAllInformativeText(m_storage.recordingCount()),
        { { QStringLiteral("Delete All"), QMessageBox::DestructiveRole },
            { QStringLiteral("Cancel"), QMessageBox::RejectRole } },
        1, 1);
    return choice == 0;
}

bool WindowActions::showPermissionAlert()
{
    const int choice = runAlert(m_window, QMessageBox::Warning, QStringLiteral("Screen Recording Permission Required"),
        m_permissionGuide.alertText,
        { { m_permissionGuide.openSettingsButton, QMessageBox::AcceptRole },
            { QStringLiteral("Later"), QMessageBox::RejectRole } },
        0, 1);
    if (m_viewModel)
        m_viewModel->dismissPermissionAlert();
    if (choice != 0)
        return false;
    openPrivacySettings();
    return true;
}

void WindowActions::checkPermission()
{
    if (!m_viewModel) {
        emit permissionChecked(false);
        return;
    }
    QPointer<WindowActions> self(this);
    m_viewModel->recheckPermissions().then([self] {
        if (self)
            emit self->permissionChecked(self->m_viewModel && self->m_viewModel->hasScreenRecordingPermission());
    });
}

void WindowActions::openPrivacySettings() { QDesktopServices::openUrl(privacySettingsUrl()); }

QUrl WindowActions::privacySettingsUrl()
{
    // Next to the program in a build tree, else where `cmake --install` puts it.
    const QString name = QStringLiteral("help/screen-recording.html");
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    if (QFileInfo::exists(beside))
        return QUrl::fromLocalFile(beside);
    const QString installed
        = QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("pellux/") + name);
    if (!installed.isEmpty())
        return QUrl::fromLocalFile(installed);
    return QUrl::fromLocalFile(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../share/pellux/") + name));
}

} // namespace pellux
