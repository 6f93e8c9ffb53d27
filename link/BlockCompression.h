#pragma once
#include <QByteArray>
#include <QtGlobal>

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;

// zstd for one data block at a time. Holds its contexts: creating them costs
// more than compressing a small block.
class BlockCompressor {
public:
    BlockCompressor();
    ~BlockCompressor();
    BlockCompressor(const BlockCompressor&) = delete;
    BlockCompressor& operator=(const BlockCompressor&) = delete;

    // Compressed form of raw when that is smaller, else empty (the block then goes raw).
    QByteArray Compress(const QByteArray& raw, int level = DefaultLevel);
    // The same against reference, bytes the other side holds (a zstd prefix),
    // with a content checksum: a decoder holding other bytes refuses the frame
    // rather than take what they would make of it.
    QByteArray Compress(QByteArrayView raw, QByteArrayView reference, int level);
    // True only when data is one zstd frame that gives exactly rawSize bytes,
    // rawSize <= maxRaw; out then holds them. Memory stays bounded by maxRaw
    // whatever the frame claims.
    bool Decompress(const quint8* data, qsizetype size, qint32 rawSize, qint32 maxRaw, QByteArray& out);
    // The same for a frame made against reference; a frame without a content
    // checksum is refused.
    bool Decompress(const quint8* data, qsizetype size, qint32 rawSize, qint32 maxRaw, QByteArrayView reference,
                    QByteArray& out);

    static constexpr int DefaultLevel = 3;
    static constexpr int HighestLevel = 19;

private:
    bool DecompressFrame(const quint8* data, qsizetype size, qint32 rawSize, qint32 maxRaw, QByteArrayView reference,
                         QByteArray& out);

    ZSTD_CCtx_s* m_cctx;
    ZSTD_DCtx_s* m_dctx;
};

// The same with contexts kept per thread.
QByteArray CompressBlock(const QByteArray& raw, int level = BlockCompressor::DefaultLevel);
bool DecompressBlock(const quint8* data, qsizetype size, qint32 rawSize, qint32 maxRaw, QByteArray& out);
