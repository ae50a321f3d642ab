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

inline QByteArray jpegBytes(int size = 64)
{
    QByteArray bytes("\xFF\xD8\xFF\xE0", 4);
    bytes.append(QByteArray(size - 4, 'j'));
    return bytes;
}

inline QByteArray webpBytes(int size = 64)
{
    QByteArray bytes("RIFF\x38\x00\x00\x00WEBPVP8 ", 16);
    bytes.append(QByteArray(size - 16, 'w'));
    return bytes;
}

} // namespace pellux::test
