#include "FrameReceiver.h"
#include "CommonRoutines.h"
#include "Frame.h"

namespace {
constexpr qint32 kMaxAnswerResends = 10;
}

void FrameReceiver::HandleReceivedBytes(const QByteArray& chunk)
{
    // A chunk may end one block and begin the next (an answer followed by the
    // other side's Stop or error report): what follows a handled block is kept.
    qsizetype next = 0;
    while (next < chunk.size()) {
        const qint32 countBefore = m_s.m_nReceiveBufCount;
        const qsizetype from = next;
        const Gathered g = Gather(chunk, next);
        if (g == Gathered::Overflow)
            return;
        if (m_g.DumpsWanted())
            DumpChunk(chunk, from, next, countBefore);
        if (g == Gathered::Incomplete)
            return;
        HandleBlock(g);
        // Only a block that ended with the frame reset lets the exchange go on;
        // after a rejection the rest of the chunk belongs to the bad write.
        const bool reset = m_s.m_nReceiveBufCount == 0 && m_s.m_nReceiveBufExpected == 1;
        if (!reset || m_s.m_bAwaitLeadByte || !m_port.PortOpen())
            return;
    }
}

FrameReceiver::Gathered FrameReceiver::Gather(const QByteArray& chunk, qsizetype& next)
{
    while (next < chunk.size()) {
        const char c = chunk[next++];
        if (m_s.m_bAwaitLeadByte) {
            if (c == '\0')
                m_s.m_bAwaitLeadByte = false;
            continue;
        }
        quint8 out = 0;
        const UnstuffStep step = ::Unstuff(quint8(c), m_s.m_bPrevIsChr1, out);
        if (step == UnstuffStep::Dropped || step == UnstuffStep::Escape)
            continue;
        if (step == UnstuffStep::TakenAfterBadEscape)
            m_log.WriteDebugLine(QStringLiteral("ERROR: m_bPrevIsChr1 is incorrectly True!"));
        ++m_s.m_nReceiveBufCount;
        if (m_s.m_nReceiveBufCount > RECEIVE_BUFFER_SIZE) {
            m_hooks.ReportLocalError(4);
            m_hooks.ShowCritical(QStringLiteral("ERROR: program-bytes-array overflow!"));
            return Gathered::Overflow;
        }
        m_s.m_abReceiveBuf[size_t(m_s.m_nReceiveBufCount)] = out;
        if (m_s.m_nReceiveBufCount < m_s.m_nReceiveBufExpected)
            continue;
        const Gathered measured = Measure();
        if (measured != Gathered::Incomplete)
            return measured;
    }
    return Gathered::Incomplete;
}

FrameReceiver::Gathered FrameReceiver::Measure()
{
    auto& buf = m_s.m_abReceiveBuf;
    if (m_s.m_nReceiveBufExpected == 1)
        m_s.m_nReceiveBufExpected = buf[1] == KIND_DATA ? 8 : ANSWER_BLOCK_SIZE;
    if (m_s.m_nReceiveBufCount < m_s.m_nReceiveBufExpected)
        return Gathered::Incomplete;
    // On the Sender a data block is never measured: it is taken as 8 bytes.
    if (m_g.IsReceiver() && buf[1] == KIND_DATA && m_s.m_nReceiveBufExpected == 8) {
        const qint32 length = GetLE16(&buf[7]);
        if (length < 0)
            return Gathered::NegativeLength;
        m_s.nNrBytesData = length;
        m_s.m_nReceiveBufExpected = length + DATA_BLOCK_OVERHEAD;
        m_log.WriteDebugLine(QStringLiteral("nNrBytesData: ") + QString::number(length)
                             + QStringLiteral("; now expecting nrbytes: ")
                             + QString::number(m_s.m_nReceiveBufExpected));
        if (m_s.m_nReceiveBufCount < m_s.m_nReceiveBufExpected)
            return Gathered::Incomplete;
    }
    return Gathered::Complete;
}

