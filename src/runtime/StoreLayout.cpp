#include "runtime/StoreLayout.h"

#include <QDir>
#include <QStandardPaths>

namespace pellux {

QString StoreLayout::documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() + QStringLiteral("/Documents") : documents;
}

StoreLayout StoreLayout::standard() { return StoreLayout(documentsFolder() + QStringLiteral("/Pellux")); }

StoreLayout::StoreLayout(QString root)
    : m_root(std::move(root))
{
}

QString StoreLayout::databaseFile() const { return m_root + QStringLiteral("/pellux_v2.db"); }

QString StoreLayout::recordingsFolder() const { return m_root + QStringLiteral("/Recordings"); }

QString StoreLayout::recordingsListFile() const { return recordingsFolder() + QStringLiteral("/metadata.json"); }

QString StoreLayout::captureSessionMark() const { return recordingsFolder() + QStringLiteral("/.capture-session"); }

QString StoreLayout::screenshotsFolder() const { return m_root + QStringLiteral("/Screenshots"); }

QString StoreLayout::captureLockFile() const { return m_root + QStringLiteral("/.capture.lock"); }

} // namespace pellux
