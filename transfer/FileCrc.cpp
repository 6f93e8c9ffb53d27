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

std::optional<quint32> Crc32OfFirst(DiskFile& f, qint64 n)
{
    quint32 crc = Crc32Start();
    for (qint64 at = 0; at < n;) {
        const QByteArray chunk = f.ReadAt(at, qMin<qint64>(1 << 16, n - at));
        if (chunk.isEmpty())
            return std::nullopt;
        crc = Crc32Add(crc, chunk);
        at += chunk.size();
    }
    return crc;
}