void FrameReceiver::HandleBlock(Gathered gathered)
{
    auto& buf = m_s.m_abReceiveBuf;
    if (gathered == Gathered::NegativeLength) {
        // Only line noise makes a negative length; such a block can never be valid.
        m_log.WriteDebugLine(QStringLiteral("nNrBytesData: ") + QString::number(GetLE16(&buf[7]))
                             + QStringLiteral("; negative, block refused"));
        ++m_s.m_nCountNrBytesDataZero;
        Reject();
        return;
    }
    if (buf[1] != KIND_DATA && buf[1] != KIND_ANSWER) {
        ++m_s.m_nCount1NotHA;
        Reject();
        return;
    }

    const bool receiver = m_g.IsReceiver();
    ReceivedBlock b;
    b.nBlockType = buf[2];
    b.nSequenceNrA = Field32(3);
    b.nSequenceNrB = Field32(m_s.m_nReceiveBufExpected - 3);
    if (receiver) {
        m_log.WriteDebugLine(QStringLiteral("nBlockType, blockTypeExpecting: ") + QString::number(b.nBlockType)
                             + QStringLiteral(", ") + QString::number(m_s.blockTypeExpecting));
        m_log.WriteDebugLine(QStringLiteral("nSequenceNrA, nSequenceNrB, lastSequenceNr: ")
                             + QString::number(b.nSequenceNrA) + QStringLiteral(", ")
                             + QString::number(b.nSequenceNrB) + QStringLiteral(", ")
                             + QString::number(m_s.lastSequenceNr));
    } else {
        m_log.WriteDebugLine(QStringLiteral("nBlockType: ") + QString::number(b.nBlockType));
        m_log.WriteDebugLine(QStringLiteral("nSequenceNr: ") + QString::number(b.nSequenceNrA));
    }

    if (b.nBlockType == ANSWER_ERROR) {
        m_hooks.ReportRemoteError(b.nSequenceNrA);
        return;
    }
    if (!receiver) {
        m_hooks.HandOverToSender(b);
        return;
    }
    // The Sender's Stop is taken before the acceptance tests, which would refuse it.
    if (buf[1] == KIND_ANSWER && b.nBlockType == ANSWER_STOP) {
        m_hooks.ReceiverGotStop();
        return;
    }
    if (AcceptOnReceiver(b))
        m_hooks.HandOverToReceiver(b);
}

void FrameReceiver::DumpChunk(const QByteArray& chunk, qsizetype from, qsizetype to, qint32 countBefore)
{
    m_log.WriteDebugLine(QStringLiteral("Bytes received, expanded:"));
    for (qsizetype i = from; i < to; ++i)
        m_log.WritePlainLine(u' ' + DebugLog::NumberItem(i) + QStringLiteral(": ")
                             + DebugLog::NumberItem(quint8(chunk[i])));
    m_log.WritePlainLine(QStringLiteral("  not expanded:"));
    for (qint32 p = countBefore + 1; p <= m_s.m_nReceiveBufCount; ++p)
        m_log.WritePlainLine(u' ' + DebugLog::NumberItem(p) + QStringLiteral(": ")
                             + DebugLog::NumberItem(m_s.m_abReceiveBuf[size_t(p)]));
    m_log.WriteDebugLine(QStringLiteral("Expecting ") + QString::number(m_s.m_nReceiveBufExpected)
                         + QStringLiteral(" bytes; pos is now ") + QString::number(m_s.m_nReceiveBufCount));
}

bool FrameReceiver::AcceptOnReceiver(const ReceivedBlock& b)
{
    // A good block numbered like the last accepted one, or 1 while a resumption
    // waits: the receiver side may place it where these tests would refuse it.
    const bool outOfTurn = b.nSequenceNrA == m_s.lastSequenceNr ? m_s.lastSequenceNr > 0
                                                                  : b.nSequenceNrA == 1 && m_s.m_bRepeatMayFollow;
    if (m_s.m_abReceiveBuf[1] == KIND_DATA && outOfTurn && b.nSequenceNrB == b.nSequenceNrA && ChecksumMatches()
        && m_hooks.ReceiverTakesOutOfTurn(b)) {
        FrameReset();
        return false;
    }
    if (m_s.nNrBytesData <= 0) {
        if (m_s.blockTypeExpecting != BLOCK_DATA) {
            ++m_s.m_nCountNrBytesDataZero;
            Reject();
            return false;
        }
        return ChecksumTest();
    }
    if (b.nBlockType == m_s.blockTypeExpecting) {
        if (b.nSequenceNrA != b.nSequenceNrB) {
            ++m_s.m_nCountIncorrectSeqnrAB;
            Reject();
            return false;
        }
        if (b.nSequenceNrA != m_s.lastSequenceNr + 1) {
            ++m_s.m_nCountIncorrectSeqnr;
            Reject();
            return false;
        }
        return ChecksumTest();
    }
    if (b.nBlockType == ANSWER_RESEND_ANSWER) {
        ResendLastAnswer();
        return false;
    }
    if (b.nBlockType == BLOCK_RESTART_HEADER && m_s.blockTypeExpecting == BLOCK_HEADER)
        return ChecksumTest();
    ++m_s.m_nCountIncorrectBlockType;
    Reject();
    return false;
}

