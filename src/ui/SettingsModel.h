#pragma once

#include "capture/CaptureBackend.h"
#include "persistence/AppPreferences.h"
#include "runtime/Clock.h"
#include "storage/StorageManager.h"

#include <QAbstractListModel>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVariantList>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

#include <qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pellux {

class ApplicationIcons;
class MainViewModel;
class SerialQueue;
class SimpleDatabaseManager;

// The running applications the picker lists, with whether each is excluded. Toggling an
// exclusion changes only that row's isExcluded, so the list keeps its place.
class ApplicationListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the settings model")
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Roles {
        NameRole = Qt::UserRole + 1,
        BundleIdentifierRole,
        ProcessIdRole,
        IsExcludedRole,
        IconSourceRole,
    };

    // The icon URL of an application, empty when it has none.
    using IconSource = std::function<QString(const RunningApplication &)>;

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return static_cast<int>(m_applications.size()); }
    const std::vector<RunningApplication> &applications() const { return m_applications; }
    // Replaces the list row by row (rows removed, inserted and changed in place), so a view keeps
    // its selection and scroll position when the running applications change.
    void setApplications(std::vector<RunningApplication> applications);
    void setExcluded(const QSet<QString> &excluded);
    void setIconSource(IconSource iconSource);

signals:
    void countChanged();

private:
    std::vector<RunningApplication> m_applications;
    IconSource m_iconSource;
    QSet<QString> m_excluded;
};

