#pragma once
#include "Capabilities.h"
#include "TransferState.h"
#include <QString>
#include <QStringList>
#include <optional>

// The extended mode is offered in header fields the specified Receiver drops
// and accepted in the value of an ANSWER_OK no specified Sender reads.
namespace Negotiation {

constexpr quint32 kFlagCrcStreaming = 1;  // always set in an offer
constexpr quint32 kFlagCompression = 2;
constexpr quint32 kFlagCheckedBlock = 4;  // the CRC covers the block's head too
constexpr quint32 kFlagReference = 8;     // compressed against the bytes before; only with kFlagCompression
constexpr quint32 kFlagWide = 16;         // 8-byte file positions: files of 2 GiB and more
constexpr quint32 kFlagFolders = 32;      // a tenth header field names the file's relative folder
constexpr quint32 kKnownFlags =
    kFlagCrcStreaming | kFlagCompression | kFlagCheckedBlock | kFlagReference | kFlagWide | kFlagFolders;
// The largest file: with 4-byte positions, and with wide ones (what an
// ANSWER_RESTART_POS of restart units can name).
constexpr qint64 kLargestSize = 2147483646;
constexpr qint64 kLargestWideSize = qint64(1) << 43;
constexpr qint32 kSmallestPayload = 256;
constexpr qint32 kLargestPayload = 32767;  // signed 16-bit length field
// How far above the highest number seen a block of the data phase may be
// numbered: the Sender numbers every copy anew and has at most 64 blocks in
// flight, and ten rounds of sending them all again stay far below this.
constexpr qint32 kMostNumbersAhead = 1024;

// The flags this side offers; reference only counts with compression; wide
// positions only for a file of 2 GiB or more, so the blocks of every smaller
// file stay as earlier copies send them.
quint32 OfferedFlags(bool compression, bool reference, bool wide = false);
// "VX1|flags", appended to a header after its name.
QString OfferFields(bool compression, bool reference, bool wide = false);
QString OfferFields(quint32 flags);
// The flags offered in a header's fields from the fourth on (unknown bits
// dropped); 0 for none.
quint32 ReadOffer(const QStringList& fieldsAfterName);

// The ANSWER_OK value that accepts an offer: negative, so never a sequence number.
qint32 AcceptanceValue(quint32 flags, qint32 largestPayload);
// An ANSWER_OK value in the acceptance's range (its upper 8 bits), whether
// or not its terms can be honoured.
bool IsAcceptance(qint32 value);
// The acceptance value that says what caps use.
qint32 AcceptanceValue(const Capabilities& caps);
// What a valid acceptance value says; Classic() for any other value.
Capabilities ReadAcceptance(qint32 value);
// What an acceptance of an offer of `offered` flags lets the Sender use;
// nothing, with the reason in why, when its terms are not those offered
// (flags not offered, bit 0 clear, bit 3 without bit 1, a largest payload
// outside 256 to 32767).
std::optional<Capabilities> Honour(qint32 value, quint32 offered, QString& why);

// "index|count|bytesBefore|bytes", after the offer in an offering header.
QString RunFields(const RunTotals& run);
// The run from a header's fields after the offer; nothing known unless they
// are whole numbers with 1 <= index <= count and 0 <= bytesBefore <= bytes.
RunTotals ReadRunTotals(const QStringList& fields);

// What this side uses for an offer it accepts.
Capabilities Agreed(quint32 offered, bool compressionAllowed, bool referenceAllowed, qint32 largestPayload);

}  // namespace Negotiation
