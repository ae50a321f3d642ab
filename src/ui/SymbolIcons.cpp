#include "ui/SymbolIcons.h"

#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>

namespace pellux {

namespace {

// Symbol name, then freedesktop names in order of preference. The views tint most symbols, so
// the one-colour "-symbolic" icons come first where a theme has them.
struct Symbol {
    const char *name;
    const char *themeNames[4];
};

// The numbered step circles of the permission guide ("1.circle.fill" ... "4.circle.fill") have no
// freedesktop icon in any installed theme; the guide draws its step numbers as text instead.
const Symbol kSymbols[] = {
    { "mail.and.text.magnifyingglass", { "system-search", "edit-find" } },
    { "magnifyingglass", { "edit-find-symbolic", "edit-find", "system-search" } },
    { "text.magnifyingglass", { "system-search-symbolic", "system-search", "edit-find" } },
    { "xmark.circle.fill", { "window-close-symbolic", "dialog-close", "window-close", "edit-clear-symbolic" } },
    { "camera.viewfinder", { "camera-photo-symbolic", "camera-photo", "camera-web" } },
    { "arrow.up.left.and.arrow.down.right", { "view-fullscreen-symbolic", "view-fullscreen", "zoom-fit-best" } },
    { "checkmark.circle.fill", { "emblem-default-symbolic", "emblem-ok-symbolic", "dialog-positive", "checkmark" } },
    { "internaldrive.fill", { "drive-harddisk-symbolic", "drive-harddisk" } },
    { "photo.on.rectangle.angled",
        { "image-x-generic-symbolic", "emblem-photos-symbolic", "folder-pictures-symbolic", "image-x-generic" } },
    { "trash", { "user-trash-symbolic", "edit-delete", "user-trash" } },
    { "gearshape", { "preferences-system", "configure" } },
    { "pause.fill", { "media-playback-pause" } },
    { "play.fill", { "media-playback-start" } },
    { "exclamationmark.triangle", { "dialog-warning-symbolic", "dialog-warning" } },
    // The settings window
    { "gear", { "emblem-system-symbolic", "preferences-system-symbolic", "preferences-system", "configure" } },
    { "hand.raised", { "security-high-symbolic", "security-high" } },
    { "internaldrive", { "drive-harddisk-symbolic", "drive-harddisk" } },
    { "info.circle", { "help-about-symbolic", "dialog-information-symbolic", "help-about" } },
    { "exclamationmark.shield", { "security-medium-symbolic", "security-medium", "dialog-warning" } },
    { "app.fill", { "application-x-executable-symbolic", "application-x-executable" } },
    { "app", { "application-x-executable-symbolic", "application-x-executable" } },
    // The debug window
    { "camera.fill", { "camera-photo-symbolic", "camera-photo" } },
    { "video.slash", { "camera-disabled-symbolic", "camera-disabled", "camera-web" } },
    { "aspectratio", { "zoom-fit-best-symbolic", "view-fullscreen-symbolic", "zoom-fit-best" } },
    { "speedometer", { "power-profile-performance-symbolic", "speedometer" } },
};

} // namespace

// QIcon's theme lookup and caches are not made for concurrent use; image providers call in from
// their worker threads.
std::mutex &iconThemeMutex()
{
    static std::mutex mutex;
    return mutex;
}

void ensureIconThemeFallback()
{
    static const bool once = [] {
        // Without a desktop session (or on the offscreen platform) Qt may know no icon folders
        // and no icon theme at all.
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString &folder : QStandardPaths::locateAll(
                 QStandardPaths::GenericDataLocation, QStringLiteral("icons"), QStandardPaths::LocateDirectory)) {
            if (!paths.contains(folder))
                paths << folder;
        }
        QIcon::setThemeSearchPaths(paths);
        if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
            QIcon::setThemeName(QStringLiteral("breeze"));
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    (void)once;
}

QIcon symbolIcon(const QString &symbolName)
{
    ensureIconThemeFallback();
    for (const Symbol &symbol : kSymbols) {
        if (symbolName != QLatin1String(symbol.name))
            continue;
        for (const char *name : symbol.themeNames) {
            if (!name)
                continue;
            const QIcon icon = QIcon::fromTheme(QLatin1String(name));
            if (!icon.isNull())
                return icon;
        }
    }
    return {};
}

QStringList knownSymbolNames()
{
    QStringList names;
    for (const Symbol &symbol : kSymbols)
        names << QLatin1String(symbol.name);
    return names;
}

QImage symbolImage(const QString &symbolName, QSize size, std::optional<QColor> tint)
{
    if (size.isEmpty())
        return {};
    std::lock_guard lock(iconThemeMutex());
    const QIcon icon = symbolIcon(symbolName);
    if (icon.isNull())
        return {};
    const QPixmap pixmap = icon.pixmap(size);
    if (pixmap.isNull())
        return {};
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.drawPixmap((size.width() - pixmap.width()) / 2, (size.height() - pixmap.height()) / 2, pixmap);
    if (tint) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), *tint);
    }
    painter.end();
    return image;
}

QIcon tintedIcon(const QIcon &icon, const QColor &color, int size)
{
    QPixmap pixmap = icon.pixmap(size, size);
    if (pixmap.isNull())
        return icon;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    painter.end();
    return QIcon(pixmap);
}

} // namespace pellux
