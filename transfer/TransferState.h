#pragma once
#include <QtGlobal>

#include "LinkRecord.h"

// Where a file stands in its run, as a Velotrax Sender tells it in the
// fields of an offering header; count 0 where nobody said.
struct RunTotals {
    qint32 index = 0;        // the file's number in the run, from 1
    qint32 count = 0;        // files in the run
    qint64 bytesBefore = 0;  // bytes of the files before this one
    qint64 bytes = 0;        // bytes of the whole run
    bool Known() const { return count > 0; }
};

// Where a run stands.
enum class Stage {
    Idle,           // no run
    Listening,      // Receiver: waits for a file's header, or "END"
    InFile,         // Receiver: takes the blocks of a file; Sender: sends them
    Header,         // Sender: a header goes next ("END" after the last file)
    RestartHeader,  // Sender: the restart header of the one file goes next
    Ending,         // Sender: "END" is out, its answer awaited
};

// What both sides of a station share of the current transfer: the link's
// numbers, where the run stands, the resends, and the counts of refused
// blocks and received files (the restart file keeps them). Each side
// keeps the rest in its own record (SenderRun, ReceiverRun).
struct TransferState : LinkRecord {
    Stage stage = Stage::Idle;
    // The block type a Receiver takes now (0 for none), and the one a Sender sends next.
    qint32 ExpectedBlockType() const;
    quint8 BlockTypeToSend() const;
    qint32 resendCount = 0;
    // Counts one more resend (a block, a request for an answer, an answer
    // again); false once the tenth is passed, which ends the run with error 10.
    bool OneMoreResend() { return ++resendCount <= 10; }
    qint32 filesReceivedCounter = 0;
    // The run the current file belongs to: the Sender's own, or what its header said.
    RunTotals runTotals;

    qint32 countModifiedDateErr = 0;
    qint32 count1NotHA = 0;
    qint32 countNrBytesDataZero = 0;
    qint32 countIncorrectBlockType = 0;
    qint32 countIncorrectSeqnrAB = 0;
    qint32 countIncorrectSeqnr = 0;
    qint32 countIncorrectChecksum = 0;
    qint32 countIncorrectSizDateFname = 0;
    qint32 countCommErr = 0;
};

// Puts the shared record back to the start values of an activation; the
// stage becomes Idle, and each side resets its own record.
void ResetTransferState(TransferState& s);
