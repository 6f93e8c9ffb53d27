#include "Negotiation.h"

namespace Negotiation {
namespace {
// Flags 0 to 3 sit in bits 16 to 19; flags 4 to 7 in bits 20 to 23, read
// against 0x5, so that an acceptance of the first four alone keeps the form
// earlier copies send and read (upper 12 bits 0xD65).
constexpr quint32 kMarker = 0xD6000000u;
constexpr quint32 kMarkerMask = 0xFF000000u;
constexpr quint32 kHighFlagsBase = 0x5u;
const QString kOfferTag = QStringLiteral("VX1");

quint32 FlagsOf(qint32 value)
{
    const quint32 v = quint32(value);
    return (v >> 16 & 0xFu) | ((v >> 20 & 0xFu) ^ kHighFlagsBase) << 4;
}
qint32 LargestOf(qint32 value)
{
    return qint32(quint32(value) & 0xFFFFu);
}
}  // namespace

quint32 OfferedFlags(bool compression, bool reference, bool wide)
{
    return kFlagCrcStreaming | kFlagCheckedBlock | (wide ? kFlagWide : 0) | (compression ? kFlagCompression : 0)
           | (compression && reference ? kFlagReference : 0);
}

QString OfferFields(quint32 flags)
{
    return kOfferTag + u'|' + QString::number(flags);
}

QString OfferFields(bool compression, bool reference, bool wide)
{
    return OfferFields(OfferedFlags(compression, reference, wide));
}

quint32 ReadOffer(const QStringList& fieldsAfterName)
{
    if (fieldsAfterName.size() < 2 || fieldsAfterName[0] != kOfferTag)
        return 0;
    bool ok = false;
    const quint32 flags = fieldsAfterName[1].toUInt(&ok);
    return ok && (flags & kFlagCrcStreaming) ? flags & kKnownFlags : 0;
}

qint32 AcceptanceValue(quint32 flags, qint32 largestPayload)
{
    const quint32 largest = quint32(qBound(kSmallestPayload, largestPayload, kLargestPayload));
    return qint32(kMarker | ((flags >> 4 & 0xFu) ^ kHighFlagsBase) << 20 | (flags & 0xFu) << 16 | largest);
}

qint32 AcceptanceValue(const Capabilities& caps)
{
    const quint32 flags = kFlagCrcStreaming | (caps.compression ? kFlagCompression : 0)
                          | (caps.check == BlockCheck::Crc32Block ? kFlagCheckedBlock : 0)
                          | (caps.compression && caps.reference ? kFlagReference : 0) | (caps.wide ? kFlagWide : 0)
                          | (caps.folders ? kFlagFolders : 0);
    return AcceptanceValue(flags, caps.largestPayload);
}

bool IsAcceptance(qint32 value)
{
    return (quint32(value) & kMarkerMask) == kMarker;
}

std::optional<Capabilities> Honour(qint32 value, quint32 offered, QString& why)
{
    const quint32 flags = FlagsOf(value);
    const qint32 largest = LargestOf(value);
    if (!IsAcceptance(value) || !(flags & kFlagCrcStreaming) || (flags & ~offered) != 0)
        why = QStringLiteral("it accepted flags %1 where %2 were offered").arg(flags).arg(offered);
    else if ((flags & kFlagReference) && !(flags & kFlagCompression))
        why = QStringLiteral("it accepted flags %1: compression against a reference without compression").arg(flags);
    else if (largest < kSmallestPayload || largest > kLargestPayload)
        why = QStringLiteral("it announced a largest payload of %1 bytes, outside %2 to %3")
                  .arg(largest)
                  .arg(kSmallestPayload)
                  .arg(kLargestPayload);
    else
        return ReadAcceptance(value);
    return std::nullopt;
}

Capabilities ReadAcceptance(qint32 value)
{
    const quint32 flags = FlagsOf(value);
    const qint32 largest = LargestOf(value);
    if (!IsAcceptance(value) || !(flags & kFlagCrcStreaming) || largest < kSmallestPayload || largest > kLargestPayload)
        return Capabilities::Classic();
    Capabilities c;
    c.extended = true;
    c.check = flags & kFlagCheckedBlock ? BlockCheck::Crc32Block : BlockCheck::Crc32;
    c.streaming = true;
    c.compression = (flags & kFlagCompression) != 0;
    c.reference = c.compression && (flags & kFlagReference) != 0;
    c.wide = (flags & kFlagWide) != 0;
    c.folders = (flags & kFlagFolders) != 0;
    c.largestPayload = largest;
    return c;
}

QString RunFields(const RunTotals& run)
{
    return QStringLiteral("%1|%2|%3|%4").arg(run.index).arg(run.count).arg(run.bytesBefore).arg(run.bytes);
}

RunTotals ReadRunTotals(const QStringList& fields)
{
    if (fields.size() < 4)
        return {};
    bool ok[4] = {};
    RunTotals r;
    r.index = fields[0].toInt(&ok[0]);
    r.count = fields[1].toInt(&ok[1]);
    r.bytesBefore = fields[2].toLongLong(&ok[2]);
    r.bytes = fields[3].toLongLong(&ok[3]);
    const bool sane = ok[0] && ok[1] && ok[2] && ok[3] && r.index >= 1 && r.index <= r.count && r.bytesBefore >= 0
                      && r.bytesBefore <= r.bytes;
    return sane ? r : RunTotals();
}

Capabilities Agreed(quint32 offered, bool compressionAllowed, bool referenceAllowed, qint32 largestPayload)
{
    if (!(offered & kFlagCrcStreaming))
        return Capabilities::Classic();
    const bool compression = compressionAllowed && (offered & kFlagCompression);
    const quint32 flags = kFlagCrcStreaming | (offered & kFlagCheckedBlock) | (compression ? kFlagCompression : 0)
                          | (compression && referenceAllowed ? offered & kFlagReference : 0) | (offered & kFlagWide)
                          | (offered & kFlagFolders);
    return ReadAcceptance(AcceptanceValue(flags, largestPayload));
}

}  // namespace Negotiation
