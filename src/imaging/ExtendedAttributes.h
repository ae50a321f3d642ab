#pragma once

#include <QByteArray>
#include <QString>

namespace pellux {

// The re-compression marker of a screenshot: the quality it was last encoded at, as "%.2f" text.
inline constexpr char kOptimizedQualityAttribute[] = "user.com.pellux.optimized.quality";

// Extended attributes of a file (symbolic links followed). Failures are answered with the errno
// of the failing call, never thrown: ENODATA for a missing attribute, ENOTSUP where the file
// system keeps no user attributes.

// Creates or replaces the attribute. 0 on success, else the errno.
int setExtendedAttribute(const QString &path, const QByteArray &data, const char *name);

struct ExtendedAttribute {
    QByteArray data;
    int error = 0; // 0 when `data` holds the value
    bool ok() const { return error == 0; }
};

// Reads the whole attribute (one call for the size, one into a buffer of that size; repeated if
// the value grows in between).
ExtendedAttribute extendedAttribute(const QString &path, const char *name);

// Removes the attribute. 0 on success (also when it was not there), else the errno.
int removeExtendedAttribute(const QString &path, const char *name);

} // namespace pellux
