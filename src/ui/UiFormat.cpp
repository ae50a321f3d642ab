#include "ui/UiFormat.h"

#include "ui/Formatting.h"

namespace pellux {

QString UiFormat::bytes(qint64 count) const { return fileStyleByteCount(count); }

QColor UiFormat::storageColor(qint64 bytesUsed) const { return storageLevelColor(storageLevel(bytesUsed)); }

QString UiFormat::name(const QString &text) const { return displayedName(text); }

} // namespace pellux
