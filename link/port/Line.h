#pragma once
#include <QByteArray>

// The line as the protocol sees it: it writes blocks, and throws away what it
// queued or what arrives while it answers. Opening, closing, configuring and
// reading the port are the station's.
class Line {
public:
    virtual ~Line() = default;

    virtual bool PortOpen() const = 0;
    // Bytes written and not yet on the line: queued here or held by the driver.
    virtual int BytesUnsent() const = 0;
    // Queues one write and returns at once. It leaves no sooner than pauseMs
    // after this call, and only once the previous write has left the driver.
    // Closing the port lets what is queued go out first.
    virtual void Output(const QByteArray& bytes, int pauseMs = 0) = 0;
    // Drops the writes not yet begun. cutCurrent also drops the rest of the
    // one on the line and what the driver holds: only for a peer that finds
    // the next block behind a cut one.
    virtual void DiscardOutput(bool cutCurrent) = 0;
    // Discards what waits, and what arrives in the next ms milliseconds.
    virtual void DiscardInputFor(int ms) = 0;
};
