#pragma once

#include "imaging/ImageOptimizer.h"
#include "runtime/Clock.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace pellux {

// How old a screenshot must be before it is stored at a quality; older files get lower ones.
struct QualityLevel {
    double ageSeconds;
    double quality;
};
inline constexpr std::array<QualityLevel, 4> kQualityLevels { {
    { 604800, 0.6 }, // 7 days
    { 2592000, 0.4 }, // 30 days
    { 7776000, 0.3 }, // 90 days
    { 15552000, 0.2 }, // 180 days
} };
inline constexpr double kDefaultTargetQuality = 0.7;
// Files younger than this, or exactly this old, are left as captured.
inline constexpr double kMinimumCandidateAgeSeconds = 604800;
// Smaller files are never re-encoded.
inline constexpr qint64 kMinimumRecompressedBytes = 51200;

// The index in kQualityLevels of the level a file of this age belongs to; -1 for files that are
// not candidates (7 days old or younger).
int qualityLevelIndex(double ageSeconds);
// The quality of the oldest level the age reaches; kDefaultTargetQuality when it reaches none.
double targetQuality(double ageSeconds);
// A rewrite must save more than 10 % of the file.
bool isRewriteWorthwhile(qint64 sourceBytes, qint64 newBytes);

// The marker text ("%.2f") and its reading; absent for anything that is not a plain number.
QByteArray qualityMarker(double quality);
std::optional<double> parseQualityMarker(const QByteArray &bytes);
// True when the file's marker holds a quality at or below the target.
bool isAlreadyOptimized(const QString &path, double targetQuality);
// Writes the marker; false when the file system refused it.
bool markAsOptimized(const QString &path, double quality);

// When a screenshot was taken: the time in its name (the store's "yyyyMMdd_HHmmss_APP.ext"),
// else the earlier of its birth and modification times (a rewrite gives a file a new birth time
// but keeps its modification time). Absent when the file cannot be examined.
std::optional<TimePoint> captureTime(const QString &path);

struct RecompressionCandidate {
    QString path;
    double ageSeconds = 0;
};

// One hour folder whose files need work in this pass, and what is needed to record it as done.
struct FolderVisit {
    QString path;
    std::vector<RecompressionCandidate> candidates; // oldest first
    qint64 modifiedNs = 0; // the folder's modification time before it was listed
    QStringList names; // its visible entries when listed
    // When the first of its files reaches its next quality level (seconds since 1970, rounded
    // down); the folder is done until then unless it changes.
    qint64 nextLevelChange = 0;
};

struct RecompressionScan {
    std::vector<FolderVisit> folders; // oldest first; only folders with candidates
    bool markersSupported = true; // false where the file system keeps no user attributes
    int hourFolders = 0; // hour folders looked at
    int foldersListed = 0; // hour folders whose files were listed
    int filesRead = 0; // files whose bytes were read (left-over backups checked)
};

struct FileOutcome {
    enum class Kind { unchanged, optimized, failed };
    Kind kind = Kind::unchanged;
    QString fileName;
    qint64 sourceBytes = 0;
    qint64 newBytes = 0;
    QString error; // for `failed`
    bool alreadyReported = false; // a `failed` the file already had in an earlier pass
    bool read = false; // the file's bytes were read
};

// The file work of re-compression: finding what needs doing, re-encoding one file, remembering
// which hour folders are done. Not thread-safe: it belongs to one worker thread.
//
// A pass must not look at every file every hour. Each hour folder (yyyy/MM/dd/HH) therefore gets a
// record once all its files have been handled: the folder's modification time and the moment the
// first of its files becomes old enough for its next quality level. The folder is listed again
// only when its modification time changed (a file arrived, left or was renamed) or that moment
// has come. The record is kept in memory and also as an extended attribute of the folder, so that
// the first pass after a start is as cheap as the hourly ones.
class RecompressionWorker {
public:
    // The next level change of a folder whose files have all reached the last level.
    static constexpr qint64 kNever = std::numeric_limits<qint64>::max();

    explicit RecompressionWorker(QString screenshotsFolder);

    // Walks the hour folders, lists those without a current record, settles backups a crash left
    // behind there, and returns the files old enough for re-encoding. Folders found complete
    // without any re-encoding are recorded at once.
    RecompressionScan scan(TimePoint now);

    // Re-encodes one file at its target quality when that is worthwhile: the original is kept as
    // "<file>.bak" until the new file is written (atomically) and reads back at the same size,
    // then marked, and the backup removed. A file that cannot be read (not a regular file
    // included), decoded or encoded is a failure, and stays as it is.
    FileOutcome optimizeScreenshot(const RecompressionCandidate &candidate);

    // Records the folder as done, unless one of its files failed (it is then visited again).
    void finishFolder(const FolderVisit &visit, bool everyFileHandled);

    // Forgets the in-memory records (the ones on the folders stay).
    void forgetFolders() { m_folders.clear(); }

private:
    struct FolderRecord {
        qint64 modifiedNs = 0;
        qint64 nextLevelChange = kNever;
    };

    void scanFolder(const QString &path, int depth, TimePoint now, RecompressionScan &out);
    void visitHourFolder(const QString &path, qint64 modifiedNs, TimePoint now, RecompressionScan &out);
    bool isCurrent(const FolderRecord &record, qint64 modifiedNs, TimePoint now) const;
    std::optional<FolderRecord> record(const QString &path) const;
    void storeRecord(const QString &path, const FolderRecord &record);

    QString m_screenshotsFolder;
    std::unordered_map<QString, FolderRecord> m_folders;
    std::unordered_set<QString> m_failedFiles; // failures already reported
    ImageOptimizer m_encoders; // only its encoders are used
};

} // namespace pellux
