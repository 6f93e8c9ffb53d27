#include "BlockAcceptance.h"
#include "CommonRoutines.h"
#include "ErrorNumbers.h"
#include "ResendReasons.h"
#include "Negotiation.h"
#include "ReceiverSide.h"

namespace {
}

void BlockAcceptance::BlockBad(BadBlock why)
{
    if (why == BadBlock::NegativeLength || why == BadBlock::Truncated)
        ++m_s.countNrBytesDataZero;
    else
        ++m_s.count1NotHA;
    Reject();
}

void BlockAcceptance::BufferOverflow()
{
    // Nothing this long is a header: while one is awaited it is the rest of an
    // earlier run's block (a large extended one), or noise. Refused, it never
    // ends a listening Receiver.
    if (m_cfg.IsReceiver() && m_s.stage == Stage::Listening) {
        m_log.WriteDebugLine(QStringLiteral("block longer than the buffer while a header is awaited: refused"));
        ++m_s.countIncorrectBlockType;
        Reject();
        return;
    }
    m_hooks.ReportLocalError(ErrorNr::BufferOverflow);
    m_hooks.ShowCritical(QStringLiteral("ERROR: program-bytes-array overflow!"));
}

void BlockAcceptance::LogFields(const Block& b)
{
    if (m_cfg.IsReceiver()) {
        m_log.WriteDebugLine(QStringLiteral("nBlockType, blockTypeExpecting: ") + QString::number(b.type)
                             + QStringLiteral(", ") + QString::number(m_s.ExpectedBlockType()));
        m_log.WriteDebugLine(QStringLiteral("nSequenceNrA, nSequenceNrB, lastSequenceNr: ")
                             + QString::number(b.sequenceNrA) + QStringLiteral(", ")
                             + QString::number(b.sequenceNrB) + QStringLiteral(", ")
                             + QString::number(m_s.lastSequenceNr));
    } else {
        m_log.WriteDebugLine(QStringLiteral("nBlockType: ") + QString::number(b.type));
        m_log.WriteDebugLine(QStringLiteral("nSequenceNr: ") + QString::number(b.sequenceNrA));
    }
}

void BlockAcceptance::BlockComplete(const Block& b)
{
    LogFields(b);
    // The other side has ended the run: nothing still queued for it matters.
    if (!b.IsData() && (b.type == ANSWER_ERROR || b.type == ANSWER_STOP))
        m_tx.DropUnsent(true);
    if (b.type == ANSWER_ERROR) {
        m_hooks.ReportRemoteError(b.Value());
        return;
    }
    if (!m_cfg.IsReceiver()) {
        m_hooks.HandOverToSender(b);
        return;
    }
    // The Sender's Stop is taken before the acceptance tests, which would refuse it.
    if (!b.IsData() && b.type == ANSWER_STOP) {
        m_hooks.ReceiverGotStop();
        return;
    }
    if (ExtendedDataPhase()) {
        AcceptExtended(b);
        return;
    }
    if (m_hooks.ReceiverAfterExtended() && LateExtendedBlock(b))
        return;
    if (AcceptOnReceiver(b))
        m_hooks.HandOverToReceiver(b);
}

bool BlockAcceptance::ExtendedDataPhase() const
{
    return m_cfg.IsReceiver() && m_s.caps.extended && m_s.stage == Stage::InFile;
}

bool BlockAcceptance::ExtendedAnswers() const
{
    return !m_cfg.IsReceiver() && m_s.caps.extended;
}

void BlockAcceptance::AcceptExtended(const Block& b)
{
    if (!b.IsData()) {
        if (b.type == ANSWER_RESEND_ANSWER) {
            ResendLastAnswer();
            return;
        }
        ++m_s.countIncorrectBlockType;
        Reject();
        return;
    }
    // The header again (its acceptance was lost on the way), or a new run.
    if (b.type == BLOCK_HEADER || b.type == BLOCK_RESTART_HEADER) {
        if (m_hooks.ReceiverTakesOutOfTurn(b)) {
            FrameReset();
            return;
        }
        // The file was left for a new run: its header is tested like any other.
        if (!ExtendedDataPhase()) {
            if (AcceptOnReceiver(b))
                m_hooks.HandOverToReceiver(b);
            return;
        }
        ++m_s.countIncorrectBlockType;
        Reject();
        return;
    }
    if (b.sequenceNrA != b.sequenceNrB) {
        ++m_s.countIncorrectSeqnrAB;
        Reject();
        return;
    }
    if (!CheckMatches(b, Check())) {
        ++m_s.countIncorrectChecksum;
        Reject(b.sequenceNrA);
        return;
    }
    m_hooks.HandOverToReceiver(b);
}

bool BlockAcceptance::LateExtendedBlock(const Block& b)
{
    const bool dataType = b.type == BLOCK_DATA || b.type == BLOCK_FILE_END || b.type == BLOCK_DATA_COMPRESSED
                          || b.type == BLOCK_DATA_REFERENCED;
    if (!b.IsData() || !dataType || b.sequenceNrA != b.sequenceNrB || b.sequenceNrA <= 0
        || qint64(b.sequenceNrA) > qint64(m_s.lastSequenceNr) + Negotiation::kMostNumbersAhead
        || !(CheckMatches(b, BlockCheck::Crc32Block) || CheckMatches(b, BlockCheck::Crc32)))
        return false;
    m_s.lastSequenceNr = std::max(m_s.lastSequenceNr, b.sequenceNrA);
    m_tx.SendAnswerValue(ANSWER_OK, b.sequenceNrA);
    m_log.WriteDebugLine(QStringLiteral("late block of the file just received: answered ok"));
    FrameReset();
    return true;
}

