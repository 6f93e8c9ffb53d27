#pragma once
#include "TransferContext.h"

// Blocks the acceptance tests would refuse but the Receiver can place: a repeat
// of the block it accepted last (the Sender did not get its answer), and, while
// a resumption waits for the block lost with the port, that block or a new run.
class ReceiverRepeats {
public:
    explicit ReceiverRepeats(TransferContext& c) : m_c(c) {}

    // True when the block was answered here and needs nothing else; false
    // leaves it to the acceptance tests.
    bool TakeOutOfTurn(const Block& b);
    // Keeps the block just accepted and the answer just sent for it.
    void RememberAccepted(const Block& b);

private:
    bool IsLastAccepted(const Block& b) const;
    // The answer the block lost with the port had, or empty when this is not it.
    QByteArray LostBlockAnswer(const Block& b) const;
    bool PayloadIsHeld(const Block& b) const;
    void Answer(const QByteArray& answer, const QString& what);
    // A Sender that started a new run will not send the lost block any more.
    void EndResumption();

    TransferContext& m_c;
};