qint32 FrameReceiver::PayloadChecksum() const
{
    const qint32 n = m_s.nNrBytesData;
    return n > 0 ? CalcChecksum(&m_s.m_abReceiveBuf[13], n) : 0;
}

bool FrameReceiver::ChecksumMatches() const
{
    return PayloadChecksum() == Field32(9);
}

bool FrameReceiver::ChecksumTest()
{
    const qint32 calc = PayloadChecksum();
    const qint32 shouldBe = Field32(9);
    m_log.WriteDebugLine(QStringLiteral("nChecksumCalc, nCheckSumShouldBe: ") + QString::number(calc)
                         + QStringLiteral(", ") + QString::number(shouldBe));
    if (calc != shouldBe) {
        ++m_s.m_nCountIncorrectChecksum;
        Reject();
        return false;
    }
    m_s.m_bRepeatMayFollow = false;
    return true;
}

void FrameReceiver::ResendLastAnswer()
{
    ++m_s.m_nResendCount;
    if (m_s.m_nResendCount > kMaxAnswerResends) {
        m_hooks.ReportLocalError(10);
        return;
    }
    m_tx.SendBytes(m_s.m_abAnswer);
    m_log.WriteDebugLine(QStringLiteral("resent: answer."));
    FrameReset();
}

void FrameReceiver::IncompleteBlockTimedOut()
{
    if (!BlockIncomplete() || !m_port.PortOpen())
        return;
    m_log.WriteDebugLine(QStringLiteral("Incomplete block: line silent after ") + QString::number(m_s.m_nReceiveBufCount)
                         + QStringLiteral(" of ") + QString::number(m_s.m_nReceiveBufExpected) + QStringLiteral(" bytes"));
    Reject();
}

void FrameReceiver::Reject()
{
    GlbSleep(10);
    m_port.DiscardInput();
    if (m_g.IsReceiver()) {
        m_tx.SendAnswer(ANSWER_NOT_OK, 0);
        m_log.WriteDebugLine(QStringLiteral("sent: answer: received NOT ok."));
    } else {
        m_tx.SendAnswer(ANSWER_RESEND_ANSWER, 0);
        m_log.WriteDebugLine(QStringLiteral("sent: answer: please resend answer."));
    }
    FrameReset();
    m_s.m_bAwaitLeadByte = true;
}

namespace {
struct CounterLine {
    const char* label;
    qint32 TransferState::*counter;
};
constexpr CounterLine kCounters[] = {
    {"byte 1 not A/H: ", &TransferState::m_nCount1NotHA},
    {"NrBytesDataZero: ", &TransferState::m_nCountNrBytesDataZero},
    {"IncorrectBlockType: ", &TransferState::m_nCountIncorrectBlockType},
    {"Seqnr start/end diff: ", &TransferState::m_nCountIncorrectSeqnrAB},
    {"Seqnr not last+1: ", &TransferState::m_nCountIncorrectSeqnr},
    {"IncorrectChecksum: ", &TransferState::m_nCountIncorrectChecksum},
    {"IncorrectSizDateFname: ", &TransferState::m_nCountIncorrectSizDateFname},
    {"Comerror: ", &TransferState::m_nCountCommErr},
};
}  // namespace

void FrameReceiver::FrameReset()
{
    m_s.m_nReceiveBufCount = 0;
    m_s.m_nReceiveBufExpected = 1;
    if (!m_g.DumpsWanted())
        return;
    m_log.WriteDebugLine(QStringLiteral("Now:"));
    for (const auto& c : kCounters)
        m_log.WritePlainLine(QLatin1String(c.label) + QString::number(m_s.*c.counter));
}

bool FrameReceiver::AnyResendReason(const TransferState& s)
{
    for (const auto& c : kCounters)
        if (s.*c.counter != 0)
            return true;
    return false;
}

QString FrameReceiver::ResendReasonsText(const TransferState& s)
{
    QString text = QStringLiteral("Resend-reasons: ");
    for (const auto& c : kCounters) {
        const bool last = c.counter == &TransferState::m_nCountCommErr;
        text += QStringLiteral("\r\n") + (last ? QStringLiteral("CommError: ") : QLatin1String(c.label))
                + QString::number(s.*c.counter);
    }
    return text;
}
