#include "TransferState.h"
#include "BlockCodes.h"

qint32 TransferState::ExpectedBlockType() const
{
    switch (stage) {
    case Stage::Listening: return BLOCK_HEADER;
    case Stage::InFile: return BLOCK_DATA;
    default: return 0;
    }
}

quint8 TransferState::BlockTypeToSend() const
{
    // "END" goes as a header.
    return stage == Stage::InFile ? BLOCK_DATA : stage == Stage::RestartHeader ? BLOCK_RESTART_HEADER : BLOCK_HEADER;
}

void ResetTransferState(TransferState& s)
{
    s.stage = Stage::Idle;
    s.sequenceNr = 0;
    s.lastSequenceNr = 0;
    s.FileReceivingPos = 1;
    s.resendCount = 0;
    s.filesReceivedCounter = 0;
    s.gather.Reset();
    s.caps = Capabilities::Classic();
    s.runTotals = RunTotals();
    s.countModifiedDateErr = 0;
    s.count1NotHA = 0;
    s.countNrBytesDataZero = 0;
    s.countIncorrectBlockType = 0;
    s.countIncorrectSeqnrAB = 0;
    s.countIncorrectSeqnr = 0;
    s.countIncorrectChecksum = 0;
    s.countIncorrectSizDateFname = 0;
    s.countCommErr = 0;
}
