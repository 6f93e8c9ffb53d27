#include "FrameReceiver.h"
#include "DebugLog.h"
#include "Frame.h"

void FrameReceiver::HandleReceivedBytes(const QByteArray& chunk)
{
    // A chunk may end one block and begin the next (an answer followed by the
    // other side's Stop or error report): what follows a handled block is kept.
    qsizetype next = 0;
    while (next < chunk.size()) {
        const qint32 countBefore = m_s.receiveBufCount;
        const qsizetype from = next;
        const Gathered g = Gather(chunk, next);
        if (g == Gathered::Overflow)
            return;
        if (m_cfg.dumpBytes)
            DumpChunk(chunk, from, next, countBefore);
        if (g == Gathered::Incomplete)
            return;
        HandleBlock(g);
        // Only a block that ended with the frame reset lets the exchange go on;
        // after a rejection the rest of the chunk belongs to the bad write.
        const bool reset = m_s.receiveBufCount == 0 && m_s.receiveBufExpected == 1;
        // In the extended mode writes stream in: the next one may already be
        // in this chunk, and the lead-byte rule skips what is left of a bad one.
        if (!reset || (m_s.awaitLeadByte && !m_r.caps.extended) || !m_line.PortOpen())
            return;
    }
}

void FrameReceiver::StartNextBlock()
{
    m_s.receiveBufCount = 0;
    m_s.receiveBufExpected = 1;
}

FrameReceiver::Gathered FrameReceiver::Gather(const QByteArray& chunk, qsizetype& next)
{
    const qint32 limit = m_r.caps.ReceiveBufferSize();
    while (next < chunk.size()) {
        const char c = chunk[next++];
        // In the extended mode 0x00 only ever starts a write: a block it
        // interrupts lost bytes, and waiting for them would eat the next one.
        if (c == '\0' && m_s.receiveBufCount > 0 && m_r.caps.extended && !m_s.awaitLeadByte) {
            --next;
            return Gathered::Truncated;
        }
        if (m_s.awaitLeadByte) {
            if (c == '\0')
                m_s.awaitLeadByte = false;
            continue;
        }
        quint8 out = 0;
        const UnstuffStep step = ::Unstuff(quint8(c), m_s.prevIsChr1, out);
        if (step == UnstuffStep::Dropped || step == UnstuffStep::Escape)
            continue;
        if (step == UnstuffStep::TakenAfterBadEscape)
            m_log.WriteDebugLine(QStringLiteral("ERROR: m_bPrevIsChr1 is incorrectly True!"));
        ++m_s.receiveBufCount;
        if (m_s.receiveBufCount > limit) {
            m_hooks.BufferOverflow();
            return Gathered::Overflow;
        }
        if (m_s.receiveBuf.size() < m_s.receiveBufCount)
            m_s.receiveBuf.resize(limit);
        m_s.receiveBuf[m_s.receiveBufCount - 1] = char(out);
        if (m_s.receiveBufCount < m_s.receiveBufExpected)
            continue;
        const Gathered measured = Measure();
        if (measured != Gathered::Incomplete)
            return measured;
    }
    return Gathered::Incomplete;
}

FrameReceiver::Gathered FrameReceiver::Measure()
{
    if (m_s.receiveBufExpected == 1)
        m_s.receiveBufExpected = KindByte() == KIND_DATA ? DATA_BLOCK_HEAD : ANSWER_BLOCK_SIZE;
    if (m_s.receiveBufCount < m_s.receiveBufExpected)
        return Gathered::Incomplete;
    // Without whole data blocks (the Sender) a data block is taken as its first bytes.
    if (m_hooks.GathersWholeDataBlocks() && KindByte() == KIND_DATA && m_s.receiveBufExpected == DATA_BLOCK_HEAD) {
        const qint32 length = AnnouncedLength(GatheredBytes()).value_or(-1);
        // Extended mode: no block is longer than the largest payload announced.
        if (length < 0 || (m_r.caps.extended && length > m_r.caps.largestPayload))
            return Gathered::NegativeLength;
        m_s.lastPayloadLength = length;
        m_s.receiveBufExpected = DataBlockSize(length);
        m_log.WriteDebugLine(QStringLiteral("nNrBytesData: ") + QString::number(length)
                             + QStringLiteral("; now expecting nrbytes: ")
                             + QString::number(m_s.receiveBufExpected));
        if (m_s.receiveBufCount < m_s.receiveBufExpected)
            return Gathered::Incomplete;
    }
    return Gathered::Complete;
}

QByteArrayView FrameReceiver::GatheredBytes() const
{
    return QByteArrayView(m_s.receiveBuf).first(m_s.receiveBufCount);
}

void FrameReceiver::HandleBlock(Gathered gathered)
{
    if (gathered == Gathered::Truncated) {
        m_log.WriteDebugLine(QStringLiteral("block cut short after ") + QString::number(m_s.receiveBufCount)
                             + QStringLiteral(" bytes by the next write"));
        m_hooks.BlockBad(BadBlock::Truncated);
        return;
    }
    if (gathered == Gathered::NegativeLength) {
        // Only line noise makes a negative length; such a block can never be valid.
        m_log.WriteDebugLine(QStringLiteral("nNrBytesData: ") + QString::number(AnnouncedLength(GatheredBytes()).value_or(-1))
                             + QStringLiteral("; negative, block refused"));
        m_hooks.BlockBad(BadBlock::NegativeLength);
        return;
    }
    const QByteArrayView bytes = GatheredBytes();
    std::optional<Block> block;
    if (KindByte() == KIND_ANSWER)
        block = ParseAnswerBlock(bytes);
    else if (KindByte() == KIND_DATA)
        block = m_hooks.GathersWholeDataBlocks() ? ParseDataBlock(bytes) : ParseBlockHead(bytes);
    if (!block) {
        m_hooks.BlockBad(BadBlock::NotDataOrAnswer);
        return;
    }
    m_hooks.BlockComplete(*block);
}

void FrameReceiver::DumpChunk(const QByteArray& chunk, qsizetype from, qsizetype to, qint32 countBefore)
{
    m_log.WriteDebugLine(QStringLiteral("Bytes received, expanded:"));
    for (qsizetype i = from; i < to; ++i)
        m_log.WritePlainLine(u' ' + DebugLog::NumberItem(i) + QStringLiteral(": ")
                             + DebugLog::NumberItem(quint8(chunk[i])));
    m_log.WritePlainLine(QStringLiteral("  not expanded:"));
    // Positions counted from 1, as the log has always shown them.
    for (qint32 p = countBefore + 1; p <= m_s.receiveBufCount; ++p)
        m_log.WritePlainLine(u' ' + DebugLog::NumberItem(p) + QStringLiteral(": ")
                             + DebugLog::NumberItem(quint8(m_s.receiveBuf[p - 1])));
    m_log.WriteDebugLine(QStringLiteral("Expecting ") + QString::number(m_s.receiveBufExpected)
                         + QStringLiteral(" bytes; pos is now ") + QString::number(m_s.receiveBufCount));
}
