#pragma once
#include "Resumption.h"
#include "TransferContext.h"

// Blocks the acceptance tests would refuse but the Receiver can place: a repeat
// of the block it accepted last (the Sender did not get its answer), and, while
// a resumption waits for the block lost with the port, that block or a new run.
class ReceiverRepeats {
public:
    ReceiverRepeats(TransferContext& c, ReceiverRun& run, Resumption& resumption)
        : m_c(c), m_run(run), m_resumption(resumption) {}

    // True when the block was answered here and needs nothing else; false
    // leaves it to the acceptance tests.
    bool TakeOutOfTurn(const Block& b);
    // Keeps the block just accepted and the answer just sent for it.
    void RememberAccepted(const Block& b);

private:
    bool IsLastAccepted(const Block& b) const;
    void Answer(const QByteArray& answer, const QString& what);

    TransferContext& m_c;
    ReceiverRun& m_run;
    Resumption& m_resumption;  // the lost block's rule
};
