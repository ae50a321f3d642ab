#include "WindowRender.h"
#include "persistence/Autostart.h"
#include "support/AlertAnswers.h"
#include "support/CapturePipeline.h"
#include "support/ListedRecordings.h"
#include "support/LogCapture.h"
#include "ui/ApplicationIcons.h"
#include "ui/ImageProviders.h"
#include "ui/MainViewModel.h"
#include "ui/SettingsModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QQmlEngine>
#include <QQuickAsyncImageProvider>
#include <QQuickImageResponse>
#include <QQuickTextureFactory>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>

namespace pellux {
namespace {

using test::CapturePipeline;
using test::FakeCaptureBackend;

constexpr double kDay = 86400.0;

// True once the spy has seen its signal (which may have come before the wait began).
bool received(QSignalSpy &spy) { return !spy.isEmpty() || spy.wait(5000); }

RunningApplication app(const char *name, const char *bundle)
{
    return { QString::fromUtf8(name), QLatin1String(bundle), 0 };
}

QStringList names(const std::vector<RunningApplication> &applications)
{
    QStringList result;
    for (const RunningApplication &a : applications)
        result << a.applicationName + QLatin1Char('/') + a.bundleIdentifier;
    return result;
}

TEST(SettingsRules, ExcludedCaptionUsesTheSingularOnlyForOne)
{
    const struct {
        int count;
        const char *caption;
    } cases[]
        = { { 0, "0 apps won't be captured" }, { 1, "1 app won't be captured" }, { 2, "2 apps won't be captured" } };
    for (const auto &c : cases)
        EXPECT_EQ(SettingsModel::excludedCaptionFor(c.count), QLatin1String(c.caption)) << c.count;
}

TEST(SettingsRules, PickerSortsByCodePointsStablyAndFiltersIgnoringCase)
{
    const std::vector<RunningApplication> running { app("xterm", "uxterm"), app("Firefox", "firefox-esr"),
        app("XTerm", "debian-xterm"), app("Émacs", "emacs"), app("firefox", "firefox-nightly"),
        app("Firefox", "firefox"), app("Alacritty", "Alacritty") };
    const struct {
        const char *search;
        QStringList expected;
    } cases[] = {
        { "",
            { "Alacritty/Alacritty", "Firefox/firefox-esr", "Firefox/firefox", "XTerm/debian-xterm",
                "firefox/firefox-nightly", "xterm/uxterm", "Émacs/emacs" } },
        { "FIRE", { "Firefox/firefox-esr", "Firefox/firefox", "firefox/firefox-nightly" } },
        { "tErM", { "XTerm/debian-xterm", "xterm/uxterm" } },
        { "émacs", { "Émacs/emacs" } },
        { "nothing", {} },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(names(SettingsModel::filteredApplications(running, QString::fromUtf8(c.search))), c.expected)
            << c.search;
    }
}

TEST(SettingsRules, VersionTextNamesUnknownParts)
{
    EXPECT_EQ(SettingsModel::versionTextFor(QStringLiteral("0.1.0"), {}), QStringLiteral("Version 0.1.0 (Unknown)"));
}

AppPreferences fixedInterval(double seconds)
{
    AppPreferences preferences = AppPreferences::defaultValue();
    preferences.useDynamicIntervals = false;
    preferences.screenshotInterval = seconds;
    return preferences;
}

// A settings model over the real pipeline, with capture running at a fixed 10-second interval.
class SettingsModelTest : public ::testing::Test {
protected:
    SettingsModelTest()
    {
        addWindow(1, "XTerm", "debian-xterm", "shell prompt");
        addWindow(2, "Firefox", "firefox-esr", "release notes");
        pipeline.savePreferences(fixedInterval(10.0));
        pipeline.makeService();
        viewModel = std::make_unique<MainViewModel>(
            MainViewModel::Components { pipeline.service.get(), &pipeline.backend, {} });
        test::runEventsUntil([&] { return pipeline.service->isCapturing(); }, 5000);
        model = std::make_unique<SettingsModel>(SettingsModel::Components {
            viewModel.get(), pipeline.storage.get(), pipeline.database.get(), &pipeline.backend, &pipeline.clock });
    }

    ~SettingsModelTest() override { pipeline.service->stopCapturing(); }

    void addWindow(quint32 id, const char *name, const char *bundle, const char *text)
    {
        pipeline.backend.addWindow(FakeCaptureBackend::window(id, QRectF(0, 0, 640, 200), QLatin1String(text),
                                       QLatin1String(name), QLatin1String(bundle)),
            CapturePipeline::textFrame(QLatin1String(text)));
    }

    void loadApplications()
    {
        QSignalSpy loaded(model.get(), &SettingsModel::availableApplicationsLoaded);
        model->loadAvailableApplications();
        ASSERT_TRUE(received(loaded));
    }

