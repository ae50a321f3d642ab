#include "capture/wayland/portal/PortalStreams.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace pellux::wayland::portal {

namespace {

QVariant readArgument(const QDBusArgument &argument)
{
    switch (argument.currentType()) {
    case QDBusArgument::StructureType: {
        QVariantList fields;
        argument.beginStructure();
        while (!argument.atEnd())
            fields.append(readArgument(argument));
        argument.endStructure();
        return fields;
    }
    case QDBusArgument::ArrayType: {
        QVariantList elements;
        argument.beginArray();
        while (!argument.atEnd())
            elements.append(readArgument(argument));
        argument.endArray();
        return elements;
    }
    case QDBusArgument::MapType: {
        QVariantMap entries;
        argument.beginMap();
        while (!argument.atEnd()) {
            argument.beginMapEntry();
            const QVariant key = readArgument(argument);
            const QVariant value = readArgument(argument);
            argument.endMapEntry();
            entries.insert(key.toString(), value);
        }
        argument.endMap();
        return entries;
    }
    case QDBusArgument::BasicType:
    case QDBusArgument::VariantType:
        return plainDBusValue(argument.asVariant());
    case QDBusArgument::MapEntryType:
    case QDBusArgument::UnknownType:
        break;
    }
    return {};
}

// D-Bus integers arrive as whichever width the sender chose.
std::optional<qint64> integer(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return value.toLongLong();
    default:
        return std::nullopt;
    }
}

// A (ii) pair.
std::optional<QPoint> pair(const QVariant &value)
{
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    const QVariantList fields = value.toList();
    if (fields.size() != 2)
        return std::nullopt;
    const std::optional<qint64> first = integer(fields[0]);
    const std::optional<qint64> second = integer(fields[1]);
    if (!first || !second)
        return std::nullopt;
    return QPoint(int(*first), int(*second));
}

CaptureError malformed(const QString &what)
{
    return CaptureError { QString::fromLatin1(captureFailureDomain),
        QStringLiteral("The screen-cast portal described its streams in a form Pellux cannot read: %1").arg(what) };
}

} // namespace

QVariant plainDBusValue(const QVariant &value)
{
    if (value.userType() == qMetaTypeId<QDBusVariant>())
        return plainDBusValue(qvariant_cast<QDBusVariant>(value).variant());
    if (value.userType() == qMetaTypeId<QDBusArgument>())
        return readArgument(qvariant_cast<QDBusArgument>(value));
    if (value.userType() == qMetaTypeId<QDBusObjectPath>())
        return qvariant_cast<QDBusObjectPath>(value).path();
    if (value.typeId() == QMetaType::QVariantList) {
        QVariantList elements = value.toList();
        for (QVariant &element : elements)
            element = plainDBusValue(element);
        return elements;
    }
    if (value.typeId() == QMetaType::QVariantMap) {
        QVariantMap entries = value.toMap();
        for (QVariant &entry : entries)
            entry = plainDBusValue(entry);
        return entries;
    }
    return value;
}

CaptureResult<std::vector<PortalStream>> parseStartStreams(const QVariantMap &results)
{
    const QVariant streams = results.value(QStringLiteral("streams"));
    if (!streams.isValid())
        return malformed(QStringLiteral("the answer has no streams"));
    if (streams.typeId() != QMetaType::QVariantList)
        return malformed(QStringLiteral("\"streams\" is not a list"));
    std::vector<PortalStream> parsed;
    int index = 0;
    for (const QVariant &entry : streams.toList()) {
        ++index;
        const QVariantList fields = entry.toList();
        const qint64 node = fields.size() == 2 ? integer(fields[0]).value_or(-1) : -1;
        if (entry.typeId() != QMetaType::QVariantList || node < 0 || node > 0xffffffffLL
            || fields[1].typeId() != QMetaType::QVariantMap)
            return malformed(QStringLiteral("stream %1 is not a node and its properties").arg(index));
        const QVariantMap properties = fields[1].toMap();
        PortalStream stream;
        stream.nodeID = quint32(node);
        const QVariant id = properties.value(QStringLiteral("id"));
        if (id.isValid() && id.typeId() != QMetaType::QString)
            return malformed(QStringLiteral("the id of stream %1 is not a string").arg(index));
        stream.key = id.isValid() ? QStringLiteral("id:") + id.toString() : QStringLiteral("node:%1").arg(node);
        if (const QVariant position = properties.value(QStringLiteral("position")); position.isValid()) {
            const std::optional<QPoint> point = pair(position);
            if (!point)
                return malformed(QStringLiteral("the position of stream %1 is not two integers").arg(index));
            stream.position = *point;
        }
        if (const QVariant size = properties.value(QStringLiteral("size")); size.isValid()) {
            const std::optional<QPoint> extent = pair(size);
            if (!extent || extent->x() <= 0 || extent->y() <= 0)
                return malformed(QStringLiteral("the size of stream %1 is not two positive integers").arg(index));
            stream.size = QSize(extent->x(), extent->y());
        }
        parsed.push_back(stream);
    }
    if (parsed.empty())
        return malformed(QStringLiteral("the list of streams is empty"));
    return parsed;
}

std::vector<WindowDescription> monitorWindows(
    const std::vector<PortalStream> &streams, const std::function<quint32(const QString &key)> &windowIDFor)
{
    std::vector<WindowDescription> windows;
    int number = 0;
    for (const PortalStream &stream : streams) {
        WindowDescription window;
        window.windowID = windowIDFor(stream.key);
        // A stream without a size is listed with an empty frame, which capture passes over.
        window.frame = QRectF(stream.position, stream.size.value_or(QSize(0, 0)));
        window.isOnScreen = true;
        window.title = QStringLiteral("Screen %1").arg(++number);
        window.owningApplication = RunningApplication { QStringLiteral("Screen"), QStringLiteral("Screen"), 0 };
        windows.push_back(std::move(window));
    }
    return windows;
}

} // namespace pellux::wayland::portal
