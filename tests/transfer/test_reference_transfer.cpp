// Compression against the file bytes before a block, between two stations on
// the in-memory cable: losses, a forged reference and a peer that offers or
// accepts only blocks compressed alone.
#include "BlockCompression.h"
#include "ExtendedFixture.h"
#include <map>
#include <set>

namespace {
// A type 19 block as written: number, offset and reference end.
struct Referenced {
    qint32 nr = 0;
    qint64 offset = 0, end = 0;
};

std::optional<Referenced> ReadReferenced(const QByteArray& block)
{
    if (block.size() < 12 + 15 || quint8(block[1]) != BLOCK_DATA_REFERENCED)
        return std::nullopt;
    return Referenced{Le32(block, 2), Le32(block, 12), Le32(block, 18)};
}
}  // namespace

// The answer to a block is lost: the Sender takes the block for lost, and from
// then on compresses against bytes the Receiver is known to hold. Then a block
// is lost: the one behind it is decoded and kept beyond the gap, and the lost
// one goes again against the longer reference known by then.
TEST_F(ExtendedFixture, BlocksAgainstAReferenceSurviveLossesAndAreKeptBeyondAGap)
{
    const QByteArray content = Text(20000);
    WriteFile(Source("t.txt"), content);
    tx->g.speed = rx->g.speed = 921600;
    std::map<qint32, Referenced> sent;
    std::map<qint64, std::set<qint64>> endsByOffset;
    qint64 newest = -1;
    bool answerLost = false, blockLost = false;
    int keptBeyondGap = 0;
    tx->port.lineFilter = [&](const QByteArray& w) {
        const std::optional<Referenced> b = ReadReferenced(Unstuffed(w));
        if (!b)
            return w;
        sent[b->nr] = *b;
        endsByOffset[b->offset].insert(b->end);
        const bool isNew = b->offset > newest;
        newest = std::max(newest, b->offset);
        const bool drop = answerLost && !blockLost && isNew && b->end < b->offset;
        blockLost = blockLost || drop;
        return drop ? QByteArray() : w;
    };
    rx->port.lineFilter = [&](const QByteArray& w) {
        const QByteArray a = Unstuffed(w);
        const auto it = sent.find(Le32(a, 2));
        if (quint8(a[1]) != ANSWER_OK || it == sent.end())
            return w;
        if (it->second.offset > rx->s().FileReceivingPos - 1)
            ++keptBeyondGap;
        // A block behind it shows the answer lost (a lone one would be asked for again).
        const bool drop = !answerLost && sent.size() >= 3 && sent.rbegin()->first > it->first;
        answerLost = answerLost || drop;
        return drop ? QByteArray() : w;
    };
    Run({"t.txt"});
    ASSERT_TRUE(SenderDone());
    EXPECT_EQ(tx->ui.status2, "Files sent: 1");
    EXPECT_EQ(Received("t.txt"), content);
    EXPECT_TRUE(blockLost);
    EXPECT_GE(keptBeyondGap, 1);
    const bool againWithOtherReference = std::any_of(endsByOffset.begin(), endsByOffset.end(),
                                                     [](const auto& e) { return e.second.size() > 1; });
    EXPECT_TRUE(againWithOtherReference);
    EXPECT_LT(tx->port.written.size(), content.size() / 8);
}

