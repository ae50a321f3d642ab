#pragma once

// Shared by the screenshot-store tests: local capture times and small image-like files.

#include "runtime/Clock.h"
#include "support/TestFiles.h"

namespace pellux::test {

inline TimePoint localTime(int year, int month, int day, int hour, int minute, int second)
{
    return fromSecondsSince1970(
        static_cast<double>(QDateTime(QDate(year, month, day), QTime(hour, minute, second)).toSecsSinceEpoch()));
}

// `size` bytes that start as a JPEG or a WebP file does.
inline QByteArray jpegBytes(int size = 64) { return QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(size - 4, 'j'); }
inline QByteArray webpBytes(int size = 64)
{
    return QByteArray("RIFF\x38\x00\x00\x00WEBPVP8 ", 16) + QByteArray(size - 16, 'w');
}

} // namespace pellux::test
