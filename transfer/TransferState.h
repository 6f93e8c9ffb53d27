#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

#include "LinkRecord.h"
#include "Disk.h"
#include <memory>

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

// The record of the current transfer; one per station, serving both roles.
struct TransferState : LinkRecord {
    Stage stage = Stage::Idle;
    // The block type a Receiver takes now (0 for none), and the one a Sender sends next.
    qint32 ExpectedBlockType() const;
    quint8 BlockTypeToSend() const;
    QString fileName;
    QString fileFolder;  // Receiver: the relative folder of the file ("a/b"); empty at the top
    qint64 fileSize = 0;
    double fileDate = 0;
    qint32 resendCount = 0;
    // Counts one more resend (a block, a request for an answer, an answer
    // again); false once the tenth is passed, which ends the run with error 10.
    bool OneMoreResend() { return ++resendCount <= 10; }
    qint32 filesReceivedCounter = 0;
    QString tempFile;
    // The temp file being written, open while a file moves: closed by Stop,
    // an error, the end of the file, or when the record goes.
    std::unique_ptr<DiskFile> receiving;
    // Set by a resumption after a port failure: the Sender may repeat the block
    // whose answer was lost with the port. Cleared by the next accepted block.
    bool repeatMayFollow = false;
    // Receiver: the block accepted last, unstuffed, and the answer sent for it,
    // so that a repeat of it gets that answer again and is not written twice.
    QByteArray lastAccepted;
    QByteArray acceptedAnswer;
    // Receiver: the file just finished went in the extended mode, so the next
    // header may skip numbers, and late blocks of that file are answered as taken.
    bool afterExtended = false;
    // Receiver: the extended data phase knows its held bytes and their CRC.
    bool extendedReady = false;
    // Receiver: nothing was heard for the silence time before the block being
    // gathered began. A header numbered 1 inside a file then starts a new run.
    bool lineWasQuiet = false;
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