// A block made against other bytes than the file's (a forged or mistaken
// reference) passes the CRC but not the decoder: refused, sent again, and the
// file arrives as it is.
TEST_F(ExtendedFixture, ABlockMadeAgainstAnotherReferenceIsRefused)
{
    const QByteArray content = Text(3000);
    WriteFile(Source("t.txt"), content);
    qint32 forgedNr = 0;
    tx->port.lineFilter = [&](const QByteArray& w) {
        const QByteArray block = Unstuffed(w);
        const std::optional<Referenced> b = ReadReferenced(block);
        if (forgedNr != 0 || !b || b->end == 0)
            return w;
        const qint32 raw = quint16(GetLE16(reinterpret_cast<const quint8*>(block.constData()) + 16));
        // Made against the block's own bytes: against the file's it decodes to others.
        const qint64 length = qMin<qint64>(b->end, raw);
        const QByteArray other = content.mid(b->offset, length);
        BlockCompressor zstd;
        const QByteArray frame = zstd.Compress(QByteArrayView(content).sliced(b->offset, raw), other, 3);
        QByteArray lengthField(4, '\0');
        PutLE32(reinterpret_cast<quint8*>(lengthField.data()), qint32(length));
        forgedNr = b->nr;
        return StuffForWrite(BuildDataBlock(BLOCK_DATA_REFERENCED, b->nr, block.mid(12, 10) + lengthField + frame,
                                            BlockCheck::Crc32Block));
    };
    Run({"t.txt"});
    ASSERT_TRUE(SenderDone());
    ASSERT_NE(forgedNr, 0);
    EXPECT_EQ(Received("t.txt"), content);
    bool refused = false;
    for (const QByteArray& a : Blocks(rx->port))
        refused |= quint8(a[1]) == ANSWER_NOT_OK && Le32(a, 2) == forgedNr;
    EXPECT_TRUE(refused);
}

// An earlier Velotrax offers 7 and, as a Receiver, reads 15 as 7: blocks go
// compressed alone, and the file arrives either way.
TEST_F(ExtendedFixture, APeerWithoutReferencesGetsBlocksCompressedAlone)
{
    const QByteArray content = Text(3000);
    WriteFile(Source("t.txt"), content);
    enum { Both, SenderAlone, ReceiverAlone };
    for (int c : {Both, SenderAlone, ReceiverAlone}) {
        SCOPED_TRACE(c);
        NewPair();
        tx->g.compressReference = c != SenderAlone;
        rx->g.compressReference = c != ReceiverAlone;
        Run({"t.txt"});
        ASSERT_TRUE(SenderDone());
        EXPECT_EQ(Received("t.txt"), content);
        const QByteArray header = Blocks(tx->port)[0];
        EXPECT_TRUE(header.contains(c == SenderAlone ? "|VX1|7|" : "|VX1|15|"));
        EXPECT_EQ(SentType(tx->port, BLOCK_DATA_REFERENCED), c == Both);
        EXPECT_TRUE(SentType(tx->port, BLOCK_DATA_COMPRESSED));
    }
}

// Answers carry no check, and ANSWER_NOT_OK (91) damaged in its lowest bit
// reads as ANSWER_OK (90): the Sender counts a refused block as taken. The
// Receiver then refuses every block compressed against the bytes it lacks,
// until the Sender asks where it is and sends them again.
TEST_F(ExtendedFixture, ARefusalReadAsAcceptanceIsMadeGood)
{
    const QByteArray content = Text(2000);
    WriteFile(Source("t.txt"), content);
    qint32 damagedNr = 0;
    bool misread = false;
    tx->port.lineFilter = [&](const QByteArray& w) {
        const std::optional<Referenced> b = ReadReferenced(Unstuffed(w));
        if (damagedNr != 0 || !b || b->offset < 8192)
            return w;
        damagedNr = b->nr;
        QByteArray damaged = w;
        Nudge(damaged, 14, 1);  // past the length field: the check field or the payload
        return damaged;
    };
    rx->port.lineFilter = [&](const QByteArray& w) {
        const QByteArray a = Unstuffed(w);
        if (misread || damagedNr == 0 || a.size() != 6 || quint8(a[1]) != ANSWER_NOT_OK || Le32(a, 2) != damagedNr)
            return w;
        misread = true;
        QByteArray flipped = w;
        flipped[2] = char(ANSWER_OK);
        return flipped;
    };
    Run({"t.txt"});
    ASSERT_TRUE(SenderDone());
    ASSERT_TRUE(misread);
    EXPECT_EQ(tx->ui.status2, "Files sent: 1");
    EXPECT_EQ(Received("t.txt"), content);
}
