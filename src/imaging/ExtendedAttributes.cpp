#include "imaging/ExtendedAttributes.h"

#include <QFile>

#include <cerrno>
#include <sys/xattr.h>

namespace pellux {

int setExtendedAttribute(const QString &path, const QByteArray &data, const char *name)
{
    const QByteArray file = QFile::encodeName(path);
    if (::setxattr(file.constData(), name, data.constData(), static_cast<size_t>(data.size()), 0) != 0)
        return errno;
    return 0;
}

ExtendedAttribute extendedAttribute(const QString &path, const char *name)
{
    const QByteArray file = QFile::encodeName(path);
    // The value may change between learning its size and reading it; a few tries settle that.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::getxattr(file.constData(), name, nullptr, 0);
        if (size < 0)
            return { {}, errno };
        QByteArray data(static_cast<qsizetype>(size), '\0');
        const ssize_t read = ::getxattr(file.constData(), name, data.data(), static_cast<size_t>(size));
        if (read >= 0) {
            data.truncate(static_cast<qsizetype>(read));
            return { data, 0 };
        }
        if (errno != ERANGE)
            return { {}, errno };
    }
    return { {}, ERANGE };
}

int removeExtendedAttribute(const QString &path, const char *name)
{
    const QByteArray file = QFile::encodeName(path);
    if (::removexattr(file.constData(), name) != 0 && errno != ENODATA)
        return errno;
    return 0;
}

} // namespace pellux
