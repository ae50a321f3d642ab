#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace pellux::test {

// Writes `bytes` to folder/name and answers the path ("" when it cannot be written).
inline QString writeFile(const QString &folder, const QString &name, const QByteArray &bytes)
{
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

inline QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace pellux::test
