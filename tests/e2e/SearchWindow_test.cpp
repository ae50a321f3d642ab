// The search window as a user meets it: `pellux` without a command captures a real xterm on a
// private X server and opens its window; typing a word the xterm shows brings up the recording's
// card, Down and Return open it large, Escape closes it again. What the window shows is read back
// from its pixels with `pellux ocr`; the grabs are kept in the build folder (e2e-grabs/).
#include "support/PelluxRun.h"

using namespace pellux;
using namespace pellux::test;

namespace {

// What a person sees in one window, read back from its pixels.
class WindowReader {
public:
    WindowReader(XvfbSession &session, quint32 window)
        : m_session(session)
        , m_window(window)
        , m_folder(QStringLiteral(PELLUX_BINARY_DIR "/e2e-grabs/SearchWindow"))
    {
        QDir().mkpath(m_folder);
    }

    // Grabs the window into <folder>/<name>.png (replacing an earlier grab of that name) and returns
    // the text recognised in it; empty when the grab or the recognition failed. Text recognition of
    // a whole window is fickle, so it reads three pictures and joins their text: the grab as it is,
    // a copy three times as large (the cards' 12-pixel grey captions are too small as they are),
    // and the bottom strip alone (the viewer's light-on-dark hint is lost in the whole picture).
    QString read(const QString &name)
    {
        m_last.clear();
        const QString path = m_folder + QLatin1Char('/') + name + ".png";
        QFile::remove(path);
        if (m_session.run({ "import", "-window", QString::number(m_window), "png:" + path }) != 0)
            return {};
        const QImage grab(path);
        if (grab.isNull())
            return {};
        const QString enlarged = m_scratch.filePath("enlarged.png");
        const QString bottom = m_scratch.filePath("bottom.png");
        constexpr int kStrip = 120;
        if (!grab.scaled(grab.size() * 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(enlarged)
            || !grab.copy(0, std::max(0, grab.height() - kStrip), grab.width(), kStrip).save(bottom))
            return {};
        PelluxRun ocr({ "ocr", path, enlarged, bottom }, m_session.display());
        ocr.finish(120'000);
        // Without the "==> file <==" line before each image's text.
        m_last = ocr.out().split('\n').filter(QRegularExpression("^(?!==> )")).join(' ').simplified();
        return m_last;
    }

    // Grabs and reads the window until `seen` holds for its text or the time is up.
    bool waitFor(const QString &name, const std::function<bool(const QString &)> &seen, int timeoutMs = 120'000)
    {
        return runEventsUntil([&] { return seen(read(name)); }, timeoutMs);
    }

    const QString &lastText() const { return m_last; }

private:
    XvfbSession &m_session;
    quint32 m_window;
    QString m_folder;
    QTemporaryDir m_scratch;
    QString m_last;
};

bool contains(const QString &text, const char *words)
{
    return text.contains(QLatin1String(words), Qt::CaseInsensitive);
}

int xdotool(XvfbSession &session, const QStringList &args) { return session.run(QStringList { "xdotool" } + args); }

} // namespace

TEST(SearchWindow, FindsACapturedXtermByItsTextAndShowsItsScreenshotLarge)
{
    TempHome home;
    XvfbSession session;
    ASSERT_TRUE(session.isRunning()) << session.errorString().toStdString();

    ASSERT_TRUE(home.saveFixedInterval());

    const QString title = "harbour inventory";
    ASSERT_TRUE(session.launchXterm(title, "zanzibar quartz 4711\n", { "60x8+0+0" }));

    // The tray application with its window on the session's display, not on the test's offscreen
    // platform.
    auto pellux = std::make_unique<PelluxRun>(QStringList {}, session.display(), PelluxRun::Platform::display);

    // 1. The xterm's frame is stored and its text can be searched.
    ASSERT_TRUE(runEventsUntil(
        [&] {
            return pellux->readError().contains("from XTerm for recording")
                && PelluxRun({ "search", "zanzibar" }, session.display()).finish(60'000) == 0;
        },
        240'000))
        << pellux->err().toStdString();

    // 2. The window, open since the start on an empty history, takes the capture into its timeline.
    const quint32 window = session.waitForWindow("Pellux", 60'000);
    ASSERT_NE(window, 0u) << pellux->err().toStdString();
    WindowReader screen(session, window);
    ASSERT_TRUE(screen.waitFor("1-timeline", [](const QString &text) {
        return contains(text, "Today") && contains(text, "zanzibar") && !contains(text, "Your Visual Memory");
    })) << screen.lastText().toStdString();

    ASSERT_EQ(xdotool(session, { "windowactivate", "--sync", QString::number(window) }), 0);
    ASSERT_EQ(xdotool(session, { "type", "--delay", "60", "zanzibar" }), 0);

    // 3. The card of the xterm, with its window title (the application's name is also on a filter
    // chip, so it proves nothing), and the blank slate gone.
    ASSERT_TRUE(screen.waitFor("2-results", [&](const QString &text) {
        return text.contains(title, Qt::CaseInsensitive) && contains(text, "XTerm")
            && !contains(text, "Your Visual Memory");
    })) << screen.lastText().toStdString();

    // 4. Down selects the card, Return opens the viewer; Escape closes it.
    ASSERT_EQ(xdotool(session, { "key", "--delay", "200", "Down", "Return" }), 0);
    ASSERT_TRUE(screen.waitFor("3-viewer", [](const QString &text) { return contains(text, "Double-click to zoom"); }))
        << screen.lastText().toStdString();

    ASSERT_EQ(xdotool(session, { "key", "Escape" }), 0);
    ASSERT_TRUE(screen.waitFor("4-viewer-closed", [&](const QString &text) {
        // The storage toolbar in place of the hint, and the card again with the xterm's text in its
        // preview (the selected card's caption is not always read).
        return !contains(text, "Double-click") && contains(text, "screenshots") && contains(text, "XTerm")
            && contains(text, "zanzibar quartz");
    })) << screen.lastText().toStdString();

    // 5. A stop ends the program cleanly, and the window logged no faults of its scene.
    pellux->terminate();
    ASSERT_EQ(pellux->finish(120'000), 0) << pellux->err().toStdString();
    EXPECT_FALSE(pellux->err().contains("qrc:/")) << pellux->err().toStdString();
    EXPECT_FALSE(pellux->err().contains("ERROR")) << pellux->err().toStdString();
}
