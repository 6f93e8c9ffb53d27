#include "ReceiverRepeats.h"
#include "Frame.h"
#include "ReceiverSide.h"
#include <cstring>

namespace {
constexpr qint32 kPayloadPosition = 13;
}

bool ReceiverRepeats::TakeOutOfTurn(const ReceivedBlock& b)
{
    TransferState& s = m_c.s;
    if (b.nSequenceNrA == s.lastSequenceNr) {
        if (!s.m_abLastAccepted.isEmpty()) {
            if (!IsLastAccepted())
                return false;
            Answer(s.m_abAcceptedAnswer, QStringLiteral("repeat of the last block: answer sent again."));
            return true;
        }
        if (s.m_bRepeatMayFollow) {
            const QByteArray answer = LostBlockAnswer(b);
            if (!answer.isEmpty()) {
                // Written before the port failed; only its answer was lost with the port.
                Answer(answer, QStringLiteral("repeat of the block lost with the port: answered."));
                RememberAccepted();
                s.m_bRepeatMayFollow = false;
                return true;
            }
        }
    }
    const bool newRun = b.nBlockType == BLOCK_HEADER || b.nBlockType == BLOCK_RESTART_HEADER;
    if (s.m_bRepeatMayFollow && b.nSequenceNrA == 1 && newRun)
        EndResumption();
    return false;
}

bool ReceiverRepeats::IsLastAccepted() const
{
    const TransferState& s = m_c.s;
    const QByteArray& last = s.m_abLastAccepted;
    return last.size() == s.m_nReceiveBufExpected
           && std::memcmp(last.constData(), &s.m_abReceiveBuf[1], size_t(last.size())) == 0;
}

QByteArray ReceiverRepeats::LostBlockAnswer(const ReceivedBlock& b) const
{
    const TransferState& s = m_c.s;
    const QByteArray ok = BuildAnswerBlock(ANSWER_OK, s.lastSequenceNr - 1);
    if (b.nBlockType == BLOCK_DATA)
        return s.FileReceivingPos > 1 && PayloadIsHeld() ? ok : QByteArray();
    const QString text = FrameTransmitter::BytesToString(&s.m_abReceiveBuf[kPayloadPosition], s.nNrBytesData);
    FileHeader h;
    if (ReceiverSide::ParseHeader(text, h) != HeaderKind::File || h.size != s.m_nFileSize || h.date != s.m_dFileDate
        || h.name != s.m_sFileName)
        return {};
    if (b.nBlockType == BLOCK_RESTART_HEADER)
        return BuildAnswerBlock(ANSWER_RESTART_POS, s.FileReceivingPos);
    return b.nBlockType == BLOCK_HEADER && s.FileReceivingPos == 1 ? ok : QByteArray();
}

// The block written last ends right before FileReceivingPos in the temp file.
bool ReceiverRepeats::PayloadIsHeld() const
{
    const TransferState& s = m_c.s;
    const qint32 n = s.nNrBytesData;
    const qint64 start = qint64(s.FileReceivingPos) - 1 - n;
    if (n <= 0 || start < 0 || !m_c.g.files.GlbFileOpen(FileNr::Temp))
        return false;
    QFile& f = m_c.g.files.File(FileNr::Temp);
    const qint64 writeAt = f.pos();
    const bool seeked = f.seek(start);
    const QByteArray held = seeked ? f.read(n) : QByteArray();
    f.seek(writeAt);
    return held.size() == n && std::memcmp(held.constData(), &s.m_abReceiveBuf[kPayloadPosition], size_t(n)) == 0;
}

void ReceiverRepeats::Answer(const QByteArray& answer, const QString& what)
{
    m_c.s.m_abAnswer = answer;
    m_c.tx.SendBytes(answer);
    m_c.log.WriteDebugLine(what);
}

void ReceiverRepeats::RememberAccepted()
{
    TransferState& s = m_c.s;
    s.m_abLastAccepted = QByteArray(reinterpret_cast<const char*>(&s.m_abReceiveBuf[1]), s.m_nReceiveBufExpected);
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
