#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

namespace pellux {

// Lossy WebP at quality 0...1 with the encoder's fastest method, the one every stored frame and
// thumbnail is written with; absent (with a log line) for an image without pixels, a quality
// outside 0...1 or an image beyond WebP's size limit.
std::optional<QByteArray> encodeLossyWebP(const QImage &image, double quality);

} // namespace pellux
