// Renders each pane of the preferences window and the application picker offscreen for a person to
// look at, over a real store and a fake list of running applications, one of them excluded.
#include "AlertRender.h"
#include "WindowRender.h"
#include "persistence/Autostart.h"
#include "ui/DeletionAlerts.h"
#include "ui/MainViewModel.h"
#include "ui/SettingsModel.h"
#include "ui/SettingsWindow.h"
#include "ui/WindowActions.h"

namespace pellux::test {
namespace {

class SettingsWindowRender : public WindowTest {
protected:
    void SetUp() override
    {
        // xterm's desktop entry (debian-xterm) has a real icon; the others fall back to the symbol.
        quint32 id = 0;
        for (const auto &[name, bundle] : { std::pair("XTerm", "debian-xterm"), { "Firefox", "firefox-esr" },
                 { "Code", "code" }, { "Thunderbird", "thunderbird" }, { "KeePassXC", "org.keepassxc.KeePassXC" } })
            addWindow(++id, QStringLiteral("%1 window").arg(name), name, bundle);
        AppPreferences preferences = AppPreferences::defaultValue();
        preferences.screenshotInterval = 5.0;
        preferences.retentionDays = 90;
        preferences.excludedApps = { "org.keepassxc.KeePassXC", "slack" };
        start(preferences);
        CapturePipeline::run(pipeline.service->captureTestScreenshot());
        viewModel = std::make_unique<MainViewModel>(
            MainViewModel::Components { pipeline.service.get(), &pipeline.backend, {} });
        window = std::make_unique<SettingsWindow>(SettingsWindow::Components {
            viewModel.get(), pipeline.storage.get(), pipeline.database.get(), &pipeline.backend, &pipeline.clock });
        ASSERT_TRUE(window->build());
        QSignalSpy loaded(window->model(), &SettingsModel::availableApplicationsLoaded);
        window->show();
        ASSERT_TRUE(received(loaded, 5000));
    }

    ~SettingsWindowRender() override { pipeline.service->stopCapturing(); }

