#include "storage/StoreSession.h"

#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"
#include "runtime/StoreLayout.h"

#include <QFile>
#include <QFileInfo>

namespace pellux {

namespace {

const QByteArray kInUse = "in use\n";
const QByteArray kInOrder = "in order\n";

} // namespace

StoreSession::StoreSession(QString recordingsDirectory)
    : m_recordingsDirectory(std::move(recordingsDirectory))
{
}

QString StoreSession::markPath() const
{
    return StoreLayout(QFileInfo(m_recordingsDirectory).path()).captureSessionMark();
}

StoreSession::LastEnd StoreSession::begin()
{
    QFile mark(markPath());
    if (!mark.exists())
        m_lastEnd = LastEnd::unknown;
    else if (mark.open(QIODevice::ReadOnly) && mark.read(64) == kInOrder)
        m_lastEnd = LastEnd::inOrder;
    else
        m_lastEnd = LastEnd::interrupted;
    mark.close();
    if (QString error; !writePrivateFileAtomically(markPath(), kInUse, &error))
        log::failure(QStringLiteral("ERROR StoreSession: cannot mark the store as in use: %1").arg(error));
    return m_lastEnd;
}

void StoreSession::end(bool leftInOrder, bool healed)
{
    if (!leftInOrder || (m_lastEnd != LastEnd::inOrder && !healed))
        return;
    if (QString error; !writePrivateFileAtomically(markPath(), kInOrder, &error))
        log::failure(QStringLiteral("ERROR StoreSession: cannot mark the store as left in order: %1").arg(error));
}

} // namespace pellux
