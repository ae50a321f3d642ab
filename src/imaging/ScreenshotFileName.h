#pragma once

#include "runtime/Clock.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace pellux {

// Longest file name the file systems Pellux writes to accept, in bytes.
inline constexpr int kMaxFileNameBytes = 255;

// "webp" when the first 12 bytes hold "WEBP" (a WebP header), otherwise "jpg".
QString screenshotExtension(const QByteArray &data);

// The application part of a file name: letters, digits, ".", "_" and "-" are kept, anything else
// becomes "_"; "unknown" without a name.
QString fileNameAppPart(const std::optional<QString> &appName);

// The hour folder below the screenshots folder, "yyyy/MM/dd/HH" in local time.
QString hourFolderName(TimePoint timestamp);

// "yyyyMMdd_HHmmss_APP.EXT" in local time. Attempt 1 is the plain name; a later attempt n adds
// "_n" before the extension, for a second frame of one application within one second. The
// application part is shortened (at a character boundary) so that the name fits
// kMaxFileNameBytes.
QString screenshotFileName(
    TimePoint timestamp, const std::optional<QString> &appName, const QString &extension, int attempt = 1);

// The capture time in a name made by screenshotFileName, absent for any other name.
std::optional<TimePoint> captureTimeFromFileName(const QString &fileName);

} // namespace pellux
