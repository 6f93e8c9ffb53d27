#include "ReceiverRepeats.h"

bool ReceiverRepeats::TakeOutOfTurn(const Block& b)
{
    TransferState& s = m_c.s;
    if (b.sequenceNrA == s.lastSequenceNr) {
        if (!m_run.lastAccepted.isEmpty()) {
            if (IsLastAccepted(b)) {
                Answer(m_run.acceptedAnswer, QStringLiteral("repeat of the last block: answer sent again."));
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
    return QByteArrayView(m_run.lastAccepted) == b.bytes;
}

void ReceiverRepeats::Answer(const QByteArray& answer, const QString& what)
{
    m_c.s.lastAnswer = answer;
    m_c.tx.SendBytes(answer);
    m_c.log.WriteDebugLine(what);
}

void ReceiverRepeats::RememberAccepted(const Block& b)
{
    TransferState& s = m_c.s;
    m_run.lastAccepted = b.bytes.toByteArray();
    m_run.acceptedAnswer = s.lastAnswer;
}
