#include "app/AppDelegate.h"
#include "app/SymbolIcons.h"

#include <QAction>

#include <gtest/gtest.h>

using namespace pellux;

TEST(AppDelegate, BeforeTheModelExistsTheMenuHoldsOnlyTheCommonItems)
{
    AppDelegate delegate;
    delegate.constructMenu();
    ASSERT_NE(delegate.menu(), nullptr);
    QStringList titles;
    for (QAction *action : delegate.menu()->actions())
        titles << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(titles, QStringList({ "-", "Open Timeline", "Check for Updates...", "-", "Quit" }));

    bool quitCalled = false;
    delegate.setQuitHandler([&] { quitCalled = true; });
    delegate.constructMenu();
    delegate.menu()->actions().back()->trigger();
    EXPECT_TRUE(quitCalled);
    // Without a model the icon and the pause/resume actions do nothing.
    delegate.updateStatusIcon();
    delegate.pauseScreenshots();
    delegate.resumeScreenshots();
}

TEST(SymbolIcons, MapsKnownSymbolsToThemeIconsAndTintsThem)
{
    const QIcon icon = symbolIcon(QStringLiteral("mail.and.text.magnifyingglass"));
    ASSERT_FALSE(icon.isNull()) << "no icon theme with system-search is installed";
    EXPECT_TRUE(symbolIcon(QStringLiteral("no.such.symbol")).isNull());

    const QImage tinted = tintedIcon(icon, QColor(0, 200, 0), 22).pixmap(22, 22).toImage();
    bool sawGreen = false;
    for (int y = 0; y < tinted.height(); ++y) {
        for (int x = 0; x < tinted.width(); ++x) {
            const QColor c = tinted.pixelColor(x, y);
            if (c.alpha() == 0)
                continue;
            EXPECT_EQ(c.red(), 0);
            sawGreen = sawGreen || c.green() > 150;
        }
    }
    EXPECT_TRUE(sawGreen);
}
