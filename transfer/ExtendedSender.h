#pragma once
#include "BlockPacker.h"
#include "Capabilities.h"
#include "ErrorReport.h"
#include "SenderRun.h"
#include "ReferenceWindow.h"
#include "SendWindow.h"
#include "TransferContext.h"

// The Sender's data phase of a file in the extended mode: blocks in flight,
// go-back on a refusal, the resumption check and the whole-file check.
class ExtendedSender {
public:
    ExtendedSender(TransferContext& c, ErrorReport& errors, SenderRun& run) : m_c(c), m_errors(errors), m_run(run) {}

    // The header was accepted; the file is open. A restart first asks where
    // the Receiver is and proves the bytes it kept.
    void Begin(const Capabilities& caps, qint64 fileSize, bool restart);

    enum class Step { Going, FileDone, Failed };
    Step HandleAnswer(qint32 code, qint32 value);
    // The second silence in a row: the verify, or everything in flight, again.
    void SendAgainAfterSilence();
    // The port failed and is back: asks where the Receiver is and proves its
    // bytes, as after a restart; with every byte taken the file end goes again.
    void GoOnAfterPortFailure();
    // Line bytes whose answers are awaited, for the silence time.
    qint64 LineBytesAwaited() const;
    qint64 BytesTaken() const { return m_window.Taken(); }

private:
    // Asking: where the Receiver is after a restart or resumption, its bytes
    // then proved; Locating: the same inside the file, after refusals.
    enum class Phase { Streaming, Asking, Proving, Locating };
    bool Pump();
    // The file bytes an ANSWER_RESTART_POS says the Receiver holds.
    qint64 HeldAt(qint32 restartPos) const;
    // Counts one more refusal or resend; past ten it ends the run with error 10.
    bool OverResendLimit();
    bool SendRange(SendWindow::Block b);
    void SendVerify(const QByteArray& payload);
    qint32 SendBlock(quint8 type, const QByteArray& payload);
    bool ReadAt(qint64 offset, qint32 length, QByteArray& out);
    // Where the bytes a block is compressed against end; marks a block that
    // leans on bytes still in flight.
    qint64 ReferenceEnd(SendWindow::Block& b) const;
    void StartStreaming(qint64 from);
    // The answer to a "where are you?" sent while Locating.
    Step GoOnWhereAnswered(qint32 value);
    void ShowProgress();
    qint64 NowMs() const { return m_c.s.nowMs; }

    TransferContext& m_c;
    ErrorReport& m_errors;
    SenderRun& m_run;
    SendWindow m_window;
    Phase m_phase = Phase::Streaming;
    qint64 m_size = 0;
    qint64 m_provenAt = 0;   // the restart position being proved
    qint32 m_verifyNr = 0;
    quint32 m_fileCrc = 0;   // CRC-32 of the file's first m_crcUpTo bytes
    qint64 m_crcUpTo = 0;
    qint64 m_lastWriteLine = 0;
    double m_lineShare = 1;   // line bytes per file byte of recent blocks
    bool m_askedInRow = false;  // asked where the Receiver is since a block was last taken
    bool m_streamed = false;    // this file's window has run
    BlockPacker m_packer;
    ReferenceWindow m_reference;
};
