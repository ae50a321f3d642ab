// The dump of recent rows the debug window asks for.

#include "persistence/DatabaseInternals.h"
#include "runtime/Characters.h"
#include "runtime/Log.h"

#include <QDateTime>

#include <sqlite3.h>

namespace pellux {

using namespace database;
using sql::Statement;

namespace {

QString dateTimeText(double secondsSince1970)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(secondsSince1970 * 1000.0), Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        + QStringLiteral(" +0000");
}

} // namespace

void SimpleDatabaseManager::debugPrintAllOCRTexts()
{
    d->serialQueue.async([this] {
        if (!d->db)
            return;
        // The dump is asked for explicitly (debug window), so it prints whatever the verbosity.
        // A leading "\n" is a blank line before a section; log lines never hold a newline.
        const auto print = [](const QString &line) {
            if (line.startsWith(QLatin1Char('\n')))
                log::failure(QString());
            log::failure(line.startsWith(QLatin1Char('\n')) ? line.mid(1) : line);
        };
        print(QStringLiteral("\n=== OCR Texts in Database ==="));
        {
            Statement texts(
                d->db, "SELECT recording_id, text, timestamp FROM ocr_text ORDER BY timestamp DESC LIMIT 10");
            if (!texts.prepared())
                print(QStringLiteral("Failed to prepare debug query"));
            int n = 0;
            int rc = texts.prepared() ? SQLITE_ROW : SQLITE_DONE;
            while (rc == SQLITE_ROW && (rc = texts.step()) == SQLITE_ROW) {
                ++n;
                print(QStringLiteral("\n[%1] Recording ID: %2").arg(n).arg(texts.text(0).value_or(QString())));
                print(QStringLiteral("Timestamp: %1").arg(dateTimeText(texts.real(2))));
                print(QStringLiteral("Column type: %1 (3=TEXT, 4=BLOB, 5=NULL)").arg(texts.columnType(1)));
                print(QStringLiteral("Byte count: %1").arg(texts.byteCount(1)));
                const std::optional<QString> text = texts.isNull(1) ? std::nullopt : texts.text(1);
                if (!text) {
                    print(QStringLiteral("Text column is NULL"));
                    continue;
                }
                print(QStringLiteral("Text length: %1 characters").arg(characterCount(*text)));
                print(QStringLiteral("Text isEmpty: %1").arg(boolText(text->isEmpty())));
                if (text->isEmpty())
                    print(QStringLiteral("Text is empty string"));
                else
                    print(QStringLiteral("Text preview: %1...").arg(leadingCharacters(*text, 100)));
            }
            if (rc != SQLITE_DONE)
                log::failure(QStringLiteral("ERROR debugPrintAllOCRTexts: %1").arg(d->errorMessage()));
        }
        print(QStringLiteral("\n=== Recordings in Database ==="));
        {
            Statement rows(d->db, "SELECT id, timestamp, file_path FROM recordings ORDER BY timestamp DESC LIMIT 5");
            int n = 0;
            int rc = rows.prepared() ? SQLITE_ROW : sqlite3_extended_errcode(d->db);
            while (rc == SQLITE_ROW && (rc = rows.step()) == SQLITE_ROW) {
                ++n;
                print(QStringLiteral("[%1] ID: %2, Time: %3, Path: %4")
                          .arg(n)
                          .arg(rows.text(0).value_or(QString()), dateTimeText(rows.real(1)),
                              rows.text(2).value_or(QString())));
            }
            if (rc != SQLITE_DONE)
                log::failure(QStringLiteral("ERROR debugPrintAllOCRTexts: %1").arg(d->errorMessage()));
        }
        print(QStringLiteral("=== End Debug Output ==="));
    });
}

} // namespace pellux
