// The first start's sheet over the search window, with and without a tray: what it says, where its
// buttons lead, and that once dismissed it never comes back.
#include "WindowRender.h"
#include "runtime/StoreLayout.h"
#include "ui/AppControls.h"
#include "ui/FirstRun.h"
#include "ui/SearchWindow.h"

namespace pellux::test {
namespace {

class FirstRunSheet : public WindowTest {
protected:
    FirstRunSheet() { start(); }

    QObject *sheet() const { return find<QObject>(window->window(), "firstRunSheet"); }
    QString text(const char *name) const { return find<QObject>(window->window(), name)->property("text").toString(); }

    void open(AppControls *controls)
    {
        window = std::make_unique<SearchWindow>(SearchWindow::Components { nullptr, pipeline.storage.get(),
            pipeline.database.get(), nullptr, &pipeline.clock, std::nullopt, nullptr, controls });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window->window()));
    }

    std::unique_ptr<SearchWindow> window;
};

TEST_F(FirstRunSheet, ShownOnceWithAndWithoutATray)
{
    const struct {
        const char *name;
        bool tray, capturing, canCapture;
        bool settingsFileKept; // else the very first start: no settings file at all
        const char *pause, *dismiss;
        int resumes;
    } cases[] = {
        { "first-run-tray", true, true, true, false, "tray icon's menu", "Got It", 0 },
        { "first-run-no-tray", false, false, true, true, "no tray icon", "Start Recording", 1 },
        { "first-run-no-permission", true, false, false, true, "tray icon's menu", "Got It", 0 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.settingsFileKept)
            ASSERT_FALSE(AppPreferences::storeValue(QStringLiteral("notices/firstRunDismissed"), false));
        else
            ASSERT_TRUE(QFile::remove(AppPreferences::settingsFilePath()));
        int privacy = 0, resumes = 0;
        AppControls controls({ {}, {}, {}, {}, {}, [&] { ++resumes; }, [&] { return c.tray; }, [&] { ++privacy; } });
        controls.setState(c.capturing, c.canCapture, std::nullopt);
        open(&controls);
        ASSERT_TRUE(sheet()->property("visible").toBool());
        EXPECT_EQ(text("firstRunStoreFolder"),
            "In " + StoreLayout::standard().root()
                + ", on this computer only. Nothing you record leaves this machine.");
        EXPECT_TRUE(text("firstRunPauseText").contains(QLatin1String(c.pause)));
        EXPECT_TRUE(text("firstRunPauseText").contains(QLatin1String("Ctrl+P")));
        EXPECT_EQ(text("firstRunDismissButton"), c.dismiss);
        renderWindow(window->window(), QLatin1String(c.name));

        QMetaObject::invokeMethod(find<QObject>(window->window(), "firstRunPrivacyButton"), "clicked");
        EXPECT_EQ(privacy, 1);
        EXPECT_TRUE(sheet()->property("visible").toBool());
        // Return is the sheet's button.
        QTest::keyClick(window->window(), Qt::Key_Return);
        EXPECT_TRUE(runEventsUntil([&] { return !sheet()->property("visible").toBool(); }));
        EXPECT_EQ(resumes, c.resumes);
        EXPECT_FALSE(FirstRun::isPending());

        // The next start shows the window without it.
        open(&controls);
        EXPECT_FALSE(sheet()->property("visible").toBool());
        window.reset();
    }
}

} // namespace
} // namespace pellux::test
