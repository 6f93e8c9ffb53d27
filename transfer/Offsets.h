#pragma once
#include <QByteArray>

#include "Capabilities.h"
#include "Frame.h"
#include <limits>

// File positions in the payloads of the extended data phase: 4 bytes, or 8
// with wide positions, least significant first; unsigned.
inline void PutOffset(QByteArray& to, const Capabilities& caps, qint64 v)
{
    quint8 b[8];
    const auto u = quint64(v);
    for (int i = 0; i < 8; ++i)
        b[i] = quint8(u >> (8 * i));
    to.append(reinterpret_cast<const char*>(b), caps.OffsetBytes());
}

inline qint64 GetOffset(const quint8* p, const Capabilities& caps)
{
    if (!caps.wide)
        return quint32(GetLE32(p));
    quint64 u = 0;
    for (int i = 7; i >= 0; --i)
        u = u << 8 | p[i];
    // Beyond any file: taken as a position no file reaches.
    return u > quint64(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max() : qint64(u);
}

inline QByteArray Le32Bytes(quint32 v)
{
    QByteArray b(4, '\0');
    PutLE32(reinterpret_cast<quint8*>(b.data()), qint32(v));
    return b;
}

// ANSWER_RESTART_POS in the data phase carries held + 1; with wide positions
// it counts units of this many bytes, and the Receiver holds a whole number of them.
constexpr qint64 kWideRestartUnit = 4096;
