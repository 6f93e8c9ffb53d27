#include "BlockPacker.h"
#include "BlockCodes.h"
#include "Frame.h"
#include "Offsets.h"
#include <QElapsedTimer>

namespace {
void Put16(QByteArray& to, qint32 v)
{
    quint8 b[2];
    PutLE16(b, qint16(quint16(v)));
    to.append(reinterpret_cast<const char*>(b), 2);
}
}  // namespace

void BlockPacker::Start(const Capabilities& caps, qint64 lineBytesPerSecond)
{
    m_caps = caps;
    m_skip = m_skipped = 0;
    m_pace.Start(lineBytesPerSecond);
}

BlockPacker::Packed BlockPacker::Pack(qint64 offset, const QByteArray& data, qint64 referenceEnd,
                                      QByteArrayView reference)
{
    Packed p{quint8(BLOCK_DATA), {}};
    PutOffset(p.payload, m_caps, offset);
    if (!m_caps.compression || m_skip > 0) {
        m_skip = qMax(0, m_skip - 1);
        p.payload += data;
        return p;
    }
    const bool referenced = m_caps.reference && !reference.isEmpty();
    QElapsedTimer clock;
    clock.start();
    const QByteArray packed = referenced ? m_zstd.Compress(data, reference, m_pace.Level())
                                         : m_zstd.Compress(data, m_pace.Level());
    const qint64 spent = clock.nsecsElapsed();
    // Raw length, and for a reference its end and length: 2, or 6 and a position more.
    const qsizetype head = referenced ? 6 + m_caps.OffsetBytes() : 2;
    if (!packed.isEmpty() && packed.size() + head < data.size()) {
        p.type = quint8(referenced ? BLOCK_DATA_REFERENCED : BLOCK_DATA_COMPRESSED);
        Put16(p.payload, qint32(data.size()));
        if (referenced) {
            PutOffset(p.payload, m_caps, referenceEnd);
            p.payload += Le32Bytes(quint32(reference.size()));
        }
        p.payload += packed;
        m_skipped = 0;
    } else {
        p.payload += data;
        m_skip = m_skipped = qBound(1, m_skipped * 2, kMostSkipped);
    }
    m_pace.Compressed(data.size(), p.payload.size(), spent);
    return p;
}
