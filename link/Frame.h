#pragma once
#include <QByteArray>
#include <cstdint>

#include "Block.h"
#include "BlockCodes.h"

// Little-endian two's complement fields, never a host-order copy.
inline void PutLE32(quint8* p, qint32 v)
{
    const auto u = static_cast<quint32>(v);
    p[0] = quint8(u);
    p[1] = quint8(u >> 8);
    p[2] = quint8(u >> 16);
    p[3] = quint8(u >> 24);
}
inline void PutLE16(quint8* p, qint16 v)
{
    const auto u = static_cast<quint16>(v);
    p[0] = quint8(u);
    p[1] = quint8(u >> 8);
}
inline qint32 GetLE32(const quint8* p)
{
    return static_cast<qint32>(quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24);
}
inline qint16 GetLE16(const quint8* p)
{
    return static_cast<qint16>(quint16(p[0]) | quint16(p[1]) << 8);
}

// Length on the line of a stuffed block (without the lead byte).
qsizetype StuffedSize(const QByteArray& block);
// The bytes of one write: the lead byte 0x00, then the stuffed block.
QByteArray StuffForWrite(const QByteArray& block);

// One step of unstuffing; the escape flag lives from one chunk to the next.
enum class UnstuffStep { Dropped, Escape, Taken, TakenAfterBadEscape };
inline UnstuffStep Unstuff(quint8 in, bool& prevIsChr1, quint8& out)
{
    if (in == 0x00)
        return UnstuffStep::Dropped;
    if (!prevIsChr1) {
        if (in == STUFF_ESCAPE) {
            prevIsChr1 = true;
            return UnstuffStep::Escape;
        }
        out = in;
        return UnstuffStep::Taken;
    }
    prevIsChr1 = false;
    if (in == 0x01) {
        out = 0x01;
        return UnstuffStep::Taken;
    }
    if (in == 0x02) {
        out = 0x00;
        return UnstuffStep::Taken;
    }
    out = in;
    return UnstuffStep::TakenAfterBadEscape;
}

// Unstuffs a whole byte string (for tests and tools; the frame receiver works per byte).
QByteArray UnstuffAll(const QByteArray& wire, bool& prevIsChr1);
