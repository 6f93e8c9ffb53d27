#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <optional>

#include "BlockCodes.h"
#include "Capabilities.h"

// The one place that knows where the fields of a block lie. A parse reads
// only the bytes it is given, whatever the length field says.

// Computes the check field of a data block from its payload.
using ChecksumFunction = qint32 (*)(QByteArrayView payload);

// Sum of the bytes as 0 to 255 each: the classic check.
qint32 CalcChecksum(QByteArrayView payload);
inline qint32 CalcChecksum(const quint8* bytes, qint32 count)
{
    return count > 0 ? CalcChecksum(QByteArrayView(bytes, count)) : 0;
}
// CRC-32 (zlib) of the payload, as a two's complement field.
qint32 Crc32Checksum(QByteArrayView payload);
ChecksumFunction ChecksumFor(BlockCheck check);

// A parsed block. Answer blocks carry their value as sequenceNrA and again as
// sequenceNrB (the same four bytes), no length, checksum or payload.
struct Block {
    quint8 kind = 0;           // KIND_DATA or KIND_ANSWER
    quint8 type = 0;           // block type, or answer code
    qint32 sequenceNrA = 0;    // sequence number, or the answer's value
    qint32 sequenceNrB = 0;    // the copy after the payload
    qint32 length = 0;         // payload bytes
    qint32 checksum = 0;       // check field as sent
    QByteArrayView payload;    // views into the parsed bytes: valid while they are
    QByteArrayView bytes;      // the whole block

    bool IsData() const { return kind == KIND_DATA; }
    qint32 Value() const { return sequenceNrA; }
};

// Bytes before the payload; a data block's first bytes up to its length field.
constexpr qint32 DATA_BLOCK_HEAD = 8;
constexpr qint32 DataBlockSize(qint32 length) { return length + DATA_BLOCK_OVERHEAD; }

// The payload length a data block announces in its first DATA_BLOCK_HEAD bytes
// (negative for line noise); nothing with fewer bytes.
std::optional<qint32> AnnouncedLength(QByteArrayView head);
// Kind, type or code and the first number: the first six bytes of either kind.
std::optional<Block> ParseBlockHead(QByteArrayView bytes);
// An answer block of exactly ANSWER_BLOCK_SIZE bytes.
std::optional<Block> ParseAnswerBlock(QByteArrayView bytes);
// A data block whose size is what its length field says.
std::optional<Block> ParseDataBlock(QByteArrayView bytes);
// True when the check field is what check computes from the payload.
inline bool CheckMatches(const Block& b, ChecksumFunction check)
{
    return b.IsData() && check(b.payload) == b.checksum;
}
// The check field that check gives the unstuffed data block (its own check field is not read).
qint32 CheckValue(BlockCheck check, QByteArrayView block);
inline bool CheckMatches(const Block& b, BlockCheck check)
{
    return b.IsData() && CheckValue(check, b.bytes) == b.checksum;
}

// Unstuffed data block: 'H', type, seq, length, checksum, payload, seq again.
QByteArray BuildDataBlock(quint8 type, qint32 sequenceNr, QByteArrayView payload,
                          ChecksumFunction check = CalcChecksum);
QByteArray BuildDataBlock(quint8 type, qint32 sequenceNr, QByteArrayView payload, BlockCheck check);
// Unstuffed answer block: 'A', code, value.
QByteArray BuildAnswerBlock(quint8 code, qint32 value);
