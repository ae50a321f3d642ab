#pragma once

// Rendering a Qt Quick window offscreen to PNG files (in $PELLUX_RENDER_DIR, else build/ui-renders)
// for a person to look at. A picture that is missing or shows nothing but the background fails.

#include "support/TestFiles.h"

#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <initializer_list>

namespace pellux::test {

inline QString renderFolder()
{
    const QString folder = qEnvironmentVariableIsSet("PELLUX_RENDER_DIR")
        ? qEnvironmentVariable("PELLUX_RENDER_DIR")
        : QStringLiteral(PELLUX_BINARY_DIR "/ui-renders");
    QDir().mkpath(folder);
    return folder;
}

// True while any visible image of the scene is still loading.
inline bool imagesLoading(QQuickItem *root)
{
    for (QObject *child : root->findChildren<QObject *>()) {
        auto *item = qobject_cast<QQuickItem *>(child);
        if (!item || !item->isVisible() || !item->inherits("QQuickImage"))
            continue;
        if (item->property("status").toInt() == 2) // Image.Loading
            return true;
    }
    return false;
}

// Saves the window at each size as <name>-<width>x<height>.png, once layout and images settled.
inline void renderWindow(QQuickWindow *w, const QString &name, std::initializer_list<QSize> sizes)
{
    for (const QSize size : sizes) {
        w->resize(size);
        runEventsUntil([&] { return w->contentItem()->width() == size.width(); }, 2000);
        // Layout settles, then the images of the new size load.
        for (int i = 0; i < 3; ++i) {
            QTest::qWait(50);
            runEventsUntil([&] { return !imagesLoading(w->contentItem()); });
        }
        const QImage picture = w->grabWindow();
        ASSERT_FALSE(picture.isNull()) << name.toStdString();
        EXPECT_EQ(picture.size(), size);
        // Something besides the background was drawn.
        const QRgb corner = picture.pixel(1, picture.height() / 2);
        bool drawn = false;
        for (int y = 0; y < picture.height() && !drawn; y += 7) {
            for (int x = 0; x < picture.width() && !drawn; x += 7)
                drawn = picture.pixel(x, y) != corner;
        }
        EXPECT_TRUE(drawn) << name.toStdString() << " is empty";
        const QString file
            = QStringLiteral("%1/%2-%3x%4.png").arg(renderFolder(), name).arg(size.width()).arg(size.height());
        EXPECT_TRUE(picture.save(file)) << file.toStdString();
    }
}

} // namespace pellux::test
