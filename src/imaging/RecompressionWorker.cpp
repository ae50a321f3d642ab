#include "imaging/RecompressionWorker.h"

#include "imaging/DeltaFrameReader.h"
#include "imaging/ExtendedAttributes.h"
#include "imaging/ImageFileReader.h"
#include "imaging/ScreenshotFileName.h"
#include "runtime/Log.h"
#include "runtime/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace pellux {

namespace {

constexpr char kFolderRecordAttribute[] = "user.com.pellux.optimized.folder";
constexpr int kHourFolderDepth = 4; // yyyy/MM/dd/HH below the screenshots folder
constexpr double kStaleTemporarySeconds = 3600;

QString errnoText(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};

struct Entry {
    QString name;
    unsigned char type = DT_UNKNOWN;
};

// The entries of a folder, "." and ".." left out; empty when it cannot be read.
std::vector<Entry> listFolder(const QString &path)
{
    std::vector<Entry> entries;
    const QByteArray name = QFile::encodeName(path);
    std::unique_ptr<DIR, DirCloser> dir(::opendir(name.constData()));
    if (!dir)
        return entries;
    while (const dirent *e = ::readdir(dir.get())) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        Entry entry { QFile::decodeName(e->d_name), e->d_type };
        if (entry.type == DT_UNKNOWN) {
            struct stat st { };
            if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                entry.type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool isHidden(const QString &name) { return name.startsWith(QLatin1Char('.')); }

std::optional<qint64> modifiedNs(const QString &path)
{
    struct stat st { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

bool hasImageExtension(const QString &name)
{
    return name.endsWith(QLatin1String(".webp"), Qt::CaseInsensitive)
        || name.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive)
        || name.endsWith(QLatin1String(".jpeg"), Qt::CaseInsensitive);
}

bool removeFile(const QString &path) { return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT; }

QString fileNameOf(const QString &path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

} // namespace

int qualityLevelIndex(double ageSeconds)
{
    if (!(ageSeconds > kMinimumCandidateAgeSeconds))
        return -1;
    int index = -1;
    for (size_t i = 0; i < kQualityLevels.size(); ++i) {
        if (kQualityLevels[i].ageSeconds <= ageSeconds)
            index = static_cast<int>(i);
    }
    return index;
}

double targetQuality(double ageSeconds)
{
    double quality = kDefaultTargetQuality;
    for (const QualityLevel &level : kQualityLevels) {
        if (level.ageSeconds <= ageSeconds)
            quality = level.quality;
    }
    return quality;
}

bool isRewriteWorthwhile(qint64 sourceBytes, qint64 newBytes)
{
    return sourceBytes > 0 && newBytes<sourceBytes &&double(sourceBytes - newBytes) / double(sourceBytes)> 0.1;
}

QByteArray qualityMarker(double quality)
{
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%.2f", quality);
    return n > 0 && n < int(sizeof text) ? QByteArray(text, n) : QByteArray();
}

std::optional<double> parseQualityMarker(const QByteArray &bytes)
{
    static const QRegularExpression number(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes || !number.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

bool isAlreadyOptimized(const QString &path, double target)
{
    const ExtendedAttribute marker = extendedAttribute(path, kOptimizedQualityAttribute);
    if (!marker.ok())
        return false;
    const std::optional<double> quality = parseQualityMarker(marker.data);
    return quality && *quality <= target;
}

bool markAsOptimized(const QString &path, double quality)
{
    return setExtendedAttribute(path, qualityMarker(quality), kOptimizedQualityAttribute) == 0;
}

std::optional<TimePoint> captureTime(const QString &path)
{
    if (const std::optional<TimePoint> named = captureTimeFromFileName(fileNameOf(path)))
        return named;
    struct statx st { };
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &st)
        != 0)
        return std::nullopt;
    double seconds = double(st.stx_mtime.tv_sec) + st.stx_mtime.tv_nsec / 1e9;
    if (st.stx_mask & STATX_BTIME)
        seconds = std::min(seconds, double(st.stx_btime.tv_sec) + st.stx_btime.tv_nsec / 1e9);
    return fromSecondsSince1970(seconds);
}

RecompressionWorker::RecompressionWorker(QString screenshotsFolder)
    : m_screenshotsFolder(std::move(screenshotsFolder))
{
}

RecompressionScan RecompressionWorker::scan(TimePoint now)
{
    RecompressionScan out;
    const ExtendedAttribute probe = extendedAttribute(m_screenshotsFolder, kOptimizedQualityAttribute);
    if (probe.error == ENOENT)
        return out; // nothing captured yet
    if (probe.error == ENOTSUP) {
        // Without markers every pass would re-encode the same files again.
        out.markersSupported = false;
        return out;
    }
    scanFolder(m_screenshotsFolder, 0, now, out);
    return out;
}

void RecompressionWorker::scanFolder(const QString &path, int depth, TimePoint now, RecompressionScan &out)
{
    std::vector<QString> folders;
    for (const Entry &entry : listFolder(path)) {
        if (entry.type == DT_DIR && !isHidden(entry.name))
            folders.push_back(entry.name);
    }
    // The names are zero-padded numbers: sorted by name is oldest first.
    std::sort(folders.begin(), folders.end());
    for (const QString &name : folders) {
        const QString folder = path + QLatin1Char('/') + name;
        if (depth + 1 < kHourFolderDepth) {
            scanFolder(folder, depth + 1, now, out);
            continue;
        }
        ++out.hourFolders;
        const std::optional<qint64> modified = modifiedNs(folder);
        if (!modified)
            continue;
        const std::optional<FolderRecord> known = record(folder);
        if (known && isCurrent(*known, *modified, now))
            continue;
        visitHourFolder(folder, *modified, now, out);
    }
}

void RecompressionWorker::visitHourFolder(const QString &path, qint64 modified, TimePoint now, RecompressionScan &out)
{
    ++out.foldersListed;
    static const QRegularExpression temporaryName(QStringLiteral("^\\..+\\.tmp-[A-Za-z0-9]{6}$"));
    QSet<QString> files;
    QStringList backups;
    for (const Entry &entry : listFolder(path)) {
        if (isHidden(entry.name)) {
            // A temporary of a rewrite that a crash interrupted; an hour's grace for one in progress.
            const QString full = path + QLatin1Char('/') + entry.name;
            const std::optional<TimePoint> time = captureTime(full);
            if (entry.type == DT_REG && temporaryName.match(entry.name).hasMatch() && time
                && secondsSince1970(now) - secondsSince1970(*time) > kStaleTemporarySeconds)
                removeFile(full);
            continue;
        }
        if (entry.type != DT_REG)
            continue;
        if (entry.name.endsWith(QLatin1String(".bak")) && hasImageExtension(entry.name.chopped(4)))
            backups << entry.name;
        else
            files.insert(entry.name);
    }

    // A backup outlives its rewrite only when the run was cut short. The rewrite is atomic, so a
    // file that still decodes needs it no more; one that does not is restored from it. A backup
    // without its file belongs to a deleted screenshot (the store removes the backup first).
    for (const QString &backupName : backups) {
        const QString backup = path + QLatin1Char('/') + backupName;
        const QString name = backupName.chopped(4);
        const QString file = path + QLatin1Char('/') + name;
        if (!files.contains(name)) {
            if (removeFile(backup))
                log::info(QStringLiteral("Removed the backup %1 of a deleted screenshot").arg(backupName));
            continue;
        }
        ++out.filesRead;
        const std::optional<QByteArray> bytes = readStoredFile(file);
        const bool intact = bytes && (DeltaFrameReader::isDeltaContainer(*bytes) || !decodeImage(*bytes).isNull());
        if (intact) {
            if (!removeFile(backup))
                log::failure(QStringLiteral("Failed to remove the backup %1: %2").arg(backupName, errnoText(errno)));
        } else if (::rename(QFile::encodeName(backup).constData(), QFile::encodeName(file).constData()) == 0) {
            log::info(QStringLiteral("Restored %1 from its backup").arg(name));
        } else {
            log::failure(QStringLiteral("Failed to restore %1 from its backup: %2").arg(name, errnoText(errno)));
        }
    }

    FolderVisit visit;
    visit.path = path;
    visit.modifiedNs = modified;
    visit.nextLevelChange = kNever;
    const double nowSeconds = secondsSince1970(now);
    QStringList names;
    for (const QString &name : files) {
        names << name;
        if (!hasImageExtension(name))
            continue;
        const QString file = path + QLatin1Char('/') + name;
        const std::optional<TimePoint> taken = captureTime(file);
        if (!taken)
            continue;
        const double captured = secondsSince1970(*taken);
        const double age = nowSeconds - captured;
        const int level = qualityLevelIndex(age);
        if (level >= 0)
            visit.candidates.push_back({ file, age });
        const double nextThreshold = level < 0          ? kMinimumCandidateAgeSeconds
            : size_t(level + 1) < kQualityLevels.size() ? kQualityLevels[size_t(level + 1)].ageSeconds
                                                        : -1;
        if (nextThreshold >= 0)
            visit.nextLevelChange
                = std::min(visit.nextLevelChange, static_cast<qint64>(std::floor(captured + nextThreshold)));
    }
    // Backups that stayed (they could not be removed) count as entries too.
    for (const QString &backupName : backups) {
        if (QFile::exists(path + QLatin1Char('/') + backupName))
            names << backupName;
    }
    names.sort();
    visit.names = names;
    std::stable_sort(visit.candidates.begin(), visit.candidates.end(),
        [](const RecompressionCandidate &a, const RecompressionCandidate &b) { return a.ageSeconds > b.ageSeconds; });

    if (visit.candidates.empty())
        finishFolder(visit, true);
    else
        out.folders.push_back(std::move(visit));
}

FileOutcome RecompressionWorker::optimizeScreenshot(const RecompressionCandidate &candidate)
{
    FileOutcome out;
    out.fileName = fileNameOf(candidate.path);
    const auto failed = [&](const QString &error) {
        out.kind = FileOutcome::Kind::failed;
        out.error = error;
        // Said once per file: the folder is visited again every pass until the file is dealt with.
        out.alreadyReported = !m_failedFiles.insert(candidate.path).second;
        return out;
    };
    const auto unchanged = [&] {
        m_failedFiles.erase(candidate.path);
        return out;
    };
    const double target = targetQuality(candidate.ageSeconds);
    if (isAlreadyOptimized(candidate.path, target))
        return unchanged();
    QString readError;
    const std::optional<QByteArray> source = readStoredFile(candidate.path, &readError);
    if (!source) {
        if (!QFileInfo::exists(candidate.path) && !QFileInfo(candidate.path).isSymLink())
            return unchanged(); // deleted meanwhile
        return failed(QStringLiteral("cannot read it: %1").arg(readError));
    }
    out.read = true;
    if (source->size() < kMinimumRecompressedBytes || DeltaFrameReader::isDeltaContainer(*source))
        return unchanged();
    const QImage image = decodeImage(*source, &readError);
    if (image.isNull())
        return failed(QStringLiteral("cannot decode it: %1").arg(readError));
    const std::optional<QByteArray> encoded
        = isWebPData(*source) ? m_encoders.convertToWebP(image, target) : m_encoders.compressToJPEG(image, target);
    if (!encoded)
        return failed(QStringLiteral("cannot encode it at quality %1").arg(target));
    if (!isRewriteWorthwhile(source->size(), encoded->size()))
        return unchanged();

    const QString backup = candidate.path + QStringLiteral(".bak");
    QString error;
    switch (writeNewPrivateFile(backup, *source, &error)) {
    case WriteOutcome::written:
        break;
    case WriteOutcome::alreadyExists:
        return failed(QStringLiteral("a backup %1 is already there").arg(fileNameOf(backup)));
    case WriteOutcome::failed:
        return failed(error);
    }
    switch (replaceExistingPrivateFile(candidate.path, *encoded, &error)) {
    case ReplaceOutcome::replaced:
        break;
    case ReplaceOutcome::vanished: // deleted meanwhile: nothing to do
        removeFile(backup);
        return unchanged();
    case ReplaceOutcome::failed:
        removeFile(backup);
        return failed(error);
    }

    const std::optional<QByteArray> rewritten = readStoredFile(candidate.path, &readError);
    const QImage written = rewritten ? decodeImage(*rewritten, &readError) : QImage();
    if (written.size() != image.size()) {
        if (!QFile::exists(candidate.path)) {
            removeFile(backup);
            return unchanged();
        }
        if (::rename(QFile::encodeName(backup).constData(), QFile::encodeName(candidate.path).constData()) != 0) {
            return failed(QStringLiteral("the new file does not read back (%1) and the original could not be put "
                                         "back from %2: %3")
                              .arg(readError, fileNameOf(backup), errnoText(errno)));
        }
        return failed(QStringLiteral("the new file does not read back (%1); the original was put back")
                          .arg(readError.isEmpty() ? QStringLiteral("wrong size") : readError));
    }
    if (!markAsOptimized(candidate.path, target))
        log::failure(QStringLiteral("Failed to mark %1 as optimized: %2").arg(out.fileName, errnoText(errno)));
    if (!removeFile(backup))
        log::failure(QStringLiteral("Failed to remove the backup of %1: %2").arg(out.fileName, errnoText(errno)));
    m_failedFiles.erase(candidate.path);
    out.kind = FileOutcome::Kind::optimized;
    out.sourceBytes = source->size();
    out.newBytes = encoded->size();
    return out;
}

void RecompressionWorker::finishFolder(const FolderVisit &visit, bool everyFileHandled)
{
    if (!everyFileHandled) {
        m_folders.erase(visit.path);
        return;
    }
    FolderRecord done { visit.modifiedNs, visit.nextLevelChange };
    // Rewrites and removed backups change the folder's modification time too. The newer time is
    // recorded only when the folder still holds exactly the entries handled; otherwise the old
    // one stays, and the next pass looks again.
    const std::optional<qint64> now = modifiedNs(visit.path);
    if (now && *now != visit.modifiedNs) {
        QStringList names;
        for (const Entry &entry : listFolder(visit.path)) {
            if (!isHidden(entry.name))
                names << entry.name;
        }
        names.sort();
        if (names == visit.names)
            done.modifiedNs = *now;
    }
    storeRecord(visit.path, done);
}

bool RecompressionWorker::isCurrent(const FolderRecord &known, qint64 modified, TimePoint now) const
{
    return known.modifiedNs == modified && secondsSince1970(now) < double(known.nextLevelChange);
}

std::optional<RecompressionWorker::FolderRecord> RecompressionWorker::record(const QString &path) const
{
    if (const auto found = m_folders.find(path); found != m_folders.end())
        return found->second;
    const ExtendedAttribute stored = extendedAttribute(path, kFolderRecordAttribute);
    if (!stored.ok())
        return std::nullopt;
    // "1 <modification ns> <next level change>"
    const QList<QByteArray> fields = stored.data.split(' ');
    if (fields.size() != 3 || fields[0] != "1")
        return std::nullopt;
    bool modifiedOk = false;
    bool changeOk = false;
    FolderRecord out { fields[1].toLongLong(&modifiedOk), fields[2].toLongLong(&changeOk) };
    if (!modifiedOk || !changeOk)
        return std::nullopt;
    return out;
}

void RecompressionWorker::storeRecord(const QString &path, const FolderRecord &done)
{
    m_folders[path] = done;
    const QByteArray text = QByteArrayLiteral("1 ") + QByteArray::number(done.modifiedNs) + ' '
        + QByteArray::number(done.nextLevelChange);
    // Without it the next start lists the folder once more; nothing else depends on it.
    setExtendedAttribute(path, text, kFolderRecordAttribute);
}

} // namespace pellux
