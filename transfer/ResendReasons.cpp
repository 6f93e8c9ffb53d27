#include "ResendReasons.h"

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

void LogResendReasons(DebugLog& log, const TransferState& s)
{
    log.WriteDebugLine(QStringLiteral("Now:"));
    for (const auto& c : kCounters)
        log.WritePlainLine(QLatin1String(c.label) + QString::number(s.*c.counter));
}

bool AnyResendReason(const TransferState& s)
{
    for (const auto& c : kCounters)
        if (s.*c.counter != 0)
            return true;
    return false;
}

QString ResendReasonsText(const TransferState& s)
{
    QString text = QStringLiteral("Resend-reasons: ");
    for (const auto& c : kCounters) {
        const bool last = c.counter == &TransferState::m_nCountCommErr;
        text += QStringLiteral("\r\n") + (last ? QStringLiteral("CommError: ") : QLatin1String(c.label))
                + QString::number(s.*c.counter);
    }
    return text;
}
