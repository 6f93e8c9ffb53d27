#pragma once
#include "DebugLog.h"
#include "Frame.h"
#include "FrameTransmitter.h"
#include "Globals.h"
#include "TransferState.h"

// The fields of a block that passed the frame receiver.
struct ReceivedBlock {
    qint32 nBlockType = 0;
    qint32 nSequenceNrA = 0;
    qint32 nSequenceNrB = 0;
};

// Where the frame receiver hands blocks and errors on to.
class FrameReceiverHooks {
public:
    virtual ~FrameReceiverHooks() = default;
    virtual void ReportLocalError(qint32 nr) = 0;
    virtual void ReportRemoteError(qint32 nr) = 0;
    virtual void ShowCritical(const QString& text) = 0;
    virtual void HandOverToReceiver(const ReceivedBlock& block) = 0;
    virtual void HandOverToSender(const ReceivedBlock& block) = 0;
    // The Sender's Stop button, seen on the Receiver.
    virtual void ReceiverGotStop() = 0;
    // A good block out of turn (a repeat, or a new run during a resumption);
    // true when the receiver side answered it and nothing else is to be done.
    virtual bool ReceiverTakesOutOfTurn(const ReceivedBlock& block) = 0;
};

// First stage of every receive event: unstuff, gather one block, check it,
// then hand it on or reject it with the role's negative answer.
class FrameReceiver {
public:
    FrameReceiver(Globals& g, TransferState& s, CommPort& port, DebugLog& log, FrameTransmitter& tx,
                  FrameReceiverHooks& hooks)
        : m_g(g), m_s(s), m_port(port), m_log(log), m_tx(tx), m_hooks(hooks) {}

    void HandleReceivedBytes(const QByteArray& chunk);

    // Pause, empty the input, answer NOT OK (Receiver) or RESEND ANSWER (Sender), frame reset.
    void Reject();
    void FrameReset();

    // True while part of a block has arrived and the rest is awaited.
    bool BlockIncomplete() const { return m_s.m_nReceiveBufCount > 0; }
    // The line went silent in the middle of a block: bytes were lost, and
    // nothing else would ever arrive in a stop-and-wait exchange. Rejects it.
    void IncompleteBlockTimedOut();

    static QString ResendReasonsText(const TransferState& s);
    // True when any of the counters of that text is not 0.
    static bool AnyResendReason(const TransferState& s);

private:
    enum class Gathered { Incomplete, Complete, NegativeLength, Overflow };
    // Unstuffs from chunk[next] on until a block is complete; next moves past what was taken.
    Gathered Gather(const QByteArray& chunk, qsizetype& next);
    // Learns the block's length from its first bytes, as far as they are there.
    Gathered Measure();
    void HandleBlock(Gathered gathered);
    void DumpChunk(const QByteArray& chunk, qsizetype from, qsizetype to, qint32 countBefore);
    // Receiver acceptance; true when the block goes on to the receiver side.
    bool AcceptOnReceiver(const ReceivedBlock& b);
    bool ChecksumTest();
    bool ChecksumMatches() const;
    qint32 PayloadChecksum() const;
    void ResendLastAnswer();
    qint32 Field32(qint32 position) const { return GetLE32(&m_s.m_abReceiveBuf[size_t(position)]); }

    Globals& m_g;
    TransferState& m_s;
    CommPort& m_port;
    DebugLog& m_log;
    FrameTransmitter& m_tx;
    FrameReceiverHooks& m_hooks;
};
