#pragma once

#include <QImage>
#include <QRect>

#include <vector>

namespace pellux {

// Finds the text lines of an image by layout analysis alone, without recognising any text: the
// quick "is this mostly text?" measure of content classification (about 0.23 s for a 1080p
// screen, 0.09 s for a typical window; classify a reduced copy to go faster).
//
// Returns one box per text line, in the pixel space of `image`, top-left origin (Qt's
// convention), in reading order; the share of the image they cover is
//   sum(box.width() * box.height()) / (image.width() * image.height()).
// A null or tiny image gives an empty list. Dark-themed images are negated first, so light text
// on a dark ground is found too. Needs no language model.
//
// Safe to call from any thread at once: each thread keeps its own Tesseract handle, set up on
// the thread's first call (a few milliseconds) and kept until the thread ends.
std::vector<QRect> detectTextLines(const QImage &image);

} // namespace pellux
