#include "app/SymbolIcons.h"

#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>

namespace pellux {

namespace {

// Symbol name, then freedesktop names in order of preference.
struct Symbol {
    const char *name;
    const char *themeNames[2];
};

const Symbol kSymbols[] = {
    { "mail.and.text.magnifyingglass", { "system-search", "edit-find" } },
    { "magnifyingglass", { "edit-find", "system-search" } },
    { "trash", { "edit-delete", "user-trash" } },
    { "gearshape", { "preferences-system", "configure" } },
    { "pause.fill", { "media-playback-pause" } },
    { "play.fill", { "media-playback-start" } },
    { "exclamationmark.triangle", { "dialog-warning" } },
};

void ensureThemeFallback()
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

} // namespace

QIcon symbolIcon(const QString &symbolName)
{
    ensureThemeFallback();
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
