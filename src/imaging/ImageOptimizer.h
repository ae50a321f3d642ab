#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>

#include <qcorotask.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace pellux {

// What a frame mostly shows; decides how far it is scaled down and how hard it is compressed.
enum class ContentType : int { text = 0, mixed = 1, colorful = 2, flat = 3 };

// Largest side, in pixels, a frame of this type is scaled down to.
int maxDimension(ContentType type);
// The largest scale factor a frame of this type is stored at (never enlarged beyond it).
double scaleCap(ContentType type);
// Encoder quality for this type, 0...1.
double compressionQuality(ContentType type);

// How a frame's pixels are kept: exactly (lossless WebP) or at the quality of its content type.
enum class Fidelity { exact, lossy };
// What a content type is stored as first. Terminal text, interfaces and flat screens are few
// colours in long runs, which lossless WebP stores in a quarter of the lossy bytes; anything
// else keeps the lossy encoding of its quality.
Fidelity preferredFidelity(ContentType type);

// Lossless WebP effort (libwebp's preset level, 0...9). One 1920x1080 desktop of terminals
// (tests/data/xterm-desktop.png) against lossy quality 0.85, method 0 (266 KB, 53 ms), processor
// time on this machine (bench/image_optimizer_bench.cpp, BM_LosslessEffort): level 1 130 KB in
// 46 ms, 3 53 KB in 116 ms, 6 44 KB in 133 ms, 7 42 KB in 130 ms, 8 42 KB in 175 ms. Levels 1 and 2
// keep half the bytes; level 7 stores a sixth of the lossy bytes for about two and a half times
// its time, a fifth less than level 3 for about a tenth more time, and encoding is a small part of
// a stored frame's cost next to recognising its text.
inline constexpr int kLosslessWebPEffort = 7;

// Position of one 64x64 block in a block grid.
struct BlockCoordinate {
    int row = 0;
    int col = 0;
    friend bool operator==(const BlockCoordinate &, const BlockCoordinate &) = default;
};

struct BlockCoordinateHash {
    size_t operator()(const BlockCoordinate &c) const noexcept
    {
        return std::hash<long long>()((static_cast<long long>(c.row) << 32) ^ static_cast<unsigned>(c.col));
    }
};

// One 16-character hash per 64x64 block of an image, row-major; an empty string where the block
// could not be cut out. Shared (read-only) between the grid cache and its callers.
struct BlockHashes {
    int blockSize = 64;
    std::vector<std::vector<QString>> hashes;
    QString imageHash; // perceptual hash of the whole image; the cache key
    int width = 0;
    int height = 0;
};

struct BlockMatch {
    std::unordered_set<BlockCoordinate, BlockCoordinateHash> matchingBlocks;
    int totalBlocks = 0;
    double similarity = 0.0;
    // The image hash of the cached screenshot these blocks were matched against, so that a
    // delta built from the match names the frame it completes.
    QString referenceHash;
};

// A changed-region delta of a window against its previous capture ("DLTA" container in `data`).
struct DeltaFrame {
    std::vector<QRect> regions; // pixels of the source image, top-left origin
    QByteArray data;
    QString referenceHash;
    double compressionRatio = 0.0;
};

// A window's next delta reference: the full frame that later deltas of the window will name.
struct PendingReference {
    QString windowID;
    QString hash;
    QByteArray fullImageData;
};

// What the changed-region delta stage makes of a frame: at most one of the two is present. A full
// frame comes with the reference it becomes once the store has saved it.
struct DeltaFrameOutcome {
    std::optional<DeltaFrame> deltaFrame;
    std::optional<QByteArray> fullFrame;
    std::optional<PendingReference> newReference;
};

struct OptimizationResult {
    bool shouldStore = false;
    std::optional<QByteArray> optimizedData;
    QString imageHash;
    double compressionRatio = 1.0;
    std::optional<QString> duplicateOf;
    bool isDeltaFrame = false;
    std::optional<DeltaFrame> deltaFrame;
    // Hash of the frame a delta completes: the changed-region delta's reference, or the matched
    // screenshot of a block-based delta.
    std::optional<QString> referenceHash;
    // What later frames may build on once this one is stored: the window's new delta reference and
    // the frame's block grid. Held back until ImageOptimizer::commitStoredFrame, so that no delta
    // ever names a frame that failed to reach the disk and the database.
    std::optional<PendingReference> pendingReference;
    std::shared_ptr<const BlockHashes> pendingBlockHashes;
};

