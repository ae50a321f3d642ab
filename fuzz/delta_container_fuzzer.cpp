// libFuzzer entry point for the "DLTA" container reader: parses the input and, when it parses,
// applies it to a fixed frame. Built only with -DPELLUX_BUILD_FUZZERS=ON and clang.
#include "imaging/DeltaFrameReader.h"
#include "runtime/Log.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool quiet = [] {
        pellux::log::setStream(std::fopen("/dev/null", "w"));
        return true;
    }();
    (void)quiet;
    static const QImage base = [] {
        QImage image(256, 256, QImage::Format_RGB32);
        image.fill(0xff808080u);
        return image;
    }();
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const std::optional<pellux::DeltaContainer> container = pellux::DeltaFrameReader::parse(bytes))
        (void)pellux::DeltaFrameReader::applyDelta(base, *container);
    return 0;
}
