// Renders each pane of the preferences window and the application picker offscreen for a person to
// look at, over a real store and a fake list of running applications, one of them excluded.
#include "WindowRender.h"
#include "persistence/Autostart.h"
#include "ui/MainViewModel.h"
#include "ui/SettingsModel.h"
#include "ui/SettingsWindow.h"

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
    EXPECT_EQ(apps->match(apps->index(0), ApplicationListModel::IsExcludedRole, true, -1).size(), 1);
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

// What the window says of the capture: the Privacy pane with and without access to the screen,
// the adaptive interval, the picker telling the model while it is shown (so it follows new
// applications), and Delete Old disabled when everything is kept. (The questions and reports of
// the deletions: the model and window-action tests.)
TEST_F(SettingsWindowRender, TheCaptureStateAndWhatCanBeDeleted)
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

    EXPECT_TRUE(find(w, "deleteOldButton")->isEnabled());
    QSignalSpy saved(model, &SettingsModel::preferencesSaved);
    model->chooseInterval(int(SettingsModel::intervalChoices().size()) - 1);
    model->chooseRetention(int(SettingsModel::retentionChoices().size()) - 1);
    ASSERT_TRUE(runEventsUntil([&] { return saved.count() == 2; }));
    model->setSelectedSection(int(SettingsModel::Section::general));
    EXPECT_EQ(find(w, "intervalCaption")->property("text"), SettingsModel::adaptiveIntervalText());
    renderWindow(w, "settings-general-adaptive", { { 800, 500 } });
    model->setSelectedSection(int(SettingsModel::Section::storage));
    EXPECT_FALSE(find(w, "deleteOldButton")->isEnabled());
    renderWindow(w, "settings-storage-forever", { { 800, 500 } });

    auto *picker = find<QQuickWindow>(w, "appPicker");
    QMetaObject::invokeMethod(picker, "open");
    // Shown windows report their visibility from the event loop.
    EXPECT_TRUE(runEventsUntil([&] { return model->pickerRefreshTimer().isActive(); }, 5000));
    picker->close();
    EXPECT_TRUE(runEventsUntil([&] { return !model->pickerRefreshTimer().isActive(); }, 5000));
}

} // namespace
} // namespace pellux::test
