#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

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

// The record of the current transfer; one per station, serving both roles.
struct TransferState : LinkRecord {
    bool m_bRestart = false;
    std::vector<QString> m_asFilesToSend;   // names at 1 to upper bound; entry 0 unused
    qint32 blockTypeExpecting = 0;
    qint32 m_nFileIndex = 0;
    qint32 m_nSendFileSize = 0;
    QString m_sFileName;
    qint32 m_nFileSize = 0;
    double m_dFileDate = 0;
    qint32 m_nResendCount = 0;
    qint32 m_nFilesReceivedCounter = 0;
    QString m_sTempFile;
    QString m_qrnSetModifiedDateExe;
    QStringList m_qrnstampLookedIn;  // folders searched for it, for the message when it is missing
    // Set by a resumption after a port failure: the Sender may repeat the block
    // whose answer was lost with the port. Cleared by the next accepted block.
    bool m_bRepeatMayFollow = false;
    // Receiver: the block accepted last, unstuffed, and the answer sent for it,
    // so that a repeat of it gets that answer again and is not written twice.
    QByteArray m_abLastAccepted;
    QByteArray m_abAcceptedAnswer;
    // Sender: the last silence of the line was met with a request for the answer.
    bool m_bSilenceAsked = false;
    // Sender: the watchdog started the run again after its first header went unanswered.
    bool m_bWatchdogRestarted = false;
    // Sender: the last header offered the extended mode.
    bool m_bOffered = false;
    // Receiver: the file just finished went in the extended mode, so the next
    // header may skip numbers, and late blocks of that file are answered as taken.
    bool m_bAfterExtended = false;
    // Receiver: the extended data phase knows its held bytes and their CRC.
    bool m_bExtendedReady = false;
    // Receiver: nothing was heard for the silence time before the block being
    // gathered began. A header numbered 1 inside a file then starts a new run.
    bool m_bLineWasQuiet = false;
    // The run the current file belongs to: the Sender's own, or what its header said.
    RunTotals m_run;

    qint32 m_nCountModifiedDateErr = 0;
    qint32 m_nCount1NotHA = 0;
    qint32 m_nCountNrBytesDataZero = 0;
    qint32 m_nCountIncorrectBlockType = 0;
    qint32 m_nCountIncorrectSeqnrAB = 0;
    qint32 m_nCountIncorrectSeqnr = 0;
    qint32 m_nCountIncorrectChecksum = 0;
    qint32 m_nCountIncorrectSizDateFname = 0;
    qint32 m_nCountCommErr = 0;

    qint32 FilesToSendUpperBound() const { return m_asFilesToSend.empty() ? 0 : qint32(m_asFilesToSend.size()) - 1; }
};

// Puts the transfer back to the start values of an activation for the role given.
void ResetTransferState(TransferState& s, bool isReceiver);