// Finds the boxes of the text lines in an image by layout analysis alone (no recognition).
// Boxes are pixel rectangles of the image it was given, top-left origin. Called from worker
// threads, possibly several at once.
using TextLineDetector = std::function<std::vector<QRect>(const QImage &image)>;

// Looks up the stored file path of a recording with this image hash and calls the completion
// exactly once with it (or nothing). SimpleDatabaseManager::getScreenshotByHash in production.
using DuplicateLookup
    = std::function<void(const QString &imageHash, std::function<void(std::optional<QString>)> completion)>;

// The changed-region delta stage (DeltaFrameProcessor in production).
using DeltaFrameFunction = std::function<QCoro::Task<DeltaFrameOutcome>(
    QImage currentImage, QImage previousImage, QString windowID, QString imageHash)>;
// Encodes the given regions of an image into a "DLTA" container; called on a worker thread.
using DeltaDataFunction
    = std::function<std::optional<QByteArray>(const QImage &bitmap, const std::vector<QRect> &regions)>;
// Makes a stored full frame the window's delta reference (DeltaFrameProcessor::commitReference).
using ReferenceCommitFunction = std::function<void(const PendingReference &reference)>;

// Byte count of an uncompressed 8-bit RGBA TIFF of the image (one strip, one IFD); 0 for a null
// image. The numerator of every compression ratio.
qint64 tiffRepresentationSize(const QImage &image);

// Fingerprints, content classification, encoders and the decision of how a captured frame is
// stored. Every operation is thread-safe; the ones returning a task do their CPU work on the
// global thread pool and resume on the calling thread, the others block and belong on a worker.
class ImageOptimizer {
public:
    static constexpr int kBlockSize = 64;
    static constexpr int kBlockHashCacheLimit = 50;
    static constexpr double kPartialMatchThreshold = 0.7;

    // The instance the composition root (app/AppComponents) built; it builds nothing itself.
    static ImageOptimizer &shared();

    ImageOptimizer();
    ~ImageOptimizer();
    ImageOptimizer(const ImageOptimizer &) = delete;
    ImageOptimizer &operator=(const ImageOptimizer &) = delete;

    // Collaborators; the application's instance is wired by its composition root to the database,
    // the text-line detector and the delta-frame processor (which in turn encodes with this one).
    void setDuplicateLookup(DuplicateLookup lookup);
    void setTextLineDetector(TextLineDetector detector);
    void setDeltaFrameStage(DeltaFrameFunction processDeltaFrame, DeltaDataFunction createDeltaData,
        ReferenceCommitFunction commitReference = {});

    // --- Fingerprints ---

    // 64 lowercase hex characters: SHA-256 of the image's 16x16 grey thumbnail. A fresh UUID
    // string (36 characters, never equal to another hash) when the image has no pixels.
    QCoro::Task<QString> generatePerceptualHash(QImage image) const;
    static QString perceptualHash(const QImage &image);
    // 16 lowercase hex characters from the 8x8 grey thumbnail of one block; UUID fallback.
    static QString blockHash(const QImage &block);
    // The 64-pixel block grid; absent for an image without pixels.
    QCoro::Task<std::shared_ptr<const BlockHashes>> generateBlockHashes(QImage image) const;
    static std::shared_ptr<const BlockHashes> blockHashes(const QImage &image);
    static BlockMatch compareBlockHashes(const BlockHashes &newHashes, const BlockHashes &candidate);
    // Caches the image's grid and returns the best cached grid sharing more than `threshold`
    // of its blocks (older wins ties), never the image itself.
    QCoro::Task<std::optional<BlockMatch>> findPartialMatches(QImage image, double threshold);
    std::optional<BlockMatch> findPartialMatchesBlocking(const QImage &image, double threshold);
    // The stored file path of a recording with this hash, if any.
    QCoro::Task<std::optional<QString>> checkForDuplicate(QString hash) const;

