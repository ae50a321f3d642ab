#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace pellux {

// The formatting rules of ui/Formatting.h for QML: `Format.bytes(n)`, `Format.storageColor(n)`.
class UiFormat : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Format)
    QML_SINGLETON

public:
    using QObject::QObject;

    Q_INVOKABLE QString bytes(qint64 count) const;
    Q_INVOKABLE QColor storageColor(qint64 bytesUsed) const;
    // A window title or application name as shown (ui/Formatting.h, displayedName).
    Q_INVOKABLE QString name(const QString &text) const;
};

} // namespace pellux
