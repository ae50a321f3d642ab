#include "imaging/DeltaContainer.h"

#include "runtime/Log.h"

#include <QtEndian>

#include <cstring>

namespace pellux {

namespace {

void appendUInt32(QByteArray &out, std::uint32_t value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void appendFloat(QByteArray &out, float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    appendUInt32(out, bits);
}

} // namespace

std::optional<QByteArray> DeltaContainer::serialize() const
{
    if (static_cast<std::uint64_t>(entries.size()) > kMaxFieldValue) {
        log::failure(QStringLiteral("ERROR DeltaContainer: %1 entries do not fit the container").arg(entries.size()));
        return std::nullopt;
    }
    qsizetype total = kHeaderSize;
    for (const Entry &entry : entries) {
        if (static_cast<std::uint64_t>(entry.data.size()) > kMaxFieldValue) {
            log::failure(QStringLiteral("ERROR DeltaContainer: region data of %1 bytes does not fit the container")
                             .arg(entry.data.size()));
            return std::nullopt;
        }
        const QRect &r = entry.rect;
        if (r.x() < 0 || r.y() < 0 || r.width() < 1 || r.height() < 1 || r.x() + r.width() > kMaxDimension
            || r.y() + r.height() > kMaxDimension || entry.data.isEmpty()) {
            log::failure(QStringLiteral("ERROR DeltaContainer: region %1,%2 %3x%4 with %5 bytes cannot be stored "
                                        "(rectangles end within %6 pixels and hold data)")
                             .arg(r.x())
                             .arg(r.y())
                             .arg(r.width())
                             .arg(r.height())
                             .arg(entry.data.size())
                             .arg(kMaxDimension));
            return std::nullopt;
        }
        total += kEntryHeaderSize + entry.data.size();
    }

    QByteArray out;
    out.reserve(total);
    out.append(kMagic, sizeof kMagic);
    appendUInt32(out, static_cast<std::uint32_t>(entries.size()));
    for (const Entry &entry : entries) {
        appendFloat(out, static_cast<float>(entry.rect.x()));
        appendFloat(out, static_cast<float>(entry.rect.y()));
        appendFloat(out, static_cast<float>(entry.rect.width()));
        appendFloat(out, static_cast<float>(entry.rect.height()));
        appendUInt32(out, static_cast<std::uint32_t>(entry.data.size()));
        out.append(entry.data);
    }
    return out;
}

} // namespace pellux
