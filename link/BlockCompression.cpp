#include "BlockCompression.h"
#include <zstd.h>

BlockCompressor::BlockCompressor() : m_cctx(ZSTD_createCCtx()), m_dctx(ZSTD_createDCtx()) {}

BlockCompressor::~BlockCompressor()
{
    ZSTD_freeCCtx(m_cctx);
    ZSTD_freeDCtx(m_dctx);
}

QByteArray BlockCompressor::Compress(const QByteArray& raw, int level)
{
    if (raw.size() < 2 || !m_cctx)
        return {};
    // Room for one byte less than raw: a form that is not smaller fails here.
    QByteArray out(raw.size() - 1, Qt::Uninitialized);
    const size_t n = ZSTD_compressCCtx(m_cctx, out.data(), size_t(out.size()), raw.constData(), size_t(raw.size()), level);
    if (ZSTD_isError(n))
        return {};
    out.truncate(qsizetype(n));
    return out;
}

QByteArray BlockCompressor::Compress(QByteArrayView raw, QByteArrayView reference, int level)
{
    if (raw.size() < 2 || !m_cctx)
        return {};
    ZSTD_CCtx_reset(m_cctx, ZSTD_reset_session_and_parameters);
    ZSTD_CCtx_setParameter(m_cctx, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(m_cctx, ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(m_cctx, ZSTD_c_contentSizeFlag, 0);  // the block says it
    if (!reference.isEmpty())
        ZSTD_CCtx_refPrefix(m_cctx, reference.data(), size_t(reference.size()));
    QByteArray out(raw.size() - 1, Qt::Uninitialized);
    const size_t n = ZSTD_compress2(m_cctx, out.data(), size_t(out.size()), raw.data(), size_t(raw.size()));
    if (ZSTD_isError(n)) {
        ZSTD_CCtx_reset(m_cctx, ZSTD_reset_session_and_parameters);  // drops a prefix left unused
        return {};
    }
    out.truncate(qsizetype(n));
    return out;
}

bool BlockCompressor::Decompress(const quint8* data, qsizetype size, qint32 rawSize, qint32 maxRaw, QByteArray& out)
{
    return DecompressFrame(data, size, rawSize, maxRaw, {}, out);
}

bool BlockCompressor::Decompress(const quint8* data, qsizetype size, qint32 rawSize, qint32 maxRaw,
                                 QByteArrayView reference, QByteArray& out)
{
    out.clear();
    // The frame header's descriptor (the byte after the magic number) has the
    // content-checksum flag in bit 2.
    if (!data || size < 5 || !(data[4] & 0x04))
        return false;
    return DecompressFrame(data, size, rawSize, maxRaw, reference, out);
}

bool BlockCompressor::DecompressFrame(const quint8* data, qsizetype size, qint32 rawSize, qint32 maxRaw,
                                      QByteArrayView reference, QByteArray& out)
{
    out.clear();
    if (!m_dctx || !data || size <= 0 || rawSize < 0 || rawSize > maxRaw)
        return false;
    // Exactly one frame: a second frame or trailing bytes make the block bad.
    const size_t frame = ZSTD_findFrameCompressedSize(data, size_t(size));
    if (ZSTD_isError(frame) || frame != size_t(size))
        return false;
    // The prefix holds for the next frame only, so it is set just before it.
    ZSTD_DCtx_reset(m_dctx, ZSTD_reset_session_and_parameters);
    if (!reference.isEmpty() && ZSTD_isError(ZSTD_DCtx_refPrefix(m_dctx, reference.data(), size_t(reference.size()))))
        return false;
    // One-shot into rawSize bytes: zstd stops with an error rather than write
    // past them, and needs no window buffer of the size the frame claims.
    out.resize(rawSize);
    const size_t n = ZSTD_decompressDCtx(m_dctx, out.data(), size_t(rawSize), data, size_t(size));
    if (ZSTD_isError(n) || n != size_t(rawSize)) {
        out.clear();
        return false;
    }
    return true;
}

namespace {
BlockCompressor& ThreadCompressor()
{
    thread_local BlockCompressor c;
    return c;
}
}  // namespace

QByteArray CompressBlock(const QByteArray& raw, int level) { return ThreadCompressor().Compress(raw, level); }

bool DecompressBlock(const quint8* data, qsizetype size, qint32 rawSize, qint32 maxRaw, QByteArray& out)
{
    return ThreadCompressor().Decompress(data, size, rawSize, maxRaw, out);
}
