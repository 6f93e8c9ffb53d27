#include "AnswerMatch.h"
#include "BlockCodes.h"
#include "Negotiation.h"

AnswerFit MatchAnswer(qint32 code, qint32 value, const SentBlock& last)
{
    if (code == ANSWER_OK) {
        if (Negotiation::IsAcceptance(value))
            return last.offered && !last.end && last.nr >= 1 ? AnswerFit::Accepted : AnswerFit::Stale;
        // A restart header is answered with its position, never with OK.
        if (last.type == BLOCK_RESTART_HEADER || last.nr < 1)
            return AnswerFit::Stale;
        return value == last.nr - 1 ? AnswerFit::Fits : AnswerFit::Stale;
    }
    // A late copy (the header went twice) must not send the data from there again.
    if (code == ANSWER_RESTART_POS)
        return last.type == BLOCK_RESTART_HEADER ? AnswerFit::Fits : AnswerFit::Stale;
    if (code != ANSWER_NOT_OK)
        return AnswerFit::Fits;
    // The Receiver sets its number back to 0 only at activation and after "END":
    // a repeated "END" then finds it reset, so it has everything.
    if (last.end)
        return value == 0 && last.nr > 1 ? AnswerFit::HeldAlready : AnswerFit::Fits;
    if (value != last.nr)
        return AnswerFit::Fits;
    // The first header of a run may meet a Receiver still inside another run's
    // file whose number happens to be 1: that one is never taken as held,
    // unless the same header went unanswered before.
    const bool header = last.type == BLOCK_HEADER && (last.nr > 1 || last.unansweredBefore);
    const bool placed = last.type == BLOCK_DATA || header;
    return placed ? AnswerFit::HeldAlready : AnswerFit::Fits;
}