    std::unique_ptr<MainViewModel> viewModel;
    std::unique_ptr<SettingsWindow> window;
};

TEST_F(SettingsWindowRender, EveryPaneAndThePicker)
{
    QQuickWindow *w = window->window();
    for (const auto &[section, pane] :
        { std::pair(0, "general"), { 1, "privacy" }, { 2, "storage" }, { 3, "about" } }) {
        window->model()->setSelectedSection(section);
        renderWindow(w, QStringLiteral("settings-%1").arg(pane), { { 800, 500 } });
    }
    // The running excluded application has a chip; the one that is not running only counts.
    EXPECT_EQ(find(w, "excludedCaption")->property("text"), QStringLiteral("2 apps won't be captured"));
    EXPECT_EQ(find(w, "excludedChips")->property("count"), 1);

    auto *picker = find<QQuickWindow>(w, "appPicker");
    QMetaObject::invokeMethod(picker, "open");
    EXPECT_EQ(find(picker, "pickerList")->property("count"), 5);
    EXPECT_EQ(find(picker, "excludedCountText")->property("text"), QStringLiteral("2 excluded"));
    const ApplicationListModel *apps = window->model()->pickerApplications();
    QStringList excluded;
    for (int row = 0; row < apps->rowCount(); ++row) {
        if (apps->index(row).data(ApplicationListModel::IsExcludedRole).toBool())
            excluded << apps->index(row).data(ApplicationListModel::NameRole).toString();
    }
    EXPECT_EQ(excluded, QStringList { "KeePassXC" });
    renderWindow(picker, "settings-picker", { { 500, 600 } });
    window->model()->setSearchText("TERM");
    EXPECT_EQ(find(picker, "pickerList")->property("count"), 1);
    renderWindow(picker, "settings-picker-search", { { 500, 600 } });
    picker->close();

    // Each opening starts on the General pane with an empty search.
    window->show();
    EXPECT_EQ(window->model()->selectedSection(), 0);
    EXPECT_TRUE(window->model()->searchText().isEmpty());

    // Done and Control+Escape close the window.
    QMetaObject::invokeMethod(find<QObject>(w, "doneButton"), "clicked");
    EXPECT_FALSE(w->isVisible());
    window->show();
    QTest::keyClick(w, Qt::Key_Escape, Qt::ControlModifier);
    EXPECT_FALSE(w->isVisible());
}

// The switch and the menus follow the model after the user moved them, also when it takes a
// change back; the delete button is disabled while the deletion runs.
TEST_F(SettingsWindowRender, TheControlsFollowTheModel)
{
    const QString folder = QFileInfo(autostartEntryPath()).absolutePath();
    QDir(folder).removeRecursively();
    ASSERT_TRUE(writeAll(folder, {})); // a file where the folder should be
    QObject *toggle = find<QObject>(window->window(), "startAtLoginSwitch");
    QSignalSpy applied(window->model(), &SettingsModel::startAtLoginApplied);
    QMetaObject::invokeMethod(toggle, "toggle");
    QMetaObject::invokeMethod(toggle, "toggled");
    ASSERT_TRUE(received(applied, 5000));
    EXPECT_FALSE(window->model()->startAtLogin());
    EXPECT_FALSE(toggle->property("checked").toBool());
    QFile::remove(folder);

    QObject *menu = find<QObject>(window->window(), "intervalPicker");
    menu->setProperty("currentIndex", 0);
    QMetaObject::invokeMethod(menu, "activated", Q_ARG(int, 0));
    QSignalSpy saved(window->model(), &SettingsModel::preferencesSaved);
    window->model()->chooseInterval(3);
    EXPECT_EQ(menu->property("currentIndex"), 3);
    ASSERT_TRUE(received(saved, 5000));

    window->model()->setSelectedSection(int(SettingsModel::Section::storage));
    QQuickItem *button = find(window->window(), "deleteAllButton");
    ASSERT_TRUE(button->isEnabled());
    window->model()->deleteAllData();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(runEventsUntil([&] { return button->isEnabled(); }));
}

// What the window says of the capture and asks before deleting: the Privacy pane with and
// without access to the screen, the adaptive interval, the picker listing XTerm once and never
// Pellux, the question after an exclusion, Clean Up and the deletion of old screenshots with
// their confirmations and reports.
TEST_F(SettingsWindowRender, CaptureStateAndTheDeletionQuestions)
{
    QQuickWindow *w = window->window();
    SettingsModel *model = window->model();
    ASSERT_TRUE(runEventsUntil([&] { return viewModel->hasScreenRecordingPermission(); }, 5000));
    model->setSelectedSection(int(SettingsModel::Section::privacy));
    for (const bool readable : { true, false }) {
        pipeline.backend.setPermission(readable);
        CapturePipeline::run(viewModel->recheckPermissions());
        EXPECT_EQ(find(w, "screenReadable")->isVisible(), readable);
        EXPECT_EQ(find(w, "permissionNeeded")->isVisible(), !readable);
        renderWindow(w, readable ? "settings-privacy-readable" : "settings-privacy-no-permission", { { 800, 500 } });
    }
    pipeline.backend.setPermission(true);
    CapturePipeline::run(viewModel->recheckPermissions());

    QSignalSpy saved(model, &SettingsModel::preferencesSaved);
    model->chooseInterval(int(SettingsModel::intervalChoices().size()) - 1);
    ASSERT_TRUE(received(saved));
    model->setSelectedSection(int(SettingsModel::Section::general));
    EXPECT_EQ(find(w, "intervalCaption")->property("text"), SettingsModel::adaptiveIntervalText());
    renderWindow(w, "settings-general-adaptive", { { 800, 500 } });

    addWindow(6, "second shell", "XTerm", "debian-xterm");
    WindowDescription own = FakeCaptureBackend::window(7, QRectF(0, 0, 640, 200), "Preferences", "Pellux", "pellux");
    own.owningApplication->processID = QCoreApplication::applicationPid();
    pipeline.backend.addWindow(own, CapturePipeline::textFrame("Preferences"));
    QSignalSpy loaded(model, &SettingsModel::availableApplicationsLoaded);
    model->loadAvailableApplications();
    ASSERT_TRUE(received(loaded));
    auto *picker = find<QQuickWindow>(w, "appPicker");
    QMetaObject::invokeMethod(picker, "open");
    // Shown windows report their visibility from the event loop.
    EXPECT_TRUE(runEventsUntil([&] { return model->pickerRefreshTimer().isActive(); }, 5000));
    EXPECT_EQ(find(picker, "pickerList")->property("count"), 5);
    renderWindow(picker, "settings-picker-once", { { 500, 600 } });
    {
        AlertRender alerts("settings-exclude-question", { "Delete", "OK" });
        const std::optional<DeletionReport> report = QCoro::waitFor(model->toggleExcludedAndOffer("debian-xterm"));
        ASSERT_TRUE(report && report->ok);
        ASSERT_EQ(alerts.messages.size(), 2);
        EXPECT_TRUE(alerts.messages[0].startsWith("Delete the ") && alerts.messages[0].endsWith("XTerm\u2069?"))
            << alerts.messages[0].toStdString();
        EXPECT_TRUE(alerts.messages[1].startsWith("Removed ")) << alerts.messages[1].toStdString();
    }
    picker->close();
    EXPECT_TRUE(runEventsUntil([&] { return !model->pickerRefreshTimer().isActive(); }, 5000));

    // Screenshots of 100 days ago, past the 90 days kept.
    const TimePoint present = pipeline.clock.now();
    pipeline.clock.set(fromSecondsSince1970(secondsSince1970(present) - 100 * 86400.0));
    addWindow(8, "old notes", "Notes", "notes");
    CapturePipeline::run(pipeline.service->captureTestScreenshot());
    pipeline.backend.removeWindow(8);
    pipeline.clock.set(present);
    const std::optional<qint64> old = QCoro::waitFor(pipeline.storage->countRecordings(90));
    ASSERT_TRUE(old && *old >= 1);
    {
        AlertRender alerts("cleanup", { "Delete Screenshots Older Than 90 Days", "Cancel" });
        WindowActions actions(viewModel.get(), *pipeline.storage);
        QSignalSpy finished(&actions, &WindowActions::cleanupFinished);
        actions.showCleanupOptions();
        ASSERT_TRUE(received(finished));
        EXPECT_EQ(alerts.messages, (QStringList { "Clean Up Storage", "Delete " + screenshotCountText(*old) + "?" }));
    }
    model->setSelectedSection(int(SettingsModel::Section::storage));
    {
        AlertRender alerts("settings-delete-old", { "Delete", "OK" });
        const std::optional<DeletionReport> report = QCoro::waitFor(model->cleanUpOldRecordings());
        ASSERT_TRUE(report && report->ok);
        EXPECT_EQ(report->count, *old);
        ASSERT_EQ(alerts.messages.size(), 2);
        EXPECT_TRUE(alerts.messages[1].startsWith("Removed " + screenshotCountText(*old) + ", "))
            << alerts.messages[1].toStdString();
    }
    EXPECT_TRUE(find(w, "deleteOldButton")->isEnabled());
    QSignalSpy kept(model, &SettingsModel::preferencesSaved);
    model->chooseRetention(int(SettingsModel::retentionChoices().size()) - 1);
    ASSERT_TRUE(received(kept));
    EXPECT_FALSE(find(w, "deleteOldButton")->isEnabled());
    renderWindow(w, "settings-storage-forever", { { 800, 500 } });
}

} // namespace
} // namespace pellux::test
