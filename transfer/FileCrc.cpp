#include "FileCrc.h"
#include <zlib.h>

quint32 Crc32Start()
{
    return quint32(crc32(0, nullptr, 0));
}

quint32 Crc32Add(quint32 crc, QByteArrayView bytes)
{
    return quint32(crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

std::optional<quint32> Crc32OfFirst(QFile& f, qint64 n)
{
    const qint64 back = f.pos();
    quint32 crc = Crc32Start();
    bool ok = f.seek(0);
    for (qint64 at = 0; ok && at < n;) {
        const QByteArray chunk = f.read(qMin<qint64>(1 << 16, n - at));
        ok = !chunk.isEmpty();
        crc = Crc32Add(crc, chunk);
        at += chunk.size();
    }
    if (!f.seek(back) || !ok)
        return std::nullopt;
    return crc;
}
