#pragma once
#include "Line.h"
#include "DebugLines.h"
#include "FrameReceiver.h"
#include "FrameTransmitter.h"
#include "SessionConfig.h"
#include "ReceiverRun.h"
#include "TransferState.h"

// Where the acceptance hands good blocks and errors on to.
class AcceptanceHooks {
public:
    virtual ~AcceptanceHooks() = default;
    virtual void ReportLocalError(qint32 nr) = 0;
    virtual void ReportRemoteError(qint32 nr) = 0;
    virtual void ShowCritical(const QString& text) = 0;
    virtual void HandOverToReceiver(const Block& block) = 0;
    virtual void HandOverToSender(const Block& block) = 0;
    // The Sender's Stop button, seen on the Receiver.
    virtual void ReceiverGotStop() = 0;
    // A good block out of turn (a repeat, or a new run during a resumption);
    // true when the receiver side answered it and nothing else is to be done.
    virtual bool ReceiverTakesOutOfTurn(const Block& block) = 0;
    // A block of the extended data phase failed; nr: its number if both copies agree, else 0.
    virtual void ReceiverRefusesExtended(qint32 nr) = 0;
    // The Receiver's facts beside the stage that the tests of a block depend on:
    // its last file went in the extended mode; a resumption waits for the
    // block lost with the port (a good block ends that wait).
    virtual bool ReceiverAfterExtended() const = 0;
    virtual bool ReceiverAwaitsLostBlock() const = 0;
    virtual void ReceiverTookGoodBlock() = 0;
    // The file whose blocks the Receiver takes, as its header announced it.
    virtual const AnnouncedFile& ReceiverFile() const = 0;
};

// What each role accepts of the blocks the frame receiver completes: the
// Receiver's type, sequence-number and checksum tests, the repeats and the
// resumption's allowance, and the role's negative answer.
class BlockAcceptance : public FrameReceiverHooks {
public:
    BlockAcceptance(const SessionConfig& cfg, TransferState& s, Line& line, DebugLines& log, FrameTransmitter& tx,
                    FrameReceiver& rx, AcceptanceHooks& hooks)
        : m_cfg(cfg), m_s(s), m_line(line), m_log(log), m_tx(tx), m_rx(rx), m_hooks(hooks) {}

    bool GathersWholeDataBlocks() const override { return m_cfg.IsReceiver(); }
    void BlockComplete(const Block& b) override;
    void BlockBad(BadBlock why) override;
    void BufferOverflow() override;

    // Pause, empty the input, answer NOT OK (Receiver; in the extended data
    // phase naming block nr) or RESEND ANSWER (Sender), frame reset.
    void Reject(qint32 nr = 0);
    void FrameReset();
    // The line went silent in the middle of a block: bytes were lost, and
    // nothing else would ever arrive in a stop-and-wait exchange. Rejects it.
    void IncompleteBlockTimedOut();

private:
    void LogFields(const Block& b);
    // Receiver acceptance; true when the block goes on to the receiver side.
    bool AcceptOnReceiver(const Block& b);
    bool ExtendedDataPhase() const;
    // The Sender in an extended data phase: answers stream in.
    bool ExtendedAnswers() const;
    // Blocks of a file's extended data phase: numbers and CRC only, the
    // receiver side places them by offset.
    void AcceptExtended(const Block& b);
    // A late block of the extended file just completed: answered as taken.
    bool LateExtendedBlock(const Block& b);
    bool ChecksumTest(const Block& b);
    // A restart header of the classic file being received, numbered right
    // after the last block taken or the one that may have been lost: its
    // Sender's port failed, and the run goes on.
    bool ContinuesFile(const Block& b) const;
    void ResendLastAnswer();
    BlockCheck Check() const { return m_s.caps.check; }

    const SessionConfig& m_cfg;
    TransferState& m_s;
    Line& m_line;
    DebugLines& m_log;
    FrameTransmitter& m_tx;
    FrameReceiver& m_rx;
    AcceptanceHooks& m_hooks;
};