    // Grid cache, oldest key first.
    std::vector<QString> blockHashKeys() const;
    bool isBlockHashCached(const QString &imageHash) const;
    // Heap bytes held by the cached grids.
    size_t blockHashCacheBytes() const;

    // --- Classification and encoding ---

    ContentType analyzeContent(const QImage &image) const;
    // Variance between the three channels of the image's mean colour; absent without pixels.
    static std::optional<double> analyzeImageStatistics(const QImage &image);
    static double getOptimalScaleFactor(const QImage &image, ContentType contentType);
    // Smoothly scaled copy; factors of 1.0 or more return the image unchanged.
    static QImage scaleImage(const QImage &image, double factor);
    // Lossy WebP (method 0) at quality 0...1; absent for images without pixels or beyond WebP's size limit.
    std::optional<QByteArray> convertToWebP(const QImage &image, double quality) const;
    // Pixel-exact WebP at the given effort (0...9); absent where lossy WebP would be too.
    std::optional<QByteArray> convertToLosslessWebP(const QImage &image, int effort = kLosslessWebPEffort) const;
    // Progressive JPEG at quality 0...1.
    std::optional<QByteArray> compressToJPEG(const QImage &image, double quality) const;
    // Share of pixels, on a sample of rows, equal to their left neighbour: most of a screen of
    // text or controls, almost none of a photograph. 0 for an image without pixels.
    static double repeatedPixelShare(const QImage &image);
    // Encodes an image of this content type as what is smallest at no visible loss. Screen
    // content of the exact types: at the size of text (not reduced further), lossless WebP, or
    // lossy WebP at the type's quality when that turns out smaller. Anything else: scaled for its
    // type, lossy WebP at its quality, else progressive JPEG.
    std::optional<QByteArray> encodeForContent(const QImage &image, ContentType contentType) const;
    // Classify, scale and encode (encodeForContent).
    std::optional<QByteArray> compressByContent(const QImage &image) const;
    // Mean absolute per-channel difference in 0...1; 1.0 when it cannot be computed.
    QCoro::Task<double> calculateImageDifference(QImage image, QImage previousImage) const;
    static double imageDifference(const QImage &image, const QImage &previousImage);
    static std::vector<QRect> mergeAdjacentRegions(std::vector<QRect> regions);

    // --- The pipeline ---

    // Decides how the frame is stored; touches no cache. Once the store has saved the frame, hand
    // the result to commitStoredFrame; a frame that was not saved leaves everything as it was.
    QCoro::Task<OptimizationResult> optimizeScreenshot(QImage image, QString windowTitle, QString appName,
        std::optional<QString> previousHash, std::optional<QImage> previousImage, std::optional<QString> windowID);
    // Lets later frames build on a stored one: caches its block grid and makes a full frame the
    // window's delta reference.
    void commitStoredFrame(const OptimizationResult &stored);
    // Screenshots were deleted: no later frame may be matched against the grid of one that may be
    // gone, so the cached grids go.
    void forgetStoredFrames();
    // The blocks of the image that the match does not cover, as a "DLTA" container.
    QCoro::Task<std::optional<QByteArray>> createPartialDeltaFrame(QImage image, BlockMatch blockMatch) const;
    std::optional<QByteArray> createPartialDeltaFrameBlocking(const QImage &image, const BlockMatch &blockMatch) const;

private:
    void cacheBlockHashes(const std::shared_ptr<const BlockHashes> &grid);
    // The best cached grid sharing more than `threshold` of the grid's blocks; caches nothing.
    std::optional<BlockMatch> bestCachedMatch(const BlockHashes &grid, double threshold) const;

    mutable std::mutex m_mutex; // guards everything below
    std::unordered_map<QString, std::shared_ptr<const BlockHashes>> m_blockHashCache;
    std::deque<QString> m_blockHashKeys;
    DuplicateLookup m_duplicateLookup;
    TextLineDetector m_textLineDetector;
    DeltaFrameFunction m_processDeltaFrame;
    DeltaDataFunction m_createDeltaData;
    ReferenceCommitFunction m_commitReference;
};

} // namespace pellux
