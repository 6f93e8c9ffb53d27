#pragma once
#include "Capabilities.h"
#include <QString>
#include <QStringList>

// The extended mode is offered in header fields the specified Receiver drops
// and accepted in the value of an ANSWER_OK no specified Sender reads.
namespace Negotiation {

constexpr quint32 kFlagCrcStreaming = 1;  // always set in an offer
constexpr quint32 kFlagCompression = 2;
constexpr qint32 kSmallestPayload = 256;
constexpr qint32 kLargestPayload = 32767;  // signed 16-bit length field

// "VX1|flags", appended to a header after its name.
QString OfferFields(bool compression);
// The flags offered in a header's fields from the fourth on; 0 for none.
quint32 ReadOffer(const QStringList& fieldsAfterName);

// The ANSWER_OK value that accepts an offer: negative, so never a sequence number.
qint32 AcceptanceValue(quint32 flags, qint32 largestPayload);
bool IsAcceptance(qint32 value);
// The acceptance value that says what caps use.
qint32 AcceptanceValue(const Capabilities& caps);
// What an acceptance value says; Classic() for any other value.
Capabilities ReadAcceptance(qint32 value);

// What this side uses for an offer it accepts.
Capabilities Agreed(quint32 offered, bool compressionAllowed, qint32 largestPayload);

}  // namespace Negotiation
