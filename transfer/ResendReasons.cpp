#include "ResendReasons.h"

namespace {
struct CounterLine {
    const char* label;
    qint32 TransferState::*counter;
};
constexpr CounterLine kCounters[] = {
    {"byte 1 not A/H: ", &TransferState::count1NotHA},
    {"NrBytesDataZero: ", &TransferState::countNrBytesDataZero},
    {"IncorrectBlockType: ", &TransferState::countIncorrectBlockType},
    {"Seqnr start/end diff: ", &TransferState::countIncorrectSeqnrAB},
    {"Seqnr not last+1: ", &TransferState::countIncorrectSeqnr},
    {"IncorrectChecksum: ", &TransferState::countIncorrectChecksum},
    {"IncorrectSizDateFname: ", &TransferState::countIncorrectSizDateFname},
    {"Comerror: ", &TransferState::countCommErr},
};
}  // namespace

void LogResendReasons(DebugLines& log, const TransferState& s)
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
        const bool last = c.counter == &TransferState::countCommErr;
        text += QStringLiteral("\r\n") + (last ? QStringLiteral("CommError: ") : QLatin1String(c.label))
                + QString::number(s.*c.counter);
    }
    return text;
}
