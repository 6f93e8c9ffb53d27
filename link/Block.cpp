#include "Block.h"
#include "Frame.h"
#include <algorithm>
#include <zlib.h>

namespace {
// Offsets from 0 of the fields of a block.
constexpr qsizetype kKind = 0;
constexpr qsizetype kType = 1;
constexpr qsizetype kSequenceNr = 2;
constexpr qsizetype kLength = 6;
constexpr qsizetype kChecksum = 8;
constexpr qsizetype kPayload = 12;

const quint8* At(QByteArrayView bytes, qsizetype offset)
{
    return reinterpret_cast<const quint8*>(bytes.data()) + offset;
}
}  // namespace

qint32 CalcChecksum(QByteArrayView payload)
{
    qint32 sum = 0;
    for (char c : payload)
        sum += quint8(c);
    return sum;
}

qint32 Crc32Checksum(QByteArrayView payload)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(payload.data()), size_t(payload.size()));
    return static_cast<qint32>(quint32(crc));
}

ChecksumFunction ChecksumFor(BlockCheck check)
{
    return check == BlockCheck::Sum ? static_cast<ChecksumFunction>(CalcChecksum) : Crc32Checksum;
}

qint32 CheckValue(BlockCheck check, QByteArrayView block)
{
    if (block.size() < kPayload)
        return 0;
    if (check != BlockCheck::Crc32Block)
        return ChecksumFor(check)(block.sliced(kPayload, block.size() - kPayload - 4));
    // Everything but the check field itself: a damaged number or length fails too.
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(block.data()), size_t(kChecksum));
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(block.data() + kPayload), size_t(block.size() - kPayload));
    return static_cast<qint32>(quint32(crc));
}

std::optional<qint32> AnnouncedLength(QByteArrayView head)
{
    if (head.size() < DATA_BLOCK_HEAD)
        return std::nullopt;
    return GetLE16(At(head, kLength));
}

std::optional<Block> ParseBlockHead(QByteArrayView bytes)
{
    if (bytes.size() < ANSWER_BLOCK_SIZE)
        return std::nullopt;
    Block b;
    b.kind = quint8(bytes[kKind]);
    b.type = quint8(bytes[kType]);
    b.sequenceNrA = GetLE32(At(bytes, kSequenceNr));
    b.sequenceNrB = b.sequenceNrA;
    b.bytes = bytes;
    return b;
}

std::optional<Block> ParseAnswerBlock(QByteArrayView bytes)
{
    if (bytes.size() != ANSWER_BLOCK_SIZE || quint8(bytes[kKind]) != KIND_ANSWER)
        return std::nullopt;
    return ParseBlockHead(bytes);
}

std::optional<Block> ParseDataBlock(QByteArrayView bytes)
{
    const std::optional<qint32> length = AnnouncedLength(bytes);
    if (!length || *length < 0 || quint8(bytes[kKind]) != KIND_DATA || bytes.size() != DataBlockSize(*length))
        return std::nullopt;
    std::optional<Block> b = ParseBlockHead(bytes);
    b->length = *length;
    b->checksum = GetLE32(At(bytes, kChecksum));
    b->payload = bytes.sliced(kPayload, *length);
    b->sequenceNrB = GetLE32(At(bytes, kPayload + *length));
    return b;
}

QByteArray BuildDataBlock(quint8 type, qint32 sequenceNr, QByteArrayView payload, ChecksumFunction check)
{
    const qsizetype n = payload.size();
    QByteArray block(DataBlockSize(qint32(n)), '\0');
    auto* p = reinterpret_cast<quint8*>(block.data());
    p[kKind] = KIND_DATA;
    p[kType] = type;
    PutLE32(p + kSequenceNr, sequenceNr);
    PutLE16(p + kLength, static_cast<qint16>(n));
    PutLE32(p + kChecksum, check(payload));
    std::copy(payload.begin(), payload.end(), block.begin() + kPayload);
    PutLE32(p + kPayload + n, sequenceNr);
    return block;
}

QByteArray BuildDataBlock(quint8 type, qint32 sequenceNr, QByteArrayView payload, BlockCheck check)
{
    QByteArray block = BuildDataBlock(type, sequenceNr, payload, ChecksumFor(check));
    if (check == BlockCheck::Crc32Block)
        PutLE32(reinterpret_cast<quint8*>(block.data()) + kChecksum, CheckValue(check, block));
    return block;
}

QByteArray BuildAnswerBlock(quint8 code, qint32 value)
{
    QByteArray block(ANSWER_BLOCK_SIZE, '\0');
    auto* p = reinterpret_cast<quint8*>(block.data());
    p[kKind] = KIND_ANSWER;
    p[kType] = code;
    PutLE32(p + kSequenceNr, value);
    return block;
}
