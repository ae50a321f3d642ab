#include "ui/WindowActions.h"

#include "capture/CaptureBackendLoader.h"

#include "storage/StorageManager.h"
#include "ui/Alert.h"
#include "ui/MainViewModel.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QWindow>

#include <algorithm>
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
    return QStringLiteral("This will permanently delete all %1 screenshots. This action cannot be undone.")
        .arg(recordingCount);
}

void WindowActions::showCleanupOptions()
{
    CleanupChoice choice = askCleanupChoice();
    if (choice == CleanupChoice::deleteAll && !confirmDeleteAll())
        choice = CleanupChoice::cancel;
    applyCleanupChoice(choice);
}

void WindowActions::applyCleanupChoice(CleanupChoice choice)
{
    switch (choice) {
    case CleanupChoice::deleteOlderThan30Days:
        m_storage.deleteOldRecordings(cleanupRetentionDays);
        break;
    case CleanupChoice::deleteAll:
        m_storage.deleteAllRecordings();
        break;
    case CleanupChoice::cancel:
        break;
    }
}

WindowActions::CleanupChoice WindowActions::askCleanupChoice()
{
    // The buttons in the order of CleanupChoice.
    const int choice = runAlert(m_window, QMessageBox::Information, QStringLiteral("Clean Up Storage"),
        QStringLiteral("Choose how to free up storage space:"),
        { { QStringLiteral("Delete Screenshots Older Than 30 Days"), QMessageBox::AcceptRole },
            { QStringLiteral("Delete All Screenshots"), QMessageBox::DestructiveRole },
            { QStringLiteral("Cancel"), QMessageBox::RejectRole } },
        0, 2);
    return static_cast<CleanupChoice>(choice);
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
