#pragma once
#include <QByteArrayView>
#include "Disk.h"
#include <optional>

// CRC-32 (zlib's crc32) of file bytes, for the extended mode's checks.
quint32 Crc32Start();
quint32 Crc32Add(quint32 crc, QByteArrayView bytes);
// Of n zero bytes added, without reading or making them.
quint32 Crc32AddZeros(quint32 crc, qint64 n);
// Of the file's first n bytes; none when they cannot all be read.
std::optional<quint32> Crc32OfFirst(DiskFile& f, qint64 n);
