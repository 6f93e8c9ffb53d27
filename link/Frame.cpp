#include "Frame.h"

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
