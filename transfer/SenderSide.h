#pragma once
#include "AnswerMatch.h"
#include "ErrorReport.h"
#include "ExtendedSender.h"
#include "SenderFolders.h"
#include "SenderRun.h"
#include "TransferContext.h"

// The Sender's walk through its files: headers, data blocks, resends, "END".
class SenderSide {
public:
    SenderSide(TransferContext& c, ErrorReport& errors)
        : m_c(c), m_errors(errors), m_extended(c, errors, m_run), m_folders(c, errors, m_run) {}

    // The files a run sends (restart: the one file continued), relative to the send path.
    void Choose(bool restart, std::vector<QString> filesToSend, std::vector<QString> emptyFolders);
    // A new run of the files chosen: nothing of the one before counts.
    void StartRun() { m_watchdogRestarted = false; }
    // Back to the start of an activation (the file closed); the files chosen stay.
    void ResetRun() { m_run.Reset(); }
    // Where a run of the files chosen begins.
    Stage FirstStage() const { return m_run.restart ? Stage::RestartHeader : Stage::Header; }
    const SenderRun& Run() const { return m_run; }
    // Tests bend the run into states no sound file or peer produces.
    SenderRun& RunForTesting() { return m_run; }
    // Sends the next header, or "END" when no file is left; false if the file could not be opened.
    bool SendNextFile();
    void HandleAnswer(const Block& b);
    // The watchdog found no answer since activation: asks the user.
    void WatchdogTick();
    // The user's answer: send the files again, or give up.
    void NoListenerAnswered(bool sendAgain);
    // Nothing came back for the silence time after the last write: ask for the
    // answer, and if that brings nothing either, send the last block again.
    void AnswerSilence();

    // Files the protocol cannot describe are refused before anything is sent;
    // returns the message to show, or an empty text when all can go.
    QString CheckFilesToSend() const;

    // The port failed while a file was open: the run may go on once it is back.
    bool MayGoOnAfterPortFailure() const { return m_run.sending != nullptr; }
    // The port is back: inside a classic file a restart header asks where the
    // Receiver is, in the extended mode a verify; anything else goes again.
    void GoOnAfterPortFailure();

    // Line bytes whose answer is awaited, for the silence time.
    qint64 AwaitedLineBytes() const;
    // File bytes of the current file the Receiver holds, as far as known.
    qint64 BytesDone() const;

private:
    QString SendFilePath(qint32 index) const;
    // "size|date|name", and the offer and the run where it offers.
    QString HeaderText() const;
    // The largest file this side sends: with 4-byte positions in classic mode.
    qint64 LargestFile() const;
    // The file now sent needs positions of 8 bytes.
    bool NeedsWide() const;
    // The flags the header of the file now sent offers.
    quint32 OfferedFlags() const;
    // A file of 2 GiB or more whose header was answered without wide
    // positions: the run ends with error 17 (said so); false for a smaller file.
    bool TooLargeForTheReceiver();
    // False when the file could not be read (the transfer is stopped then).
    bool DataStep();
    void Resend();
    // The last block got through: the next one, or nothing after "END".
    void GoOn();
    void AllReceived();
    SentBlock LastSent() const;
    // The run's totals as the header of the file just opened tells them.
    void NextFileOfTheRun();
    bool InExtendedData() const;
    void HandleExtendedAnswer(const Block& b);
    void SendContinuationHeader();
    // Its answer where it differs from a restart's; true when handled.
    bool ContinuationAnswer(const Block& b);

    QString CurrentEntry() const { return m_run.CurrentEntry(); }

    TransferContext& m_c;
    ErrorReport& m_errors;
    SenderRun m_run;  // before the parts that hold it
    ExtendedSender m_extended;
    QByteArray m_continuation;  // the restart header sent after a port failure
    bool m_offered = false;             // the last header offered the extended mode
    bool m_watchdogRestarted = false;   // the watchdog started the run again after its first header went unanswered
    SenderFolders m_folders;
};
