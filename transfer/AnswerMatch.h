#pragma once
#include <QtGlobal>

// The block the Sender sent last, as its answers are read against it.
struct SentBlock {
    qint32 nr = 0;       // its sequence number
    qint32 type = 0;     // BLOCK_HEADER, BLOCK_DATA or BLOCK_RESTART_HEADER
    bool end = false;    // the "END" header
    // Sent again by the watchdog after it had no answer at all: a Receiver
    // still inside another run would have refused it at once.
    bool unansweredBefore = false;
    bool offered = false;  // a header that offered the extended mode
};

enum class AnswerFit {
    Fits,         // the answer to that block: act on it
    HeldAlready,  // NOT OK from a Receiver that holds that block already: go on as for OK
    Stale,        // an answer to an earlier block: log it and keep waiting
    Accepted,     // OK to an offering header whose value accepts the extended mode
};

// The value of an answer tells which block it answers: ANSWER_OK for block k
// carries k - 1, ANSWER_NOT_OK the Receiver's last accepted number.
AnswerFit MatchAnswer(qint32 code, qint32 value, const SentBlock& last);
