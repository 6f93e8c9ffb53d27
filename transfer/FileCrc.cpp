#include "FileCrc.h"
#include <array>
#include <zlib.h>

quint32 Crc32Start()
{
    return quint32(crc32(0, nullptr, 0));
}

quint32 Crc32Add(quint32 crc, QByteArrayView bytes)
{
    return quint32(crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

quint32 Crc32AddZeros(quint32 crc, qint64 n)
{
    // The CRC of 2^k zero bytes, combined bit by bit of n: no byte is read.
    static const std::array<uLong, 63> kZeros = [] {
        std::array<uLong, 63> z{};
        const Bytef zero = 0;
        z[0] = crc32(0, &zero, 1);
        for (size_t k = 1; k < z.size(); ++k)
            z[k] = crc32_combine(z[k - 1], z[k - 1], z_off_t(1) << (k - 1));
        return z;
    }();
    uLong c = crc;
    for (size_t k = 0; k < kZeros.size() && n > 0; ++k, n >>= 1)
        if (n & 1)
            c = crc32_combine(c, kZeros[k], z_off_t(1) << k);
    return quint32(c);
}

std::optional<quint32> Crc32OfFirst(DiskFile& f, qint64 n)
{
    quint32 crc = Crc32Start();
    for (qint64 at = 0; at < n;) {
        // A hole of a sparse file is zeros: taken without reading it.
        if (const qint64 data = qMin(f.NextData(at), n); data > at) {
            crc = Crc32AddZeros(crc, data - at);
            at = data;
            continue;
        }
        const QByteArray chunk = f.ReadAt(at, qMin<qint64>(1 << 20, n - at));
        if (chunk.isEmpty())
            return std::nullopt;
        crc = Crc32Add(crc, chunk);
        at += chunk.size();
    }
    return crc;
}
