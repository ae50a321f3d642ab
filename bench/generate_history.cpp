// Writes a generated capture history into a home folder: image files in their hour folders,
// Recordings/metadata.json and the database, as months of capture would leave them. For
// benchmarks and measured runs of a large history (scripts/generate-history.sh).
#include "support/SyntheticHistory.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a generated Pellux history into HOME."));
    parser.addHelpOption();
    const QCommandLineOption home(
        QStringLiteral("home"), QStringLiteral("The home folder to fill."), QStringLiteral("folder"));
    const QCommandLineOption recordings(QStringLiteral("recordings"), QStringLiteral("How many recordings."),
        QStringLiteral("count"), QStringLiteral("200000"));
    const QCommandLineOption days(QStringLiteral("days"), QStringLiteral("Days of capture, ending now."),
        QStringLiteral("days"), QStringLiteral("120"));
    const QCommandLineOption noFiles(QStringLiteral("no-files"), QStringLiteral("Write no image files."));
    parser.addOptions({ home, recordings, days, noFiles });
    parser.process(app);
    if (!parser.isSet(home)) {
        std::fprintf(stderr, "generate-history: --home is required\n");
        return 2;
    }
    bool countOk = false;
    bool daysOk = false;
    const int count = parser.value(recordings).toInt(&countOk);
    const double span = parser.value(days).toDouble(&daysOk);
    if (!countOk || count <= 0 || !daysOk || span <= 0) {
        std::fprintf(stderr, "generate-history: --recordings and --days must be positive numbers\n");
        return 2;
    }
    const QString folder = QDir(parser.value(home)).absolutePath();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "generate-history: cannot make %s\n", qPrintable(folder));
        return 1;
    }
    qputenv("HOME", QFile::encodeName(folder));

    pellux::test::SyntheticHistoryOptions options;
    options.recordings = count;
    options.windowsPerCycle = 4;
    const double now = static_cast<double>(QDateTime::currentSecsSinceEpoch());
    options.firstCaptureSeconds = now - span * 86400.0;
    options.cycleSeconds = span * 86400.0 / (static_cast<double>(count) / options.windowsPerCycle);
    options.withMetadata = true;
    options.withImageFiles = !parser.isSet(noFiles);
    const std::optional<pellux::test::SyntheticHistory> written = pellux::test::writeSyntheticHistory(options);
    if (!written)
        return 1;
    std::printf(
        "generate-history: %d recordings over %.0f days in %s\n", written->recordings, span, qPrintable(folder));
    return 0;
}
