#pragma once
#include <QByteArray>

#include "Capabilities.h"

// The frame receiver's gathering of one block.
struct GatherState {
    // Unstuffed bytes of the block being gathered, from offset 0.
    QByteArray receiveBuf;
    qint32 receiveBufCount = 0;
    qint32 receiveBufExpected = 1;  // a block starts with one byte to learn its kind from
    bool prevIsChr1 = false;
    // After a rejection the rest of the bad write may still be on its way:
    // nothing is gathered until the lead byte of the next write.
    bool awaitLeadByte = false;
    // Payload length of the last data block measured; an answer block leaves it.
    qint32 lastPayloadLength = 0;

    // Back to the start values of an activation; old bytes stay until overwritten.
    void Reset()
    {
        receiveBufCount = 0;
        receiveBufExpected = 1;
        prevIsChr1 = false;
        awaitLeadByte = false;
        lastPayloadLength = 0;
    }
};

// The part of a station's transfer record that the link layer reads and
// writes: the gathering, what the transmitter numbers and keeps for resending,
// the values answers carry, and what the current file's blocks use.
struct LinkRecord {
    GatherState gather;
    qint32 sequenceNr = 0;
    qint32 lastSequenceNr = 0;
    qint64 FileReceivingPos = 0;  // 1-based: the next byte the Receiver takes
    QByteArray lastBlock;   // last data block built, unstuffed
    QByteArray lastAnswer;      // last answer block built, unstuffed (6 bytes)
    Capabilities caps = Capabilities::Classic();
    // When the input being handled (bytes, a timer, a command) came, in
    // milliseconds on the station's clock, which stamps every input with it:
    // the protocol reads no clock of its own.
    qint64 nowMs = 0;
};
