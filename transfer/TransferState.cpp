#include "TransferState.h"
#include "BlockCodes.h"

void ResetTransferState(TransferState& s, bool isReceiver)
{
    if (isReceiver) {
        s.blockTypeExpecting = BLOCK_HEADER;
        s.m_nBlockTypeToSend = 0;
    } else {
        s.blockTypeExpecting = 0;
        s.m_nBlockTypeToSend = s.m_bRestart ? BLOCK_RESTART_HEADER : BLOCK_HEADER;
    }
    s.m_nSequenceNr = 0;
    s.lastSequenceNr = 0;
    s.m_nFileIndex = 0;
    s.FileReceivingPos = 1;
    s.m_nResendCount = 0;
    s.m_nFilesReceivedCounter = 0;
    s.gather.Reset();
    s.caps = Capabilities::Classic();
    s.m_bRepeatMayFollow = false;
    s.m_abLastAccepted.clear();
    s.m_abAcceptedAnswer.clear();
    s.m_bSilenceAsked = false;
    s.m_bWatchdogRestarted = false;
    s.m_bOffered = false;
    s.m_bAfterExtended = false;
    s.m_bExtendedReady = false;
    s.m_run = RunTotals();
    s.m_nCountModifiedDateErr = 0;
    s.m_nCount1NotHA = 0;
    s.m_nCountNrBytesDataZero = 0;
    s.m_nCountIncorrectBlockType = 0;
    s.m_nCountIncorrectSeqnrAB = 0;
    s.m_nCountIncorrectSeqnr = 0;
    s.m_nCountIncorrectChecksum = 0;
    s.m_nCountIncorrectSizDateFname = 0;
    s.m_nCountCommErr = 0;
}