bool BlockAcceptance::AcceptOnReceiver(const Block& b)
{
    // A good block numbered like the last accepted one, or 1 while a resumption
    // waits or as a header inside a file (a new run): the receiver side may
    // place it where these tests would refuse it.
    const bool header = b.type == BLOCK_HEADER || b.type == BLOCK_RESTART_HEADER;
    const bool newRun
        = b.sequenceNrA == 1 && (m_hooks.ReceiverAwaitsLostBlock() || (header && m_s.stage == Stage::InFile));
    const bool outOfTurn = b.sequenceNrA == m_s.lastSequenceNr ? m_s.lastSequenceNr > 0 : newRun;
    if (b.IsData() && outOfTurn && b.sequenceNrB == b.sequenceNrA && CheckMatches(b, Check())
        && m_hooks.ReceiverTakesOutOfTurn(b)) {
        FrameReset();
        return false;
    }
    // An answer block meets these tests with the length of the last data block.
    if (m_s.gather.lastPayloadLength <= 0) {
        if (m_s.stage != Stage::InFile) {
            ++m_s.countNrBytesDataZero;
            Reject();
            return false;
        }
        return ChecksumTest(b);
    }
    if (b.type == m_s.ExpectedBlockType()) {
        if (b.sequenceNrA != b.sequenceNrB) {
            ++m_s.countIncorrectSeqnrAB;
            Reject();
            return false;
        }
        // After an extended file the Sender's numbers may have run ahead.
        const bool above
            = m_hooks.ReceiverAfterExtended() && b.type == BLOCK_HEADER && b.sequenceNrA > m_s.lastSequenceNr;
        if (b.sequenceNrA != m_s.lastSequenceNr + 1 && !above) {
            ++m_s.countIncorrectSeqnr;
            Reject();
            return false;
        }
        return ChecksumTest(b);
    }
    if (b.type == ANSWER_RESEND_ANSWER) {
        ResendLastAnswer();
        return false;
    }
    if (b.type == BLOCK_RESTART_HEADER && m_s.stage == Stage::Listening)
        return ChecksumTest(b);
    if (b.type == BLOCK_RESTART_HEADER && ContinuesFile(b)) {
        m_log.WriteDebugLine(QStringLiteral("restart header of the file being received: its sender goes on"));
        return ChecksumTest(b);
    }
    ++m_s.countIncorrectBlockType;
    Reject();
    return false;
}

bool BlockAcceptance::ContinuesFile(const Block& b) const
{
    if (m_s.stage != Stage::InFile || m_s.caps.extended || b.sequenceNrA != b.sequenceNrB
        || b.sequenceNrA <= m_s.lastSequenceNr || b.sequenceNrA > m_s.lastSequenceNr + 2)
        return false;
    FileHeader h;
    return ReceiverSide::ParseHeader(FrameTransmitter::BytesToString(b.payload), h) == HeaderKind::File
           && h.name == m_hooks.ReceiverFile().name && h.folder == m_hooks.ReceiverFile().folder
           && h.size == m_hooks.ReceiverFile().size && h.date == m_hooks.ReceiverFile().date;
}

bool BlockAcceptance::ChecksumTest(const Block& b)
{
    // An answer block has no payload to check: it is never a good data block.
    if (b.IsData()) {
        const qint32 calc = CheckValue(Check(), b.bytes);
        m_log.WriteDebugLine(QStringLiteral("nChecksumCalc, nCheckSumShouldBe: ") + QString::number(calc)
                             + QStringLiteral(", ") + QString::number(b.checksum));
        if (calc == b.checksum) {
            m_hooks.ReceiverTookGoodBlock();
            return true;
        }
    }
    ++m_s.countIncorrectChecksum;
    Reject();
    return false;
}

void BlockAcceptance::ResendLastAnswer()
{
    if (!m_s.OneMoreResend()) {
        m_hooks.ReportLocalError(ErrorNr::TooManyResends);
        return;
    }
    m_tx.SendBytes(m_s.lastAnswer);
    m_log.WriteDebugLine(QStringLiteral("resent: answer."));
    FrameReset();
}

void BlockAcceptance::IncompleteBlockTimedOut()
{
    if (!m_rx.BlockIncomplete() || !m_line.PortOpen())
        return;
    const GatherState& gs = m_rx.State();
    m_log.WriteDebugLine(QStringLiteral("Incomplete block: line silent after ") + QString::number(gs.receiveBufCount)
                         + QStringLiteral(" of ") + QString::number(gs.receiveBufExpected) + QStringLiteral(" bytes"));
    Reject();
}

void BlockAcceptance::Reject(qint32 nr)
{
    if (ExtendedDataPhase() || ExtendedAnswers()) {
        // Blocks keep coming behind a bad one; the lead-byte rule finds the
        // next, and the refusal must leave at once. A damaged answer needs
        // nothing: the next one says as much.
        if (ExtendedDataPhase())
            m_hooks.ReceiverRefusesExtended(nr);
        FrameReset();
        m_rx.SkipToNextWrite();
        return;
    }
    // The rest of the bad block is still coming: drop it as it arrives.
    m_line.DiscardInputFor(10);
    m_tx.DelayNextWrite(10);
    if (m_cfg.IsReceiver()) {
        m_tx.SendAnswer(ANSWER_NOT_OK, 0);
        m_log.WriteDebugLine(QStringLiteral("sent: answer: received NOT ok."));
    } else {
        m_tx.SendAnswer(ANSWER_RESEND_ANSWER, 0);
        m_log.WriteDebugLine(QStringLiteral("sent: answer: please resend answer."));
    }
    FrameReset();
    m_rx.SkipToNextWrite();
}

void BlockAcceptance::FrameReset()
{
    m_rx.StartNextBlock();
    if (m_cfg.dumpBytes)
        LogResendReasons(m_log, m_s);
}
