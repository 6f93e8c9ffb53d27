#include "ReceiverRepeats.h"
#include "Frame.h"
#include "ReceiverSide.h"

bool ReceiverRepeats::TakeOutOfTurn(const Block& b)
{
    TransferState& s = m_c.s;
    if (b.sequenceNrA == s.lastSequenceNr) {
        if (!s.m_abLastAccepted.isEmpty()) {
            if (!IsLastAccepted(b))
                return false;
            Answer(s.m_abAcceptedAnswer, QStringLiteral("repeat of the last block: answer sent again."));
            return true;
        }
        if (s.m_bRepeatMayFollow) {
            const QByteArray answer = LostBlockAnswer(b);
            if (!answer.isEmpty()) {
                // Written before the port failed; only its answer was lost with the port.
                Answer(answer, QStringLiteral("repeat of the block lost with the port: answered."));
                RememberAccepted(b);
                s.m_bRepeatMayFollow = false;
                return true;
            }
        }
    }
    const bool newRun = b.type == BLOCK_HEADER || b.type == BLOCK_RESTART_HEADER;
    if (s.m_bRepeatMayFollow && b.sequenceNrA == 1 && newRun)
        EndResumption();
    return false;
}

bool ReceiverRepeats::IsLastAccepted(const Block& b) const
{
    return QByteArrayView(m_c.s.m_abLastAccepted) == b.bytes;
}

QByteArray ReceiverRepeats::LostBlockAnswer(const Block& b) const
{
    const TransferState& s = m_c.s;
    const QByteArray ok = BuildAnswerBlock(ANSWER_OK, s.lastSequenceNr - 1);
    if (b.type == BLOCK_DATA)
        return s.FileReceivingPos > 1 && PayloadIsHeld(b) ? ok : QByteArray();
    const QString text = FrameTransmitter::BytesToString(b.payload);
    FileHeader h;
    if (ReceiverSide::ParseHeader(text, h) != HeaderKind::File || h.size != s.m_nFileSize || h.date != s.m_dFileDate
        || h.name != s.m_sFileName)
        return {};
    if (b.type == BLOCK_RESTART_HEADER)
        return BuildAnswerBlock(ANSWER_RESTART_POS, s.FileReceivingPos);
    return b.type == BLOCK_HEADER && s.FileReceivingPos == 1 ? ok : QByteArray();
}

// The block written last ends right before FileReceivingPos in the temp file.
bool ReceiverRepeats::PayloadIsHeld(const Block& b) const
{
    const TransferState& s = m_c.s;
    const qint32 n = b.length;
    const qint64 start = qint64(s.FileReceivingPos) - 1 - n;
    if (n <= 0 || start < 0 || !m_c.g.files.GlbFileOpen(FileNr::Temp))
        return false;
    QFile& f = m_c.g.files.File(FileNr::Temp);
    const qint64 writeAt = f.pos();
    const bool seeked = f.seek(start);
    const QByteArray held = seeked ? f.read(n) : QByteArray();
    f.seek(writeAt);
    return QByteArrayView(held) == b.payload;
}

void ReceiverRepeats::Answer(const QByteArray& answer, const QString& what)
{
    m_c.s.m_abAnswer = answer;
    m_c.tx.SendBytes(answer);
    m_c.log.WriteDebugLine(what);
}

void ReceiverRepeats::RememberAccepted(const Block& b)
{
    TransferState& s = m_c.s;
    s.m_abLastAccepted = b.bytes.toByteArray();
    s.m_abAcceptedAnswer = s.m_abAnswer;
}

void ReceiverRepeats::EndResumption()
{
    TransferState& s = m_c.s;
    m_c.log.WriteDebugLine(QStringLiteral("new run: resumption of '") + s.m_sFileName
                           + QStringLiteral("' given up; its temp file is kept"));
    m_c.g.files.CloseFileIfOpen(FileNr::Temp);
    s.m_bRepeatMayFollow = false;
    s.blockTypeExpecting = BLOCK_HEADER;
    s.lastSequenceNr = 0;
    s.FileReceivingPos = 1;
    s.m_nResendCount = 0;
}
