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

} // namespace
} // namespace pellux::test
