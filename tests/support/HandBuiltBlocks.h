#pragma once
#include <QByteArray>

// Blocks built by hand so a change to the builder cannot hide here.
inline QByteArray DataBlock(quint8 type, qint32 seq, const QByteArray& payload, qint32 checksum = -1)
{
    QByteArray b;
    b.append('H').append(char(type));
    for (int i = 0; i < 4; ++i)
        b.append(char(quint32(seq) >> (8 * i)));
    b.append(char(payload.size() & 0xff)).append(char(payload.size() >> 8));
    qint32 sum = 0;
    for (char c : payload)
        sum += quint8(c);
    if (checksum >= 0)
        sum = checksum;
    for (int i = 0; i < 4; ++i)
        b.append(char(quint32(sum) >> (8 * i)));
    b.append(payload);
    for (int i = 0; i < 4; ++i)
        b.append(char(quint32(seq) >> (8 * i)));
    return b;
}
inline QByteArray Answer(quint8 code, qint32 value)
{
    QByteArray b;
    b.append('A').append(char(code));
    for (int i = 0; i < 4; ++i)
        b.append(char(quint32(value) >> (8 * i)));
    return b;
}

