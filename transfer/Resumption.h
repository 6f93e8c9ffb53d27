#pragma once
#include "ReceiverRun.h"
#include "TransferContext.h"
#include <functional>

// A reception broken by a port failure inside a file, continued where the port
// comes back: the state kept in the restart file, the checks it must pass, the
// temp file reopened at its position, and the one repeat of the lost block
// allowed afterwards. The front ends differ only in how they get the port back
// (a new instance of the program, or a reopen in the same process).
//
// It keeps nothing of its own: all of it lives in the transfer record and the
// Receiver's.
class Resumption {
public:
    Resumption(TransferContext& c, ReceiverRun& run) : m_c(c), m_run(run) {}

    // On the port failure: the restart file written, the temp file closed.
    // False when the restart file could not be written (said so).
    bool Prepare();

    enum class Result { NothingToResume, Refused, Resumed };
    // With the port back: the restart file read and deleted into a fresh record,
    // checked against the temp file, which is reopened at the position, then the
    // port opened and the lost block asked for. Refused: the reason was shown and
    // the run ended. endProgram ends the program when the restart file cannot be deleted.
    Result Resume(const std::function<void()>& endProgram);

    // The answer for the block the Sender repeats while a resumption waits when it
    // is the one lost with the port; empty otherwise.
    QByteArray LostBlockAnswer(const Block& b) const;
    // That answer was sent: no other repeat is allowed.
    void LostBlockAnswered() { m_run.repeatMayFollow = false; }
    // A header numbered 1 inside a file: a Sender that starts a new run will
    // not send the rest of this file. It begins when a resumption waits (the
    // old Sender is gone) or the line was quiet first (a late repeat never
    // is); the file is left with its temp file kept for "Restart a file".
    enum class NewRun { No, Begun, NotYet };
    NewRun EndOnNewRun(const Block& b);

private:
    // The 15 lines; on any failure says "Could not create restartfile ...".
    bool WriteRestartFile();
    // Reads and deletes the restart file; false when there is none. A file that
    // cannot be deleted shows the fatal box and ends the program through endProgram.
    bool ReadRestartFile(TransferState& s, AnnouncedFile& f, const std::function<void()>& endProgram);
    // Why the record read cannot continue the temp file; empty when it can.
    QString Refusal() const;
    Result Refuse(const QString& text);
    bool ReopenTempFile();
    bool PayloadIsHeld(const Block& b) const;

    TransferContext& m_c;
    ReceiverRun& m_run;
};
