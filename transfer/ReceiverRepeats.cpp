#include "ReceiverRepeats.h"

bool ReceiverRepeats::TakeOutOfTurn(const Block& b)
{
    TransferState& s = m_c.s;
    if (b.sequenceNrA == s.lastSequenceNr) {
        if (!s.m_abLastAccepted.isEmpty()) {
            if (IsLastAccepted(b)) {
                Answer(s.m_abAcceptedAnswer, QStringLiteral("repeat of the last block: answer sent again."));
                return true;
            }
        } else if (const QByteArray answer = m_resumption.LostBlockAnswer(b); !answer.isEmpty()) {
            // Written before the port failed; only its answer was lost with the port.
            Answer(answer, QStringLiteral("repeat of the block lost with the port: answered."));
            RememberAccepted(b);
            m_resumption.LostBlockAnswered();
            return true;
        }
    }
    // Not yet a new run: no answer, so the Sender asks again after its silence.
    return m_resumption.EndOnNewRun(b) == Resumption::NewRun::NotYet;
}

bool ReceiverRepeats::IsLastAccepted(const Block& b) const
{
    return QByteArrayView(m_c.s.m_abLastAccepted) == b.bytes;
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
