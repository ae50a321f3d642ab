// Perceptual hashes, block grids and their comparison.
#include "imaging/ImageOptimizer.h"
#include "persistence/Recording.h"
#include "runtime/PixelBuffer.h"

#include <QUuid>

#include <openssl/evp.h>

#include <algorithm>

namespace pellux {

namespace {

constexpr int kPerceptualThumbnailSide = 16;
constexpr int kBlockThumbnailSide = 8;
constexpr int kBlockHashBytes = 8;

// A string no other hash ever equals, for images that cannot be hashed.
QString fallbackHash() { return uuidText(QUuid::createUuid()); }

// Lowercase hex of the first `digestBytes` bytes of the SHA-256 of a grey thumbnail of `side`
// x `side` pixels (rows without padding); the fallback when anything fails.
QString thumbnailHash(const QImage &image, int side, int digestBytes)
{
    if (image.isNull())
        return fallbackHash();
    const QImage thumbnail = image.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 .convertToFormat(QImage::Format_Grayscale8);
    if (thumbnail.isNull() || thumbnail.width() != side || thumbnail.height() != side)
        return fallbackHash();

    QByteArray pixels;
    pixels.reserve(side * side);
    for (int y = 0; y < side; ++y)
        pixels.append(reinterpret_cast<const char *>(thumbnail.constScanLine(y)), side);

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(pixels.constData(), static_cast<size_t>(pixels.size()), digest, &digestLength, EVP_sha256(), nullptr)
            != 1
        || digestLength < static_cast<unsigned>(digestBytes))
        return fallbackHash();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), digestBytes).toHex());
}

} // namespace

QString ImageOptimizer::perceptualHash(const QImage &image)
{
    return thumbnailHash(image, kPerceptualThumbnailSide, 32);
}

QString ImageOptimizer::blockHash(const QImage &block)
{
    return thumbnailHash(block, kBlockThumbnailSide, kBlockHashBytes);
}

std::shared_ptr<const BlockHashes> ImageOptimizer::blockHashes(const QImage &image)
{
    if (image.isNull())
        return nullptr;
    const QImage pixels = pixelbuffer::asArgb32Family(image);
    const BlockGrid grid(pixels.width(), pixels.height(), kBlockSize);

    auto result = std::make_shared<BlockHashes>();
    result->blockSize = kBlockSize;
    result->width = pixels.width();
    result->height = pixels.height();
    result->hashes.assign(static_cast<size_t>(grid.rows), std::vector<QString>(static_cast<size_t>(grid.columns)));
    for (int row = 0; row < grid.rows; ++row) {
        for (int col = 0; col < grid.columns; ++col) {
            const QImage block = pixelbuffer::view(pixels, grid.block(row, col));
            if (!block.isNull())
                result->hashes[static_cast<size_t>(row)][static_cast<size_t>(col)] = blockHash(block);
        }
    }
    // The hash the frame is stored under (taken from the image as given, whatever its pixel
    // format), so that a delta's reference names a stored frame.
    result->imageHash = perceptualHash(image);
    return result;
}

BlockMatch ImageOptimizer::compareBlockHashes(const BlockHashes &newHashes, const BlockHashes &candidate)
{
    BlockMatch match;
    match.referenceHash = candidate.imageHash;
    const size_t rows = newHashes.hashes.size();
    const size_t columns = rows == 0 ? 0 : newHashes.hashes.front().size();
    match.totalBlocks = static_cast<int>(rows * columns);
    if (match.totalBlocks == 0)
        return match;

    // A delta is rebuilt on top of the matched frame, so only a frame of the very same size will do.
    if (newHashes.width != candidate.width || newHashes.height != candidate.height
        || newHashes.blockSize != candidate.blockSize || candidate.hashes.size() != rows)
        return match;
    for (size_t row = 0; row < rows; ++row) {
        const auto &mine = newHashes.hashes[row];
        const auto &theirs = candidate.hashes[row];
        const size_t limit = std::min(mine.size(), theirs.size());
        for (size_t col = 0; col < limit; ++col) {
            if (mine[col] == theirs[col])
                match.matchingBlocks.insert(BlockCoordinate { static_cast<int>(row), static_cast<int>(col) });
        }
    }
    match.similarity = static_cast<double>(match.matchingBlocks.size()) / match.totalBlocks;
    return match;
}

} // namespace pellux
