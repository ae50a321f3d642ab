// Renders each pane of the preferences window and the application picker offscreen (to
// $PELLUX_RENDER_DIR, else build/ui-renders/settings-*.png) for a person to look at, over a real
// store and a fake list of running applications, one of them excluded.
#include "WindowRender.h"
#include "persistence/Autostart.h"
#include "support/CapturePipeline.h"
#include "ui/MainViewModel.h"
#include "ui/SettingsModel.h"
#include "ui/SettingsWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace pellux {
namespace {

using test::CapturePipeline;
using test::FakeCaptureBackend;

class SettingsWindowRenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

    SettingsWindowRenderTest()
    {
        // xterm's desktop entry (debian-xterm) has a real icon; the others fall back to the symbol.
        const struct {
            const char *name;
            const char *bundle;
        } running[] = { { "XTerm", "debian-xterm" }, { "Firefox", "firefox-esr" }, { "Code", "code" },
            { "Thunderbird", "thunderbird" }, { "KeePassXC", "org.keepassxc.KeePassXC" } };
        quint32 id = 1;
        for (const auto &r : running) {
            pipeline.backend.addWindow(FakeCaptureBackend::window(id, QRectF(0, 0, 640, 200), QStringLiteral("window"),
                                           QLatin1String(r.name), QLatin1String(r.bundle)),
                CapturePipeline::textFrame(QStringLiteral("%1 window").arg(QLatin1String(r.name))));
            ++id;
        }
        AppPreferences preferences = AppPreferences::defaultValue();
        preferences.useDynamicIntervals = false;
        preferences.screenshotInterval = 5.0;
        preferences.retentionDays = 90;
        preferences.excludedApps = { QStringLiteral("org.keepassxc.KeePassXC"), QStringLiteral("slack") };
        pipeline.savePreferences(preferences);
        pipeline.makeService();
        CapturePipeline::run(pipeline.service->captureTestScreenshot());
        viewModel = std::make_unique<MainViewModel>(
            MainViewModel::Components { pipeline.service.get(), &pipeline.backend, {} });
        window = std::make_unique<SettingsWindow>(SettingsWindow::Components {
            viewModel.get(), pipeline.storage.get(), pipeline.database.get(), &pipeline.backend, &pipeline.clock });
    }

    ~SettingsWindowRenderTest() override { pipeline.service->stopCapturing(); }

    void show()
    {
        ASSERT_TRUE(window->build());
        QSignalSpy loaded(window->model(), &SettingsModel::availableApplicationsLoaded);
        window->show();
        if (loaded.isEmpty()) {
            ASSERT_TRUE(loaded.wait(5000));
        }
    }

    template <typename T> T *find(QObject *root, const char *name) const
    {
        return root->findChild<T *>(QLatin1String(name));
    }

    CapturePipeline pipeline;
    std::unique_ptr<MainViewModel> viewModel;
    std::unique_ptr<SettingsWindow> window;
};

TEST_F(SettingsWindowRenderTest, EveryPaneAndThePicker)
{
    show();
    QQuickWindow *w = window->window();

    const char *panes[] = { "general", "privacy", "storage", "about" };
    for (int section = 0; section < 4; ++section) {
        window->model()->setSelectedSection(section);
        test::renderWindow(w, QStringLiteral("settings-%1").arg(QLatin1String(panes[section])), { QSize(800, 500) });
    }
    // The running excluded application has a chip; the one that is not running only counts.
    EXPECT_EQ(find<QQuickItem>(w, "excludedCaption")->property("text"), QStringLiteral("2 apps won't be captured"));
    EXPECT_EQ(find<QQuickItem>(w, "excludedChips")->property("count"), 1);

    auto *picker = find<QQuickWindow>(w, "appPicker");
    ASSERT_NE(picker, nullptr);
    QMetaObject::invokeMethod(picker, "open");
    EXPECT_EQ(find<QQuickItem>(picker, "pickerList")->property("count"), 5);
    test::renderWindow(picker, QStringLiteral("settings-picker"), { QSize(500, 600) });
    window->model()->setSearchText(QStringLiteral("TERM"));
    EXPECT_EQ(find<QQuickItem>(picker, "pickerList")->property("count"), 1);
    test::renderWindow(picker, QStringLiteral("settings-picker-search"), { QSize(500, 600) });
    picker->close();

    // Each opening starts on the General pane with an empty search.
    window->show();
    EXPECT_EQ(window->model()->selectedSection(), 0);
    EXPECT_TRUE(window->model()->searchText().isEmpty());
}

TEST_F(SettingsWindowRenderTest, DeleteAllIsDisabledWhileItRuns)
{
    show();
    window->model()->setSelectedSection(int(SettingsModel::Section::storage));
    QQuickItem *button = find<QQuickItem>(window->window(), "deleteAllButton");
    ASSERT_TRUE(button && button->isEnabled());
    window->model()->deleteAllData();
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(test::runEventsUntil([&] { return button->isEnabled(); }));
}

// The switch and the menus follow the model after the user moved them, also when it takes a
// change back.
TEST_F(SettingsWindowRenderTest, TheSwitchGoesBackWhenTheEntryCannotBeWritten)
{
    const QString folder = QFileInfo(autostartEntryPath()).absolutePath();
    QDir(folder).removeRecursively();
    ASSERT_TRUE(test::writeAll(folder, {})); // a file where the folder should be
    show();
    QObject *toggle = find<QObject>(window->window(), "startAtLoginSwitch");
    ASSERT_NE(toggle, nullptr);
    QSignalSpy applied(window->model(), &SettingsModel::startAtLoginApplied);
    QMetaObject::invokeMethod(toggle, "toggle");
    QMetaObject::invokeMethod(toggle, "toggled");
    ASSERT_TRUE(!applied.isEmpty() || applied.wait(5000));
    EXPECT_FALSE(window->model()->startAtLogin());
    EXPECT_FALSE(toggle->property("checked").toBool());

    QObject *menu = find<QObject>(window->window(), "intervalPicker");
    menu->setProperty("currentIndex", 0);
    QMetaObject::invokeMethod(menu, "activated", Q_ARG(int, 0));
    QSignalSpy saved(window->model(), &SettingsModel::preferencesSaved);
    window->model()->chooseInterval(3);
    EXPECT_EQ(menu->property("currentIndex"), 3);
    ASSERT_TRUE(!saved.isEmpty() || saved.wait(5000));
    QFile::remove(folder);
}

TEST_F(SettingsWindowRenderTest, DoneAndControlEscapeClose)
{
    show();
    QQuickWindow *w = window->window();
    ASSERT_TRUE(w->isVisible());
    QMetaObject::invokeMethod(find<QObject>(w, "doneButton"), "clicked");
    EXPECT_FALSE(w->isVisible());
    show();
    ASSERT_TRUE(w->isVisible());
    QTest::keyClick(w, Qt::Key_Escape, Qt::ControlModifier);
    EXPECT_FALSE(w->isVisible());
}

} // namespace
} // namespace pellux
