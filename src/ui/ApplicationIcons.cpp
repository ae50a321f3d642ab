#include "ui/ApplicationIcons.h"

#include "runtime/Log.h"
#include "runtime/MainThread.h"
#include "runtime/ThreadPool.h"
#include "runtime/ThreadSanitizer.h"
#include "ui/SymbolIcons.h"

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QPainter>

namespace pellux {

namespace {

bool isAbsolutePath(const QString &icon) { return QDir::isAbsolutePath(icon); }

// Some entries name their theme icon with a file extension ("foo.png"); the theme wants it bare.
QString themeName(const QString &icon)
{
    static const QStringList extensions { QStringLiteral(".png"), QStringLiteral(".svg"), QStringLiteral(".xpm") };
    for (const QString &extension : extensions) {
        if (icon.endsWith(extension, Qt::CaseInsensitive))
            return icon.chopped(extension.size());
    }
    return icon;
}

// Called with iconThemeMutex() held.
QIcon themeIcon(const QString &icon)
{
    ensureIconThemeFallback();
    return QIcon::fromTheme(themeName(icon));
}

bool iconExists(const QString &icon)
{
    if (isAbsolutePath(icon)) {
        const QFileInfo file(icon);
        return file.isFile() && QImageReader(icon).canRead();
    }
    std::lock_guard lock(iconThemeMutex());
    return !themeIcon(icon).isNull();
}

QImage centred(const QImage &image, QSize size)
{
    if (image.size() == size)
        return image;
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.drawImage((size.width() - image.width()) / 2, (size.height() - image.height()) / 2, image);
    return canvas;
}

} // namespace

ApplicationIcons::ApplicationIcons(QStringList applicationFolders, QObject *parent)
    : QObject(parent)
    , m_folders(std::move(applicationFolders))
{
}

ApplicationIcons::~ApplicationIcons()
{
    m_preparation.waitForFinished();
    tsan::acquire(tsan::futureToken(m_preparation));
}

void ApplicationIcons::prepare()
{
    if (m_preparing.exchange(true))
        return;
    m_preparation = startOnPool([this] {
        index();
        postTo(this, [this] { emit readyChanged(); });
    });
}

const ApplicationIcons::Index &ApplicationIcons::index()
{
    std::call_once(m_built, [this] {
        auto built = std::make_unique<Index>(Index { DesktopEntryIndex(m_folders), {} });
        for (const QString &icon : built->entries.icons()) {
            if (iconExists(icon))
                built->availableIcons.insert(icon);
        }
        log::debug(QStringLiteral("DEBUG ApplicationIcons: %1 desktop entries, %2 icons found")
                       .arg(qsizetype(built->entries.size()))
                       .arg(built->availableIcons.size()));
        m_index = std::move(built);
        m_ready = true;
    });
    return *m_index;
}

std::optional<QString> ApplicationIcons::iconFor(
    const Index &index, const QString &appName, const QString &bundleIdentifier) const
{
    if (!bundleIdentifier.isEmpty()) {
        if (std::optional<QString> icon = index.entries.iconForId(bundleIdentifier))
            return icon;
    }
    if (appName.isEmpty() && bundleIdentifier.isEmpty())
        return std::nullopt;
    // Without an entry of that id the identifier is the WM_CLASS instance.
    return index.entries.iconForWindowClass(bundleIdentifier.isEmpty() ? appName : bundleIdentifier, appName);
}

bool ApplicationIcons::hasApplicationIcon(const QString &appName, const QString &bundleIdentifier) const
{
    if (!m_ready)
        return false;
    const std::optional<QString> icon = iconFor(*m_index, appName, bundleIdentifier);
    return icon && m_index->availableIcons.contains(*icon);
}

QImage ApplicationIcons::applicationIcon(const QString &appName, QSize size, const QString &bundleIdentifier)
{
    if (size.isEmpty())
        return {};
    const Index &entries = index();
    const std::optional<QString> icon = iconFor(entries, appName, bundleIdentifier);
    if (!icon || !entries.availableIcons.contains(*icon))
        return {};
    if (isAbsolutePath(*icon)) {
        QImageReader reader(*icon);
        const QSize natural = reader.size();
        if (natural.isValid())
            reader.setScaledSize(natural.scaled(size, Qt::KeepAspectRatio));
        QImage image = reader.read();
        if (image.isNull()) {
            log::failure(QStringLiteral("ERROR ApplicationIcons: Cannot read icon %1 of %2: %3")
                             .arg(*icon, appName, reader.errorString()));
            return {};
        }
        if (image.width() > size.width() || image.height() > size.height())
            image = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return centred(image.convertToFormat(QImage::Format_ARGB32_Premultiplied), size);
    }
    std::lock_guard lock(iconThemeMutex());
    const QImage image = themeIcon(*icon).pixmap(size).toImage();
    if (image.isNull())
        return {};
    return centred(image.convertToFormat(QImage::Format_ARGB32_Premultiplied), size);
}

} // namespace pellux
