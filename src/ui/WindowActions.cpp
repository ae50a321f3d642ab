#include "ui/WindowActions.h"

#include "app/MainViewModel.h"
#include "storage/StorageManager.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QWindow>

namespace pellux {

namespace {

// Alerts are widgets; they are kept above the Qt Quick window they belong to.
void attach(QMessageBox &box, QWindow *window)
{
    box.setWindowModality(Qt::ApplicationModal);
    if (!window)
        return;
    box.winId();
    if (QWindow *handle = box.windowHandle())
        handle->setTransientParent(window);
}

} // namespace

WindowActions::WindowActions(MainViewModel *viewModel, StorageManager &storage, QObject *parent)
    : QObject(parent)
    , m_viewModel(viewModel)
    , m_storage(storage)
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
    QMessageBox box(QMessageBox::Information, QStringLiteral("Clean Up Storage"), QStringLiteral("Clean Up Storage"));
    box.setInformativeText(QStringLiteral("Choose how to free up storage space:"));
    QPushButton *older
        = box.addButton(QStringLiteral("Delete Screenshots Older Than 30 Days"), QMessageBox::AcceptRole);
    QPushButton *all = box.addButton(QStringLiteral("Delete All Screenshots"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(older);
    box.setEscapeButton(cancel);
    attach(box, m_window);
    box.exec();
    if (box.clickedButton() == older)
        return CleanupChoice::deleteOlderThan30Days;
    if (box.clickedButton() == all)
        return CleanupChoice::deleteAll;
    return CleanupChoice::cancel;
}

bool WindowActions::confirmDeleteAll()
{
    QMessageBox box(
        QMessageBox::Warning, QStringLiteral("Delete All Screenshots?"), QStringLiteral("Delete All Screenshots?"));
    box.setInformativeText(deleteAllInformativeText(m_storage.recordingCount()));
    QPushButton *deleteAll = box.addButton(QStringLiteral("Delete All"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    attach(box, m_window);
    box.exec();
    return box.clickedButton() == deleteAll;
}

bool WindowActions::showPermissionAlert()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Screen Recording Permission Required"),
        QStringLiteral("Screen Recording Permission Required"));
    box.setInformativeText(
        QStringLiteral("Pellux needs permission to record your screen. Grant access in Privacy & Security settings."));
    QPushButton *open = box.addButton(QStringLiteral("Open System Settings"), QMessageBox::AcceptRole);
    QPushButton *later = box.addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
    box.setDefaultButton(open);
    box.setEscapeButton(later);
    attach(box, m_window);
    box.exec();
    if (m_viewModel)
        m_viewModel->dismissPermissionAlert();
    if (box.clickedButton() != open)
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
