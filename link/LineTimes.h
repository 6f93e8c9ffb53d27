#pragma once
#include <QtGlobal>

// Silence rules derived from the line: a write of n bytes takes n × 10 / baud
// seconds on an 8N1 line. The Receiver's rule is always the shorter one, so
// the side that can tell what is missing speaks first.

// Time the bytes of one write occupy the line, rounded up; 0 for an unknown speed.
inline qint64 LineMs(qint64 bytes, qint32 baud)
{
    return baud > 0 ? (bytes * 10 * 1000 + baud - 1) / baud : 0;
}

// A block left incomplete this long after its last byte lost bytes on the way:
// a second, plus ten byte times on slow lines.
inline qint64 ReceiverSilenceMs(qint32 baud)
{
    return 1000 + LineMs(10, baud);
}

// The Sender hears nothing for this long after a write of writeBytes: the
// write's own time on the line, the Receiver's rule, and a second for its
// answer to come back.
inline qint64 SenderSilenceMs(qint64 writeBytes, qint32 baud)
{
    return LineMs(writeBytes, baud) + ReceiverSilenceMs(baud) + 1000;
}
