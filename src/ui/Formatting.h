#pragma once

#include "runtime/Clock.h"

#include <QColor>
#include <QString>

namespace pellux {

// How long ago `when` was, seen from `now`, in abbreviated English units: "now", "42 sec. ago",
// "5 min. ago", "2 hr. ago", "1 day ago", "3 days ago", "2 wk. ago", "4 mo. ago", "1 yr. ago"; a
// time after `now` reads "in 5 min.".
QString abbreviatedRelativeTime(TimePoint when, TimePoint now);

// A byte count in file style with decimal units: "0 bytes", "1 byte", "512 bytes", "12 KB",
// "3.4 MB", "1.2 GB", "1 TB".
QString fileStyleByteCount(qint64 bytes);
// A byte count in memory style, with binary units as system monitors show memory: "512 bytes",
// "12 KB", "123.4 MB", "1.5 GB" (1 KB = 1024 bytes).
QString memoryStyleByteCount(qint64 bytes);

// A title or name from the screen as the windows show it, as plain text: control characters
// become spaces, explicit bidirectional embeddings, overrides and isolates go (so "rtl \u202Eevil.exe"
// reads "rtl evil.exe"), runs of combining marks are cut to two, and at most `maxLength`
// characters are kept; the whole is set in a first-strong isolate so that it cannot reorder the
// text around it.
QString displayedName(const QString &text, int maxLength = 300);

// The disk-use level the storage toolbar shows, from the bytes used: below 1 GiB green, below
// 5 GiB yellow, below 10 GiB orange, from 10 GiB on red.
enum class StorageLevel { green, yellow, orange, red };
StorageLevel storageLevel(qint64 bytes);
QColor storageLevelColor(StorageLevel level);

} // namespace pellux