    // Runs an edit and waits until it is written and handed to the capture service.
    void edit(const std::function<void()> &change)
    {
        QSignalSpy saved(model.get(), &SettingsModel::preferencesSaved);
        change();
        ASSERT_TRUE(received(saved));
        EXPECT_TRUE(saved.at(0).at(0).toBool());
    }

    // A recording of its own window, captured `ageDays` before the clock's present.
    Recording captureAged(double ageDays, quint32 windowId)
    {
        const TimePoint present = pipeline.clock.now();
        pipeline.clock.set(fromSecondsSince1970(secondsSince1970(present) - ageDays * kDay));
        addWindow(windowId, "Notes", "notes", QStringLiteral("note number %1").arg(windowId).toLatin1().constData());
        CapturePipeline::run(pipeline.service->captureTestScreenshot());
        pipeline.backend.removeWindow(windowId);
        pipeline.clock.set(present);
        for (const Recording &r : test::listedRecordings(*pipeline.storage)) {
            if (r.windowTitle == QStringLiteral("note number %1").arg(windowId))
                return r;
        }
        ADD_FAILURE() << "no recording of window " << windowId;
        return {};
    }

    bool rowExists(const Recording &recording)
    {
        std::atomic<bool> exists = false;
        pipeline.database->verifyRecordingExists(recording.id, [&](bool e) { exists = e; });
        pipeline.database->waitUntilIdle();
        return exists;
    }

