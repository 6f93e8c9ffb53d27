#include "ReceiverRepeats.h"
#include <cstring>

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
        if (const QByteArray answer = m_resumption.LostBlockAnswer(b); !answer.isEmpty()) {
            // Written before the port failed; only its answer was lost with the port.
            Answer(answer, QStringLiteral("repeat of the block lost with the port: answered."));
            RememberAccepted();
            m_resumption.LostBlockAnswered();
            return true;
        }
    }
    m_resumption.EndOnNewRun(b);
    return false;
}

bool ReceiverRepeats::IsLastAccepted() const
{
    const TransferState& s = m_c.s;
    const QByteArray& last = s.m_abLastAccepted;
    return last.size() == s.m_nReceiveBufExpected
           && std::memcmp(last.constData(), &s.m_abReceiveBuf[1], size_t(last.size())) == 0;
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
