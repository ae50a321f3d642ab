#pragma once

#include "ui/PermissionGuide.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <QWindow>

#include <qcorotask.h>

namespace pellux {

class MainViewModel;
class StorageManager;

// What the search window asks of the desktop: the modal alerts (clean-up, permission) and the
// privacy settings. Main thread.
class WindowActions : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the search window")
    // The permission guide's steps for this desktop.
    Q_PROPERTY(QStringList permissionSteps READ permissionSteps CONSTANT)

public:
    // The answers of the clean-up alerts.
    enum class CleanupChoice { deleteOlderThanRetention, deleteAll, cancel };

    // The permission texts follow the desktop session (by default the one Pellux runs in).
    WindowActions(MainViewModel *viewModel, StorageManager &storage, QObject *parent = nullptr);
    WindowActions(MainViewModel *viewModel, StorageManager &storage, DesktopSession session, QObject *parent = nullptr);

    QStringList permissionSteps() const { return m_permissionGuide.steps; }

    // The window the alerts belong to.
    void setWindow(QWindow *window) { m_window = window; }

    // "Clean Up": asks how to free space (screenshots older than the retention setting, unless
    // they are kept forever, or all of them), confirms what goes, deletes, and reports.
    Q_INVOKABLE void showCleanupOptions() { cleanUp(); }
    QCoro::Task<> cleanUp();
    // The permission alert; true when the user chose to open the settings (then opened).
    Q_INVOKABLE bool showPermissionAlert();
    // The permission guide's "Check Permission": checks again, then emits permissionChecked.
    Q_INVOKABLE void checkPermission();
    Q_INVOKABLE void openPrivacySettings();

    // Where the screen-recording permission is explained: the help page shipped with Pellux.
    static QUrl privacySettingsUrl();
    // The confirmation text of a full deletion.
    static QString deleteAllInformativeText(int recordingCount);

signals:
    void permissionChecked(bool granted);
    // A clean-up ended: deleted and reported, cancelled, or refused.
    void cleanupFinished();

private:
    // Days screenshots are kept, from the preferences; 0 or less: forever.
    int retentionDays() const;
    CleanupChoice askCleanupChoice(int retentionDays);
    bool confirmDeleteAll();

    QPointer<MainViewModel> m_viewModel;
    StorageManager &m_storage;
    QPointer<QWindow> m_window;
    PermissionGuide m_permissionGuide;
};

} // namespace pellux
