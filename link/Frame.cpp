#include "Frame.h"

qint32 CalcChecksum(const quint8* bytes, qint32 count)
{
    qint32 sum = 0;
    for (qint32 i = 0; i < count; ++i)
        sum += bytes[i];
    return sum;
}

QByteArray BuildDataBlock(quint8 type, qint32 sequenceNr, const QByteArray& payload)
{
    const qsizetype n = payload.size();
    QByteArray block(n + DATA_BLOCK_OVERHEAD, '\0');
    auto* p = reinterpret_cast<quint8*>(block.data());
    p[0] = KIND_DATA;
    p[1] = type;
    PutLE32(p + 2, sequenceNr);
    PutLE16(p + 6, static_cast<qint16>(n));
    PutLE32(p + 8, CalcChecksum(payload));
    std::copy(payload.cbegin(), payload.cend(), block.begin() + 12);
    PutLE32(p + 12 + n, sequenceNr);
    return block;
}

QByteArray BuildAnswerBlock(quint8 code, qint32 value)
{
    QByteArray block(ANSWER_BLOCK_SIZE, '\0');
    auto* p = reinterpret_cast<quint8*>(block.data());
    p[0] = KIND_ANSWER;
    p[1] = code;
    PutLE32(p + 2, value);
    return block;
}

qsizetype StuffedSize(const QByteArray& block)
{
    qsizetype m = 0;
    for (char c : block)
        m += (c == 0x00 || c == 0x01) ? 2 : 1;
    return m;
}

QByteArray StuffForWrite(const QByteArray& block)
{
    QByteArray out;
    out.reserve(StuffedSize(block) + 1);
    out.append('\0');
    for (char c : block) {
        if (c == 0x00)
            out.append("\x01\x02", 2);
        else if (c == 0x01)
            out.append("\x01\x01", 2);
        else
            out.append(c);
    }
    return out;
}

QByteArray UnstuffAll(const QByteArray& wire, bool& prevIsChr1)
{
    QByteArray out;
    out.reserve(wire.size());
    for (char c : wire) {
        quint8 b = 0;
        const UnstuffStep step = Unstuff(quint8(c), prevIsChr1, b);
        if (step == UnstuffStep::Taken || step == UnstuffStep::TakenAfterBadEscape)
            out.append(char(b));
    }
    return out;
}