    CapturePipeline pipeline;
    std::unique_ptr<MainViewModel> viewModel;
    std::unique_ptr<SettingsModel> model;
};

TEST_F(SettingsModelTest, ExcludedIdentifiersAreCountedButOnlyRunningOnesHaveChips)
{
    loadApplications();
    EXPECT_EQ(model->pickerApplications()->count(), 2);
    edit([&] { model->toggleExcluded(QStringLiteral("firefox-esr")); });
    edit([&] { model->toggleExcluded(QStringLiteral("keepassxc")); }); // not running
    EXPECT_EQ(model->excludedCaption(), QStringLiteral("2 apps won't be captured"));
    EXPECT_EQ(model->excludedCountText(), QStringLiteral("2 excluded"));
    const QVariantList chips = model->excludedChips();
    ASSERT_EQ(chips.size(), 1);
    EXPECT_EQ(chips[0].toMap().value(QStringLiteral("name")), QStringLiteral("Firefox"));

    ApplicationListModel *picker = model->pickerApplications();
    const auto excluded
        = [&](int row) { return picker->data(picker->index(row), ApplicationListModel::IsExcludedRole); };
    EXPECT_EQ(excluded(0), true); // Firefox
    EXPECT_EQ(excluded(1), false); // XTerm
    model->setSearchText(QStringLiteral("xTERM"));
    ASSERT_EQ(picker->count(), 1);
    EXPECT_EQ(picker->data(picker->index(0), ApplicationListModel::NameRole), QStringLiteral("XTerm"));
}

// An exclusion is saved and reaches the running capture from its next cycle, without a restart;
// taking it back (from the picker or the chip) lets the application be captured again.
TEST_F(SettingsModelTest, AnExclusionReachesTheRunningCaptureWithoutARestart)
{
    QSignalSpy capturing(pipeline.service.get(), &ScreenshotService::isCapturingChanged);
    const struct {
        const char *name;
        std::function<void()> undo;
    } undos[] = { { "picker", [&] { model->toggleExcluded(QStringLiteral("debian-xterm")); } },
        { "chip", [&] { model->removeExcluded(QStringLiteral("debian-xterm")); } } };
    for (const auto &u : undos) {
        SCOPED_TRACE(u.name);
        edit([&] { model->toggleExcluded(QStringLiteral("debian-xterm")); });
        EXPECT_TRUE(AppPreferences::load().excludedApps.contains(QStringLiteral("debian-xterm")));
        const size_t before = pipeline.backend.captureOrder().size();
        CapturePipeline::run(pipeline.service->runCaptureCycle());
        const std::vector<quint32> excludedCycle(
            pipeline.backend.captureOrder().begin() + long(before), pipeline.backend.captureOrder().end());
        EXPECT_EQ(excludedCycle, (std::vector<quint32> { 2 }));

        edit(u.undo);
        EXPECT_TRUE(AppPreferences::load().excludedApps.isEmpty());
        const size_t again = pipeline.backend.captureOrder().size();
        CapturePipeline::run(pipeline.service->runCaptureCycle());
        EXPECT_EQ(pipeline.backend.captureOrder().size() - again, 2u);
    }
    EXPECT_TRUE(pipeline.service->isCapturing());
    EXPECT_EQ(capturing.count(), 0);
}

// An edit that cannot be written is taken back, so the window never shows an exclusion that
// capture does not know about.
TEST_F(SettingsModelTest, AnEditThatCannotBeWrittenIsTakenBack)
{
    const QString folder = QFileInfo(AppPreferences::settingsFilePath()).absolutePath();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    QFile block(folder); // a file where the folder should be
    ASSERT_TRUE(block.open(QIODevice::WriteOnly));
    block.close();
    QSignalSpy saved(model.get(), &SettingsModel::preferencesSaved);
    model->toggleExcluded(QStringLiteral("debian-xterm"));
    ASSERT_TRUE(received(saved));
    EXPECT_FALSE(saved.at(0).at(0).toBool());
    EXPECT_TRUE(viewModel->preferences().excludedApps.isEmpty());
    EXPECT_EQ(model->excludedCaption(), QStringLiteral("0 apps won't be captured"));
    EXPECT_TRUE(pipeline.service->preferences().excludedApps.isEmpty());
    QFile::remove(folder);
}

TEST_F(SettingsModelTest, AnIntervalChangeIsSavedAndRestartsCaptureWithIt)
{
    QSignalSpy capturing(pipeline.service.get(), &ScreenshotService::isCapturingChanged);
    ASSERT_EQ(model->intervalOptions().size(), 4);
    EXPECT_EQ(model->intervalIndex(), 3); // "Every 10 seconds"
    edit([&] { model->chooseInterval(2); });
    EXPECT_EQ(AppPreferences::load().screenshotInterval, 5.0);
    EXPECT_EQ(model->intervalIndex(), 2);
    while (capturing.count() < 2)
        ASSERT_TRUE(capturing.wait(5000));
    EXPECT_TRUE(pipeline.service->isCapturing());
    EXPECT_EQ(pipeline.service->pendingCaptureInterval(), 5.0);
}

TEST_F(SettingsModelTest, OneYearKeepsOnlyTheLastYearsRecordings)
{
    pipeline.backend.removeWindow(1);
    pipeline.backend.removeWindow(2);
    const struct {
        double ageDays;
        bool kept;
    } ages[] = { { 400, false }, { 365.1, false }, { 364.9, true }, { 1, true } };
    std::vector<Recording> recordings;
    for (const auto &a : ages)
        recordings.push_back(captureAged(a.ageDays, quint32(10 + recordings.size())));
    ASSERT_EQ(pipeline.storage->recordingCount(), 4);

    edit([&] { model->chooseRetention(3); });
    EXPECT_EQ(AppPreferences::load().retentionDays, 365);
    QSignalSpy deleted(pipeline.storage.get(), &StorageManager::recordingsDeleted);
    model->deleteOldRecordings();
    ASSERT_TRUE(deleted.wait(10000));
    EXPECT_EQ(deleted.at(0).at(0).toInt(), 2);
    for (size_t i = 0; i < recordings.size(); ++i) {
        EXPECT_EQ(QFile::exists(recordings[i].localPath()), ages[i].kept) << ages[i].ageDays;
        EXPECT_EQ(rowExists(recordings[i]), ages[i].kept) << ages[i].ageDays;
    }
}

// A running application's icon is its desktop entry's, found by the bundle identifier (the entry's
// id), else by the WM_CLASS instance and class; the picker's URL carries both.
TEST_F(SettingsModelTest, ApplicationIconsByIdentifierThenWindowClass)
{
    const QString folder = pipeline.home.path() + QStringLiteral("/applications");
    QDir().mkpath(folder);
    QImage png(48, 48, QImage::Format_ARGB32);
    png.fill(QColor(10, 200, 30));
    const QString iconFile = pipeline.home.path() + QStringLiteral("/tool.png");
    ASSERT_TRUE(png.save(iconFile));
    test::writeAll(folder + QStringLiteral("/org.example.Editor.desktop"),
        "[Desktop Entry]\nType=Application\nIcon=" + iconFile.toUtf8() + "\n");
    test::writeAll(folder + QStringLiteral("/tool.desktop"),
        "[Desktop Entry]\nType=Application\nStartupWMClass=ToolClass\nIcon=" + iconFile.toUtf8() + "\n");
    ApplicationIcons icons(QStringList { folder });
    QQmlEngine engine;
    registerImageProviders(engine, *pipeline.database, icons);
    auto *provider = dynamic_cast<QQuickAsyncImageProvider *>(engine.imageProvider(QStringLiteral("appicon")));
    ASSERT_NE(provider, nullptr);
    QSignalSpy ready(&icons, &ApplicationIcons::readyChanged);
    ASSERT_TRUE(received(ready));
    model->setApplicationIcons(&icons);

    const struct {
        RunningApplication application;
        bool found;
    } cases[] = {
        { app("Some Name", "org.example.Editor"), true }, // the entry's id, whatever the class
        { app("ToolClass", "tool-instance"), true }, // no entry of that id: the window class
        { app("Other", "other"), false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.application.bundleIdentifier.toStdString());
        EXPECT_EQ(icons.hasApplicationIcon(c.application.applicationName, c.application.bundleIdentifier), c.found);
        EXPECT_EQ(model->iconSource(c.application).isEmpty(), !c.found);
        const QString url = SettingsModel::iconSourceFor(c.application);
        const QString id = QUrl(url).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).mid(1);
        std::unique_ptr<QQuickImageResponse> response(provider->requestImageResponse(id, QSize(32, 32)));
        QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
        ASSERT_TRUE(finished.wait(10000));
        std::unique_ptr<QQuickTextureFactory> texture(response->textureFactory());
        EXPECT_EQ(texture != nullptr, c.found);
        if (texture) {
            EXPECT_EQ(texture->image().pixelColor(16, 16).green(), 200);
        }
    }
}

TEST_F(SettingsModelTest, DeleteAllAsksFirstAndDisablesItselfWhileItRuns)
{
    pipeline.backend.removeWindow(1);
    pipeline.backend.removeWindow(2);
    captureAged(2, 10);
    captureAged(1, 11);
    const std::vector<Recording> recordings = test::listedRecordings(*pipeline.storage);
    ASSERT_EQ(recordings.size(), 2u);
    pipeline.service->stopCapturing();

    {
        test::AlertAnswers cancel({ QStringLiteral("Cancel") });
        model->requestDeleteAll();
        EXPECT_EQ(cancel.messages, QStringList { QStringLiteral("Delete All Data?") });
    }
    EXPECT_FALSE(model->isDeleting());
    EXPECT_EQ(pipeline.storage->recordingCount(), 2);

    QSignalSpy deleting(model.get(), &SettingsModel::isDeletingChanged);
    test::AlertAnswers confirm({ QStringLiteral("Delete") });
    model->requestDeleteAll();
    EXPECT_TRUE(model->isDeleting());
    model->requestDeleteAll(); // ignored while it runs
    ASSERT_TRUE(test::runEventsUntil([&] { return !model->isDeleting(); }));
    EXPECT_EQ(deleting.count(), 2);
    EXPECT_EQ(pipeline.storage->recordingCount(), 0);
    pipeline.database->waitUntilIdle();
    for (const Recording &r : recordings) {
        EXPECT_FALSE(QFile::exists(r.localPath()));
        EXPECT_FALSE(rowExists(r));
    }
}

TEST_F(SettingsModelTest, AFailedApplicationQueryKeepsTheListAndSaysWhy)
{
    loadApplications();
    ASSERT_EQ(model->pickerApplications()->count(), 2);
    test::LogCapture log(test::LogCapture::Verbosity::quiet);
    pipeline.backend.setContentError(
        CaptureError { QString::fromLatin1(captureFailureDomain), QStringLiteral("The X server went away") });
    loadApplications();
    EXPECT_TRUE(log.contains(QStringLiteral("Failed to load available apps: The X server went away")))
        << log.text().toStdString();
    EXPECT_EQ(model->pickerApplications()->count(), 2);
    EXPECT_EQ(model->availableApplications().size(), 2u);
}

// The switch writes the autostart entry off the GUI thread; when the entry cannot be written the
// switch goes back.
TEST_F(SettingsModelTest, StartAtLoginFollowsWhatCouldBeWritten)
{
    for (const bool blocked : { false, true }) {
        SCOPED_TRACE(blocked ? "blocked" : "writable");
        QFile::remove(autostartEntryPath());
        const QString folder = QFileInfo(autostartEntryPath()).absolutePath();
        QDir(folder).removeRecursively();
        if (blocked) {
            // A file where the folder should be: the entry cannot be written.
            QFile block(folder);
            ASSERT_TRUE(block.open(QIODevice::WriteOnly));
        }
        test::LogCapture log(test::LogCapture::Verbosity::quiet);
        QSignalSpy applied(model.get(), &SettingsModel::startAtLoginApplied);
        model->setStartAtLogin(true);
        ASSERT_TRUE(received(applied));
        EXPECT_EQ(model->startAtLogin(), !blocked);
        EXPECT_EQ(QFile::exists(autostartEntryPath()), !blocked);
        EXPECT_EQ(log.contains(QStringLiteral("ERROR Settings: Could not turn on starting Pellux at login")), blocked);
        if (!blocked) {
            applied.clear();
            model->setStartAtLogin(false);
            ASSERT_TRUE(received(applied));
            EXPECT_FALSE(QFile::exists(autostartEntryPath()));
        }
        QFile::remove(folder);
    }
}

} // namespace
} // namespace pellux