// Everything the preferences window decides: its sections, the choices of each pane and what a
// change does (saved at once; the capture service takes the new value), the running applications
// that may be excluded, the deletions and the version text. The panes only lay it out. Main
// thread; preference and autostart file work runs on the queue "com.pellux.settings".
class SettingsModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the settings window")
    Q_PROPERTY(QVariantList sections READ sections CONSTANT)
    Q_PROPERTY(int selectedSection READ selectedSection WRITE setSelectedSection NOTIFY selectedSectionChanged)
    Q_PROPERTY(QVariantList intervalOptions READ intervalOptions CONSTANT)
    Q_PROPERTY(int intervalIndex READ intervalIndex NOTIFY preferencesChanged)
    // Below the interval menu: how often capture happens with the current choice.
    Q_PROPERTY(QString intervalCaption READ intervalCaption NOTIFY preferencesChanged)
    // Whether the screen can be read now (the Privacy pane's state).
    Q_PROPERTY(bool canReadScreen READ canReadScreen NOTIFY canReadScreenChanged)
    Q_PROPERTY(QVariantList retentionOptions READ retentionOptions CONSTANT)
    Q_PROPERTY(int retentionIndex READ retentionIndex NOTIFY preferencesChanged)
    Q_PROPERTY(bool keepsForever READ keepsForever NOTIFY preferencesChanged)
    Q_PROPERTY(int excludedCount READ excludedCount NOTIFY preferencesChanged)
    Q_PROPERTY(QString excludedCaption READ excludedCaption NOTIFY preferencesChanged)
    Q_PROPERTY(QString excludedCountText READ excludedCountText NOTIFY preferencesChanged)
    // One map per chip: name, bundleIdentifier, iconSource; ordered by name.
    Q_PROPERTY(QVariantList excludedChips READ excludedChips NOTIFY excludedChipsChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(pellux::ApplicationListModel *pickerApplications READ pickerApplications CONSTANT)
    Q_PROPERTY(bool isDeleting READ isDeleting NOTIFY isDeletingChanged)
    Q_PROPERTY(bool startAtLogin READ startAtLogin WRITE setStartAtLogin NOTIFY startAtLoginChanged)
    Q_PROPERTY(QString versionText READ versionText CONSTANT)
    Q_PROPERTY(QString contactAddress READ contactAddress CONSTANT)
    Q_PROPERTY(QString legalNotice READ legalNotice CONSTANT)

public:
    enum class Section { general, privacy, storage, about };
    Q_ENUM(Section)

    struct Option {
        QString label;
        double value;
    };
    // The fixed intervals, then capture that adapts to activity (value 0).
    static const std::vector<Option> &intervalChoices();
    static constexpr double kAdaptiveInterval = 0;
    // "Every 2 seconds while you work, up to every 30 seconds when idle", from the bounds the
    // activity monitor uses.
    static QString adaptiveIntervalText();
    static const std::vector<Option> &retentionChoices();

    // "1 app won't be captured", "2 apps won't be captured".
    static QString excludedCaptionFor(int count);
    // The applications the picker may list: each identifier once (compared ignoring case), and
    // never this process.
    static std::vector<RunningApplication> pickableApplications(
        std::vector<RunningApplication> applications, qint64 ownProcessId);
    // The picker's list: sorted by name (code points, stable), then, when the search text is not
    // empty, only the names that contain it ignoring case.
    static std::vector<RunningApplication> filteredApplications(
        std::vector<RunningApplication> applications, const QString &searchText);
    // "Version 0.1.0 (<build>)", each part "Unknown" when empty.
    static QString versionTextFor(const QString &version, const QString &build);
    // This build's version text, as the About pane and the About box show it.
    static QString applicationVersionText();
    // The icon URL of an application: its desktop entry by id, else by WM_CLASS.
    static QString iconSourceFor(const RunningApplication &application);
    // The icon URL when the application has an icon, else empty (the views draw a symbol then).
    QString iconSource(const RunningApplication &application) const;

    struct Components {
        MainViewModel *viewModel = nullptr;
        StorageManager *storage = nullptr;
        SimpleDatabaseManager *database = nullptr;
        CaptureBackend *backend = nullptr;
        const Clock *clock = &Clock::system();
    };

    explicit SettingsModel(Components components, QObject *parent = nullptr);
    ~SettingsModel() override;

    // The window the confirmation alert belongs to.
    void setWindow(QWindow *window) { m_window = window; }
    // Where the views' application icons come from; until it is ready (and without it) no
    // application has an icon.
    void setApplicationIcons(ApplicationIcons *icons);

    QVariantList sections() const;
    int selectedSection() const { return m_selectedSection; }
    void setSelectedSection(int section);

    QVariantList intervalOptions() const;
    int intervalIndex() const;
    QVariantList retentionOptions() const;
    int retentionIndex() const;
    // A choice of the menus, by its position: saved; an interval also restarts capture with it.
    Q_INVOKABLE void chooseInterval(int index);
    Q_INVOKABLE void chooseRetention(int index);
    QString intervalCaption() const;
    // Screenshots are kept forever (retention 0): none is ever old.
    bool keepsForever() const;
    bool canReadScreen() const;

    int excludedCount() const;
    QString excludedCaption() const { return excludedCaptionFor(excludedCount()); }
    QString excludedCountText() const;
    QVariantList excludedChips() const;
    // Adds the identifier to the excluded applications, or removes it; saved, and the running
    // capture skips (or takes again) the application from its next cycle.
    Q_INVOKABLE void toggleExcluded(const QString &bundleIdentifier);
    Q_INVOKABLE void removeExcluded(const QString &bundleIdentifier);
    // The picker's toggle: as toggleExcluded, and an application just excluded that has
    // screenshots is offered their deletion.
    Q_INVOKABLE void pickApplication(const QString &bundleIdentifier) { toggleExcludedAndOffer(bundleIdentifier); }
    QCoro::Task<std::optional<DeletionReport>> toggleExcludedAndOffer(QString bundleIdentifier);
    // While the picker is shown, the running applications are asked for again every few seconds.
    Q_INVOKABLE void setPickerShown(bool shown);
    static constexpr std::chrono::milliseconds kPickerRefreshInterval { 3000 };
    const QTimer &pickerRefreshTimer() const { return m_pickerRefresh; }

    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    ApplicationListModel *pickerApplications() const { return m_picker.get(); }
    const std::vector<RunningApplication> &availableApplications() const { return m_available; }
    // Asks the backend for the running applications; a failure keeps the list and logs a line.
    QCoro::Task<> loadAvailableApplications();

    // "Delete Old Screenshots": those older than the retention setting (none while they are kept
    // forever), confirmed first and reported after.
    Q_INVOKABLE void deleteOldRecordings() { cleanUpOldRecordings(); }
    QCoro::Task<std::optional<DeletionReport>> cleanUpOldRecordings();
    bool isDeleting() const { return m_isDeleting; }
    // "Delete All Data...": asks for confirmation, then runs deleteAllData().
    Q_INVOKABLE void requestDeleteAll();
    // Deletes every recording, then the database's rows; isDeleting while it runs.
    QCoro::Task<> deleteAllData();

    bool startAtLogin() const { return m_startAtLogin; }
    void setStartAtLogin(bool on);
    // Reads whether Pellux starts with the session (off the GUI thread).
    QCoro::Task<> loadStartAtLogin();

    QString versionText() const;
    QString contactAddress() const;
    QString legalNotice() const;
    Q_INVOKABLE void openPrivacySettings();
    Q_INVOKABLE void openContact();

    // Each opening of the window: the General pane, an empty search, the applications reloaded.
    void prepareForShow();

signals:
    void selectedSectionChanged();
    void preferencesChanged();
    void excludedChipsChanged();
    void searchTextChanged();
    void isDeletingChanged();
    void startAtLoginChanged();
    void canReadScreenChanged();
    // A changed preference was written and handed to the capture service, or could not be written
    // and the window shows the stored value again.
    void preferencesSaved(bool ok);
    void availableApplicationsLoaded();
    void startAtLoginApplied(bool ok);

private:
    enum class CaptureUpdate { reload, restart, none };

    const AppPreferences &preferences() const;
    QCoro::Task<> savePreferences(AppPreferences preferences, CaptureUpdate update);
    QCoro::Task<> applyStartAtLogin(bool on);
    void updatePicker();
    void updateExcluded();
    void setDeleting(bool on);
    void setStartAtLoginValue(bool on);

    Components m_components;
    std::unique_ptr<SerialQueue> m_files;
    std::unique_ptr<ApplicationListModel> m_picker;
    std::vector<RunningApplication> m_available;
    QPointer<QWindow> m_window;
    QPointer<ApplicationIcons> m_icons;
    int m_selectedSection = 0;
    QString m_searchText;
    bool m_isDeleting = false;
    bool m_startAtLogin = false;
    QTimer m_pickerRefresh;
    bool m_loadingApplications = false;
    quint64 m_startAtLoginGeneration = 0;
    quint64 m_preferencesEdit = 0;
};

} // namespace pellux
