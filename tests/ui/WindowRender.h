#pragma once

// The windows' tests: the real capture pipeline in a private home over fake windows that show
// text, and Qt Quick windows rendered offscreen to PNG files (in $PELLUX_RENDER_DIR, else
// build/ui-renders) for a person to look at. A picture that is missing or shows nothing but the
// background fails.

#include "support/CapturePipeline.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace pellux::test {

// True once the spy has seen its signal (which may have come before the wait began).
inline bool received(QSignalSpy &spy, int timeoutMs = 10'000) { return !spy.isEmpty() || spy.wait(timeoutMs); }

// True while any visible image of the scene is still loading.
inline bool imagesLoading(QQuickItem *root)
{
    const QList<QQuickItem *> items = root->findChildren<QQuickItem *>();
    return std::any_of(items.begin(), items.end(), [](QQuickItem *item) {
        return item->isVisible() && item->inherits("QQuickImage") && item->property("status").toInt() == 2; // Loading
    });
}

// Saves the window at each size as <name>-<width>x<height>.png, once layout and images settled.
inline void renderWindow(QQuickWindow *w, const QString &name, std::initializer_list<QSize> sizes = { { 800, 600 } })
{
    const QString folder = qEnvironmentVariable("PELLUX_RENDER_DIR", QStringLiteral(PELLUX_BINARY_DIR "/ui-renders"));
    QDir().mkpath(folder);
    for (const QSize size : sizes) {
        w->resize(size);
        runEventsUntil([&] { return w->contentItem()->width() == size.width(); }, 2000);
        // Layout settles, then the images of the new size load.
        for (int i = 0; i < 3; ++i) {
            QTest::qWait(50);
            runEventsUntil([&] { return !imagesLoading(w->contentItem()); });
        }
        const QImage picture = w->grabWindow();
        ASSERT_EQ(picture.size(), size) << name.toStdString();
        // Something besides the background was drawn.
        const QRgb corner = picture.pixel(1, picture.height() / 2);
        bool drawn = false;
        for (int y = 0; y < picture.height() && !drawn; y += 7) {
            for (int x = 0; x < picture.width() && !drawn; x += 7)
                drawn = picture.pixel(x, y) != corner;
        }
        EXPECT_TRUE(drawn) << name.toStdString() << " is empty";
        EXPECT_TRUE(
            picture.save(QStringLiteral("%1/%2-%3x%4.png").arg(folder, name).arg(size.width()).arg(size.height())));
    }
}

class WindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

    // A 640x200 window showing its text in black on white.
    void addWindow(quint32 id, const QString &text, const QString &name = QStringLiteral("App"),
        const QString &bundle = QStringLiteral("app"))
    {
        pipeline.backend.addWindow(FakeCaptureBackend::window(id, QRectF(0, 0, 640, 200), text, name, bundle),
            CapturePipeline::textFrame(text));
    }

    // Saves the preferences, with a fixed capture interval, and makes the capture service.
    void start(AppPreferences preferences = AppPreferences::defaultValue())
    {
        preferences.useDynamicIntervals = false;
        pipeline.savePreferences(preferences);
        pipeline.makeService();
    }

    template <typename T = QQuickItem> static T *find(QObject *root, const char *name)
    {
        return root->findChild<T *>(QLatin1String(name));
    }

    CapturePipeline pipeline;
};

} // namespace pellux::test
