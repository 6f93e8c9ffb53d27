#include "Negotiation.h"

namespace Negotiation {
namespace {
constexpr quint32 kMarker = 0xD6500000u;
constexpr quint32 kMarkerMask = 0xFFF00000u;
const QString kOfferTag = QStringLiteral("VX1");
}  // namespace

QString OfferFields(bool compression)
{
    const quint32 flags = kFlagCrcStreaming | (compression ? kFlagCompression : 0);
    return kOfferTag + u'|' + QString::number(flags);
}

quint32 ReadOffer(const QStringList& fieldsAfterName)
{
    if (fieldsAfterName.size() < 2 || fieldsAfterName[0] != kOfferTag)
        return 0;
    bool ok = false;
    const quint32 flags = fieldsAfterName[1].toUInt(&ok);
    return ok && (flags & kFlagCrcStreaming) ? flags & (kFlagCrcStreaming | kFlagCompression) : 0;
}

qint32 AcceptanceValue(quint32 flags, qint32 largestPayload)
{
    const quint32 largest = quint32(qBound(kSmallestPayload, largestPayload, kLargestPayload));
    return qint32(kMarker | (flags & 0xFu) << 16 | largest);
}

qint32 AcceptanceValue(const Capabilities& caps)
{
    return AcceptanceValue(kFlagCrcStreaming | (caps.compression ? kFlagCompression : 0), caps.largestPayload);
}

bool IsAcceptance(qint32 value)
{
    const auto u = quint32(value);
    return (u & kMarkerMask) == kMarker && (u >> 16 & kFlagCrcStreaming) && qint32(u & 0xFFFFu) >= kSmallestPayload
           && qint32(u & 0xFFFFu) <= kLargestPayload;
}

Capabilities ReadAcceptance(qint32 value)
{
    if (!IsAcceptance(value))
        return Capabilities::Classic();
    const auto u = quint32(value);
    Capabilities c;
    c.extended = true;
    c.check = BlockCheck::Crc32;
    c.streaming = true;
    c.compression = (u >> 16 & kFlagCompression) != 0;
    c.largestPayload = qint32(u & 0xFFFFu);
    return c;
}

Capabilities Agreed(quint32 offered, bool compressionAllowed, qint32 largestPayload)
{
    if (!(offered & kFlagCrcStreaming))
        return Capabilities::Classic();
    const quint32 flags = kFlagCrcStreaming | (compressionAllowed ? offered & kFlagCompression : 0);
    return ReadAcceptance(AcceptanceValue(flags, largestPayload));
}

}  // namespace Negotiation
