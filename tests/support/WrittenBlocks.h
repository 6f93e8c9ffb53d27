#pragma once
#include "Frame.h"
#include "MemoryCommPort.h"
#include <vector>

// Unstuffed blocks written by one end of the in-memory cable, in order.
inline std::vector<QByteArray> Blocks(const MemoryCommPort& port)
{
    std::vector<QByteArray> out;
    for (const QByteArray& w : port.written.split('\0')) {
        bool esc = false;
        if (!w.isEmpty())
            out.push_back(UnstuffAll(w, esc));
    }
    return out;
}

inline qint32 Le32(const QByteArray& b, int offset)
{
    return GetLE32(reinterpret_cast<const quint8*>(b.constData()) + offset);
}
