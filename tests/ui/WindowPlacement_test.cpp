// The search window opens where it was last left, on a screen there is now.
#include "WindowRender.h"
#include "ui/SearchWindow.h"
#include "ui/WindowPlacement.h"

#include <QScreen>

namespace pellux::test {
namespace {

TEST(WindowPlacement, OnAScreenThereIsNow)
{
    const QRect left(0, 0, 1920, 1050), right(1920, 0, 2560, 1410);
    const QSize minimum(800, 600);
    const struct {
        const char *what;
        QRect saved;
        QList<QRect> screens;
        QRect placed;
    } cases[] = {
        { "none kept", {}, { left }, {} },
        { "where it was", { 100, 80, 900, 700 }, { left, right }, { 100, 80, 900, 700 } },
        { "on the second monitor", { 2200, 300, 1000, 800 }, { left, right }, { 2200, 300, 1000, 800 } },
        { "mostly on the second", { 1700, 100, 900, 700 }, { left, right }, { 1920, 100, 900, 700 } },
        { "second monitor unplugged", { 2200, 300, 1000, 800 }, { left }, { 920, 250, 1000, 800 } },
        { "hanging off the bottom", { 300, 900, 800, 600 }, { left }, { 300, 450, 800, 600 } },
        { "larger than the screen now", { -50, -20, 2400, 1300 }, { left }, { 0, 0, 1920, 1050 } },
        { "screen below the minimum", { 10, 10, 900, 700 }, { { 0, 0, 640, 480 } }, { 0, 0, 800, 600 } },
        { "primary screen right of a panel", { 0, 0, 800, 600 }, { { 60, 28, 1860, 1022 } }, { 60, 28, 800, 600 } },
    };
    for (const auto &c : cases)
        EXPECT_EQ(placeWindow(c.saved, c.screens, minimum), c.placed) << c.what;
}

// Hidden, moved or closed with the application, the window is found again at the next show,
// and a place on a screen that is gone is brought back onto this one.
TEST_F(WindowTest, TheSearchWindowKeepsItsPlace)
{
    start();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // The offscreen screen is no wider than the window's minimum: a narrower minimum leaves room.
    const QSize minimum(500, 400);
    const QRect inside(screen.topLeft() + QPoint(40, 30), QSize(600, 500));
    const auto makeWindow = [&] {
        return std::make_unique<SearchWindow>(SearchWindow::Components { nullptr, pipeline.storage.get(),
            pipeline.database.get(), nullptr, &pipeline.clock, std::nullopt, nullptr, nullptr });
    };
    const auto shownAt = [&](SearchWindow &w) {
        EXPECT_TRUE(w.build());
        w.window()->setMinimumSize(minimum);
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.window()));
        return w.window()->geometry();
    };
    // The window system reports a move or resize later, as it would.
    const auto placeAt = [&](SearchWindow &w, const QRect &place) {
        w.window()->setGeometry(place);
        EXPECT_TRUE(runEventsUntil([&] { return w.window()->geometry() == place; }));
        QCoreApplication::processEvents();
    };
    auto window = makeWindow();
    shownAt(*window);
    placeAt(*window, inside);
    window->window()->hide();
    EXPECT_EQ(SearchWindow::savedGeometry(), inside);
    EXPECT_EQ(shownAt(*window), inside);

    // Moved, then the application quits before the move was saved.
    const QRect moved = inside.translated(-20, 15);
    placeAt(*window, moved);
    window.reset();
    window = makeWindow();
    EXPECT_EQ(shownAt(*window), moved);
    window.reset();

    // Left on a monitor unplugged since.
    ASSERT_FALSE(
        AppPreferences::storeValue(QStringLiteral("searchWindow/geometry"), QRect(screen.right() + 500, 40, 600, 500)));
    window = makeWindow();
    const QRect back = shownAt(*window);
    EXPECT_TRUE(screen.contains(back)) << back.x() << "," << back.y();
    EXPECT_EQ(back.size(), QSize(600, 500));
}

} // namespace
} // namespace pellux::test
