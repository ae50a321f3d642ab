// The grid cache, the duplicate lookup and the decision of how a captured frame is stored.
#include "imaging/ImageOptimizer.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"
#include "runtime/PixelBuffer.h"
#include "runtime/SharedInstance.h"
#include "runtime/ThreadPool.h"

#include <QFuture>

#include <qcorofuture.h>

#include <atomic>

namespace pellux {

namespace {

OptimizationResult duplicateResult(const QString &hash, const QString &duplicateOf)
{
    OptimizationResult result;
    result.shouldStore = false;
    result.imageHash = hash;
    result.compressionRatio = 1.0;
    result.duplicateOf = duplicateOf;
    return result;
}

OptimizationResult storedResult(const QString &hash, qint64 sourceSize, std::optional<QByteArray> data)
{
    OptimizationResult result;
    result.shouldStore = true;
    result.imageHash = hash;
    const qint64 storedSize = data ? data->size() : 0;
    result.compressionRatio = double(sourceSize) / double(std::max<qint64>(1, storedSize));
    result.optimizedData = std::move(data);
    return result;
}

// Why an image cannot be stored at all, if it cannot.
std::optional<QString> unusableReason(const QImage &image)
{
    if (image.isNull())
        return QStringLiteral("the image has no pixels");
    if (pixelbuffer::isFullyTransparent(image))
        return QStringLiteral("the %1x%2 image is fully transparent").arg(image.width()).arg(image.height());
    return std::nullopt;
}

} // namespace

ImageOptimizer &ImageOptimizer::shared() { return SharedInstance<ImageOptimizer>::get("ImageOptimizer"); }

ImageOptimizer::ImageOptimizer() = default;
ImageOptimizer::~ImageOptimizer() = default;

void ImageOptimizer::setDuplicateLookup(DuplicateLookup lookup)
{
    std::lock_guard lock(m_mutex);
    m_duplicateLookup = std::move(lookup);
}

void ImageOptimizer::setTextLineDetector(TextLineDetector detector)
{
    std::lock_guard lock(m_mutex);
    m_textLineDetector = std::move(detector);
}

void ImageOptimizer::setDeltaFrameStage(
    DeltaFrameFunction processDeltaFrame, DeltaDataFunction createDeltaData, ReferenceCommitFunction commitReference)
{
    std::lock_guard lock(m_mutex);
    m_processDeltaFrame = std::move(processDeltaFrame);
    m_createDeltaData = std::move(createDeltaData);
    m_commitReference = std::move(commitReference);
}

void ImageOptimizer::commitStoredFrame(const OptimizationResult &stored)
{
    if (stored.pendingBlockHashes)
        cacheBlockHashes(stored.pendingBlockHashes);
    if (!stored.pendingReference)
        return;
    ReferenceCommitFunction commit;
    {
        std::lock_guard lock(m_mutex);
        commit = m_commitReference;
    }
    if (commit)
        commit(*stored.pendingReference);
}

QCoro::Task<QString> ImageOptimizer::generatePerceptualHash(QImage image) const
{
    return runOnPool([image] { return perceptualHash(image); });
}

QCoro::Task<std::shared_ptr<const BlockHashes>> ImageOptimizer::generateBlockHashes(QImage image) const
{
    return runOnPool([image] { return blockHashes(image); });
}

void ImageOptimizer::forgetStoredFrames()
{
    std::lock_guard lock(m_mutex);
    m_blockHashCache.clear();
    m_blockHashKeys.clear();
}

void ImageOptimizer::cacheBlockHashes(const std::shared_ptr<const BlockHashes> &grid)
{
    std::lock_guard lock(m_mutex);
    m_blockHashCache[grid->imageHash] = grid;
    if (std::find(m_blockHashKeys.begin(), m_blockHashKeys.end(), grid->imageHash) != m_blockHashKeys.end())
        return;
    m_blockHashKeys.push_back(grid->imageHash);
    if (m_blockHashKeys.size() > size_t(kBlockHashCacheLimit)) {
        m_blockHashCache.erase(m_blockHashKeys.front());
        m_blockHashKeys.pop_front();
    }
}

std::optional<BlockMatch> ImageOptimizer::findPartialMatchesBlocking(const QImage &image, double threshold)
{
    const std::shared_ptr<const BlockHashes> grid = blockHashes(image);
    if (!grid)
        return std::nullopt;
    cacheBlockHashes(grid);
    return bestCachedMatch(*grid, threshold);
}

std::optional<BlockMatch> ImageOptimizer::bestCachedMatch(const BlockHashes &grid, double threshold) const
{
    std::vector<std::shared_ptr<const BlockHashes>> candidates;
    {
        std::lock_guard lock(m_mutex);
        candidates.reserve(m_blockHashKeys.size());
        for (const QString &key : m_blockHashKeys) {
            const auto cached = m_blockHashCache.find(key);
            if (cached != m_blockHashCache.end() && cached->second->imageHash != grid.imageHash)
                candidates.push_back(cached->second);
        }
    }

    std::optional<BlockMatch> best;
    double bestSimilarity = 0.0;
    for (const auto &candidate : candidates) {
        BlockMatch match = compareBlockHashes(grid, *candidate);
        if (match.similarity > threshold && match.similarity > bestSimilarity) {
            bestSimilarity = match.similarity;
            best = std::move(match);
        }
    }
    return best;
}

QCoro::Task<std::optional<BlockMatch>> ImageOptimizer::findPartialMatches(QImage image, double threshold)
{
    return runOnPool([this, image, threshold] { return findPartialMatchesBlocking(image, threshold); });
}

std::vector<QString> ImageOptimizer::blockHashKeys() const
{
    std::lock_guard lock(m_mutex);
    return { m_blockHashKeys.begin(), m_blockHashKeys.end() };
}

bool ImageOptimizer::isBlockHashCached(const QString &imageHash) const
{
    std::lock_guard lock(m_mutex);
    return m_blockHashCache.count(imageHash) != 0;
}

size_t ImageOptimizer::blockHashCacheBytes() const
{
    const auto stringBytes = [](const QString &s) {
        // The string object plus its shared buffer (header, characters and terminator).
        return sizeof(QString) + (s.isEmpty() ? 0 : 16 + (size_t(s.capacity()) + 1) * sizeof(QChar));
    };
    std::lock_guard lock(m_mutex);
    size_t total = 0;
    for (const auto &[key, grid] : m_blockHashCache) {
        total += stringBytes(key) + sizeof(BlockHashes) + stringBytes(grid->imageHash);
        for (const auto &row : grid->hashes) {
            total += sizeof(row);
            for (const QString &hash : row)
                total += stringBytes(hash);
        }
    }
    return total;
}

QCoro::Task<std::optional<QString>> ImageOptimizer::checkForDuplicate(QString hash) const
{
    DuplicateLookup lookup;
    {
        std::lock_guard lock(m_mutex);
        lookup = m_duplicateLookup;
    }
    if (!lookup)
        co_return std::nullopt;
    auto [answer, completion] = completionFuture(std::optional<QString>());
    lookup(hash, std::move(completion));
    std::optional<QString> path = co_await answer;
    co_return path;
}

QCoro::Task<double> ImageOptimizer::calculateImageDifference(QImage image, QImage previousImage) const
{
    return runOnPool([image, previousImage] { return imageDifference(image, previousImage); });
}

std::optional<QByteArray> ImageOptimizer::createPartialDeltaFrameBlocking(
    const QImage &image, const BlockMatch &blockMatch) const
{
    if (image.isNull())
        return std::nullopt;
    DeltaDataFunction createDeltaData;
    {
        std::lock_guard lock(m_mutex);
        createDeltaData = m_createDeltaData;
    }
    if (!createDeltaData)
        return std::nullopt;

    const BlockGrid grid(image.width(), image.height(), kBlockSize);
    std::vector<QRect> changed;
    for (int row = 0; row < grid.rows; ++row) {
        for (int col = 0; col < grid.columns; ++col) {
            if (!blockMatch.matchingBlocks.count(BlockCoordinate { row, col }))
                changed.push_back(grid.block(row, col));
        }
    }
    return createDeltaData(image, mergeAdjacentRegions(std::move(changed)));
}

QCoro::Task<std::optional<QByteArray>> ImageOptimizer::createPartialDeltaFrame(
    QImage image, BlockMatch blockMatch) const
{
    return runOnPool([this, image, blockMatch] { return createPartialDeltaFrameBlocking(image, blockMatch); });
}

// g++ 12 destroys temporaries that live across a suspension point twice: every task awaited
// below is a named local, never a temporary inside the co_await expression.
QCoro::Task<OptimizationResult> ImageOptimizer::optimizeScreenshot(QImage image, QString windowTitle, QString appName,
    std::optional<QString> previousHash, std::optional<QImage> previousImage, std::optional<QString> windowID)
{
    Q_UNUSED(windowTitle);
    Q_UNUSED(appName);

    QCoro::Task<std::pair<QString, std::optional<QString>>> hashing
        = runOnPool([image] { return std::make_pair(perceptualHash(image), unusableReason(image)); });
    const std::pair<QString, std::optional<QString>> fingerprint = co_await hashing;
    const QString hash = fingerprint.first;
    if (fingerprint.second) {
        log::failure(QStringLiteral("ERROR ImageOptimizer: Nothing to store, %1").arg(*fingerprint.second));
        co_return storedResult(hash, tiffRepresentationSize(image), std::nullopt);
    }

    if (previousHash && *previousHash == hash)
        co_return duplicateResult(hash, *previousHash);
    QCoro::Task<std::optional<QString>> lookup = checkForDuplicate(hash);
    const std::optional<QString> storedPath = co_await lookup;
    if (storedPath)
        co_return duplicateResult(hash, *storedPath);

    const qint64 sourceSize = tiffRepresentationSize(image);

    DeltaFrameFunction processDeltaFrame;
    {
        std::lock_guard lock(m_mutex);
        processDeltaFrame = m_processDeltaFrame;
    }
    if (previousImage && windowID && processDeltaFrame) {
        QCoro::Task<DeltaFrameOutcome> deltaTask = processDeltaFrame(image, *previousImage, *windowID, hash);
        DeltaFrameOutcome outcome = co_await deltaTask;
        if (outcome.deltaFrame) {
            OptimizationResult result;
            result.shouldStore = true;
            result.optimizedData = outcome.deltaFrame->data;
            result.imageHash = hash;
            result.compressionRatio = outcome.deltaFrame->compressionRatio;
            result.isDeltaFrame = true;
            result.referenceHash = outcome.deltaFrame->referenceHash;
            result.deltaFrame = std::move(outcome.deltaFrame);
            co_return result;
        }
        if (outcome.fullFrame) {
            OptimizationResult result = storedResult(hash, sourceSize, std::move(outcome.fullFrame));
            result.pendingReference = std::move(outcome.newReference);
            co_return result;
        }
    }

    // The grid joins the cache only once the frame is stored (commitStoredFrame).
    QCoro::Task<std::pair<std::shared_ptr<const BlockHashes>, std::optional<BlockMatch>>> search
        = runOnPool([this, image] {
              std::shared_ptr<const BlockHashes> grid = blockHashes(image);
              std::optional<BlockMatch> best = grid ? bestCachedMatch(*grid, kPartialMatchThreshold) : std::nullopt;
              return std::make_pair(std::move(grid), std::move(best));
          });
    const std::pair<std::shared_ptr<const BlockHashes>, std::optional<BlockMatch>> found = co_await search;
    const std::shared_ptr<const BlockHashes> &grid = found.first;
    const std::optional<BlockMatch> &match = found.second;
    if (match && match->similarity > kPartialMatchThreshold) {
        log::info(QStringLiteral("Found %1% block match with existing image").arg(int(match->similarity * 100)));
        QCoro::Task<std::optional<QByteArray>> blockDelta = createPartialDeltaFrame(image, *match);
        std::optional<QByteArray> delta = co_await blockDelta;
        if (delta) {
            OptimizationResult result = storedResult(hash, sourceSize, std::move(delta));
            log::info(QStringLiteral("Block-based delta: %1KB → %2KB (ratio: %3x)")
                          .arg(sourceSize / 1024)
                          .arg(result.optimizedData->size() / 1024)
                          .arg(QString::asprintf("%.2f", result.compressionRatio)));
            result.isDeltaFrame = true;
            // Without the matched frame's hash the stored blocks could never be put back together.
            result.referenceHash = match->referenceHash;
            result.pendingBlockHashes = grid;
            co_return result;
        }
    }

    QCoro::Task<std::optional<QByteArray>> compression = runOnPool([this, image] { return compressByContent(image); });
    std::optional<QByteArray> encoded = co_await compression;
    OptimizationResult result = storedResult(hash, sourceSize, std::move(encoded));
    result.pendingBlockHashes = grid;
    co_return result;
}

} // namespace pellux
