#pragma once

#include "capture/CaptureBackend.h"

#include <QByteArray>
#include <QVariantMap>

#include <optional>

namespace pellux::kwin {

// org.kde.KWin.ScreenShot2 answers a capture with the image's "width", "height", "stride" and
// "format" (a QImage::Format number) and then writes stride × height raw bytes into the pipe it
// was given.

// The byte count the reply announces, or nothing when the reply does not describe an image this
// decoder accepts (so the caller knows how much to read before decoding).
std::optional<qsizetype> announcedByteCount(const QVariantMap &reply);

// The image described by the reply, made of the bytes read from the pipe, as Format_RGB32. An
// unknown format, an impossible size or stride, or fewer bytes than announced is an error.
CaptureResult<QImage> decodeScreenShot(const QVariantMap &reply, QByteArray pixels);

} // namespace pellux::kwin
