#include "FrameTransmitter.h"
#include "CommonRoutines.h"
#include "Frame.h"
#include "LineTimes.h"
#include "Windows1252.h"

void FrameTransmitter::SendDataBlock(quint8 type, const QByteArray& payload)
{
    ++m_s.sequenceNr;
    m_s.lastBlock = BuildDataBlock(type, m_s.sequenceNr, payload, m_s.caps.check);
    SendBytes(m_s.lastBlock);
}

void FrameTransmitter::SendAnswer(qint32 code, qint32 value)
{
    qint32 carried = m_s.lastSequenceNr;
    if (code == ANSWER_ERROR)
        carried = value;
    else if (code == ANSWER_RESTART_POS)
        carried = qint32(m_s.FileReceivingPos);  // classic: a file below 2 GiB
    m_s.lastAnswer = BuildAnswerBlock(quint8(code), carried);
    SendBytes(m_s.lastAnswer);
}

void FrameTransmitter::SendAnswerValue(qint32 code, qint32 value)
{
    m_s.lastAnswer = BuildAnswerBlock(quint8(code), value);
    SendBytes(m_s.lastAnswer);
}

void FrameTransmitter::SendString(quint8 type, const QString& text)
{
    SendDataBlock(type, StringToBytes(text));
    m_log.WriteDebugLine(QStringLiteral("String sent   : '") + text + u'\'');
}

QByteArray FrameTransmitter::StringToBytes(const QString& text)
{
    return ToWindows1252(text);
}

QString FrameTransmitter::BytesToString(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return QString();
    return FromWindows1252(bytes.data(), bytes.size());
}

void FrameTransmitter::SendBytes(const QByteArray& block)
{
    if (block.isEmpty())
        return;
    const QByteArray out = StuffForWrite(block);
    if (m_cfg.dumpBytes)
        DumpBlock(block, out);

    if (!m_line.PortOpen())
        return;
    // The port keeps the pacing: the pause, then the previous write out of the driver.
    m_line.Output(out, qMax(m_cfg.waitBeforeSend, 0) + m_extraPause);
    m_extraPause = 0;
    m_lastWriteBytes = out.size();
    m_lastWriteAt = m_s.nowMs;
}

void FrameTransmitter::DropUnsent(bool peerGone)
{
    m_line.DiscardOutput(peerGone || m_s.caps.extended);
    m_extraPause = 0;
}

bool FrameTransmitter::LastWriteOnTheLine() const
{
    if (m_line.BytesUnsent() > 0)
        return true;
    return m_lastWriteAt >= 0 && m_s.nowMs - m_lastWriteAt < LineMs(m_lastWriteBytes, m_cfg.speed);
}

void FrameTransmitter::DumpBlock(const QByteArray& block, const QByteArray& out)
{
    m_log.WriteDebugLine(QStringLiteral("sent (not expanded):"));
    for (qsizetype i = 0; i < block.size(); ++i)
        m_log.WritePlainLine(QStringLiteral("  %1. %2").arg(i + 1).arg(quint8(block[i])));
    m_log.WritePlainLine(QStringLiteral(" expanded:"));
    for (qsizetype j = 1; j < out.size(); ++j)
        m_log.WritePlainLine(QStringLiteral("  %1. %2").arg(j).arg(quint8(out[j])));
}
