#include "persistence/Autostart.h"

#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace pellux {

QString autostartEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/pellux.desktop");
}

QByteArray autostartEntry()
{
    return QByteArrayLiteral("[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Pellux\n"
                             "Comment=Searchable history of the windows on your screen\n"
                             "Exec=pellux --background\n"
                             "Icon=pellux\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n");
}

bool isAutostartEnabled()
{
    QFile file(autostartEntryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Only the main group counts; an entry is a few lines.
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(4096).trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return false;
    }
    return true;
}

bool setAutostartEnabled(bool enabled)
{
    const QString path = autostartEntryPath();
    if (!enabled) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        log::failure(QStringLiteral("Pellux: cannot remove the autostart entry %1: %2").arg(path, file.errorString()));
        return false;
    }
    QString error;
    if (!makePrivatePath(QFileInfo(path).path(), &error)
        || !writePrivateFileAtomically(path, autostartEntry(), &error)) {
        log::failure(QStringLiteral("Pellux: cannot write the autostart entry %1: %2").arg(path, error));
        return false;
    }
    return true;
}

} // namespace pellux
