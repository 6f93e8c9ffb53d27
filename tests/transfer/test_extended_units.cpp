// The pure parts of the extended mode: the negotiation values and the Sender's window.
#include "Block.h"
#include "CompressionPace.h"
#include "Negotiation.h"
#include "SendWindow.h"
#include <gtest/gtest.h>

TEST(Negotiation, AcceptanceNeverLooksLikeASequenceNumberAndCarriesItsTerms)
{
    const qint32 v = Negotiation::AcceptanceValue(3, 32000);
    EXPECT_LT(v, 0);
    const Capabilities c = Negotiation::ReadAcceptance(v);
    EXPECT_TRUE(c.extended && c.streaming && c.compression);
    EXPECT_EQ(c.check, BlockCheck::Crc32);
    EXPECT_EQ(c.largestPayload, 32000);
    for (qint32 nr : {0, 1, 2, 4095, 65535, 0x7FFFFFFF, -1})
        EXPECT_FALSE(Negotiation::IsAcceptance(nr)) << nr;
    EXPECT_FALSE(Negotiation::ReadAcceptance(Negotiation::AcceptanceValue(1, 100000)).compression);
    EXPECT_EQ(Negotiation::ReadAcceptance(Negotiation::AcceptanceValue(1, 100000)).largestPayload, 32767);
}

TEST(Negotiation, OfferIsReadOnlyFromItsOwnFields)
{
    EXPECT_EQ(Negotiation::ReadOffer(Negotiation::OfferFields(true, true).split(u'|')), 15u);
    EXPECT_EQ(Negotiation::ReadOffer(Negotiation::OfferFields(true, false).split(u'|')), 7u);
    EXPECT_EQ(Negotiation::ReadOffer(Negotiation::OfferFields(false, true).split(u'|')), 5u);
    EXPECT_EQ(Negotiation::ReadOffer(Negotiation::OfferFields(true, true, true).split(u'|')), 31u);
    EXPECT_EQ(Negotiation::ReadOffer({QStringLiteral("VX1"), QStringLiteral("255")}), 63u);  // unknown bits dropped
    EXPECT_EQ(Negotiation::ReadOffer({}), 0u);
    EXPECT_EQ(Negotiation::ReadOffer({QStringLiteral("VX1"), QStringLiteral("x")}), 0u);
    EXPECT_EQ(Negotiation::ReadOffer({QStringLiteral("VX1"), QStringLiteral("2")}), 0u);
    EXPECT_EQ(Negotiation::ReadOffer({QStringLiteral("VX2"), QStringLiteral("1")}), 0u);
    EXPECT_FALSE(Negotiation::Agreed(3, false, true, 8000).compression);
    EXPECT_FALSE(Negotiation::Agreed(0, true, true, 8000).extended);
    // A reference comes only with compression, and only where both sides allow it.
    EXPECT_FALSE(Negotiation::Agreed(13, true, true, 8000).reference);
    EXPECT_FALSE(Negotiation::Agreed(15, false, true, 8000).reference);
    EXPECT_FALSE(Negotiation::Agreed(15, true, false, 8000).reference);
    EXPECT_TRUE(Negotiation::Agreed(15, true, true, 8000).reference);
    EXPECT_EQ(quint32(Negotiation::AcceptanceValue(Negotiation::Agreed(15, true, true, 8000))), 0xD65F1F40u);
    // Flags from 16 on sit above the first four, read against 5: an earlier copy's form stays as it was.
    const qint32 wide = Negotiation::AcceptanceValue(Negotiation::Agreed(31, true, true, 8000));
    EXPECT_EQ(quint32(wide), 0xD64F1F40u);
    EXPECT_TRUE(Negotiation::ReadAcceptance(wide).wide);
    EXPECT_FALSE(Negotiation::ReadAcceptance(Negotiation::AcceptanceValue(15, 8000)).wide);
}

// Folders (32) sit with wide positions above the first four flags; accepted only where offered.
TEST(Negotiation, TheFoldersFlagIsAcceptedOnlyWhereOffered)
{
    const Capabilities folders = Negotiation::Agreed(15 | 32, true, true, Negotiation::kLargestPayload);
    EXPECT_TRUE(folders.folders && folders.reference && !folders.wide);
    EXPECT_FALSE(Negotiation::Agreed(15, true, true, Negotiation::kLargestPayload).folders);
    const qint32 v = Negotiation::AcceptanceValue(folders);
    EXPECT_EQ(quint32(v), 0xD67F7FFFu);
    EXPECT_EQ(quint32(Negotiation::AcceptanceValue(Negotiation::Agreed(63, true, true, 8000))), 0xD66F1F40u);
    QString why;
    ASSERT_TRUE(Negotiation::Honour(v, 47, why));
    EXPECT_TRUE(Negotiation::Honour(v, 47, why)->folders);
    EXPECT_FALSE(Negotiation::Honour(v, 15, why));
    EXPECT_EQ(why, "it accepted flags 47 where 15 were offered");
}

TEST(Negotiation, AnAcceptanceBindsTheSenderToWhatItOffered)
{
    QString why;
    const auto checked = Negotiation::Honour(Negotiation::AcceptanceValue(5, 32767), 5, why);
    ASSERT_TRUE(checked);
    EXPECT_EQ(checked->check, BlockCheck::Crc32Block);
    EXPECT_FALSE(checked->compression);
    // An earlier Velotrax accepts without the checked blocks: the payload's CRC then.
    EXPECT_EQ(Negotiation::Honour(Negotiation::AcceptanceValue(1, 4000), 7, why)->check, BlockCheck::Crc32);

    EXPECT_FALSE(Negotiation::Honour(Negotiation::AcceptanceValue(7, 32767), 5, why));
    EXPECT_EQ(why, "it accepted flags 7 where 5 were offered");
    EXPECT_FALSE(Negotiation::Honour(Negotiation::AcceptanceValue(4, 32767), 5, why));
    EXPECT_FALSE(Negotiation::Honour(Negotiation::AcceptanceValue(13, 32767), 15, why));
    EXPECT_EQ(why, "it accepted flags 13: compression against a reference without compression");
    for (quint32 largest : {0u, 255u, 40000u}) {
        EXPECT_FALSE(Negotiation::Honour(qint32(0xD6550000u | largest), 5, why)) << largest;
        EXPECT_EQ(why, QString("it announced a largest payload of %1 bytes, outside 256 to 32767").arg(largest));
    }
}

TEST(Negotiation, ACheckedBlockFailsOnADamagedNumberThePayloadCrcMisses)
{
    // A lost byte of a stuffed pair damages both copies of the number alike.
    const auto damage = [](QByteArray block) {
        block[4] = char(block[4] ^ 0x02);
        block[block.size() - 2] = char(block[block.size() - 2] ^ 0x02);
        return block;
    };
    const QByteArray checked = BuildDataBlock(13, 41, "offset and bytes", BlockCheck::Crc32Block);
    EXPECT_TRUE(CheckMatches(*ParseDataBlock(checked), BlockCheck::Crc32Block));
    const Block b = *ParseDataBlock(damage(checked));
    EXPECT_EQ(b.sequenceNrA, 41 + 0x20000);
    EXPECT_EQ(b.sequenceNrA, b.sequenceNrB);
    EXPECT_FALSE(CheckMatches(b, BlockCheck::Crc32Block));
    const QByteArray payloadOnly = BuildDataBlock(13, 41, "offset and bytes", BlockCheck::Crc32);
    EXPECT_TRUE(CheckMatches(*ParseDataBlock(damage(payloadOnly)), BlockCheck::Crc32));
}

namespace {
// Sends what the window allows, numbering from nr on; returns the blocks sent.
std::vector<SendWindow::Block> Pump(SendWindow& w, qint32& nr, qint64 nowMs = 0)
{
    std::vector<SendWindow::Block> sent;
    while (w.CanSend()) {
        SendWindow::Block b = w.Next();
        b.lineBytes = b.length + 17;
        w.Sent(++nr, b, nowMs);
        b.nr = nr;
        sent.push_back(b);
    }
    return sent;
}
}  // namespace

TEST(SendWindow, StreamsToTheFileEndAndNeverPastIt)
{
    SendWindow w;
    w.Start(10000, 0, 32000, 11520);
    qint32 nr = 5;
    qint64 covered = 0;
    bool endSeen = false;
    for (int round = 0; round < 100 && !w.Done(); ++round) {
        for (const auto& b : Pump(w, nr)) {
            EXPECT_FALSE(endSeen);
            EXPECT_EQ(b.offset, covered);
            EXPECT_LE(b.offset + b.length, 10000);
            covered += b.length;
            endSeen = b.fileEnd;
            EXPECT_NE(w.Ok(b.nr, 0), SendWindow::Answer::Ignored);
        }
    }
    EXPECT_TRUE(w.Done());
    EXPECT_TRUE(endSeen);
    EXPECT_EQ(covered, 10000);
}

TEST(SendWindow, OnlyARefusedOrLostBlockGoesAgainAndStaleAnswersAreIgnored)
{
    SendWindow w;
    w.Start(1 << 20, 0, 32000, 11520);
    qint32 nr = 0;
    const auto first = Pump(w, nr);
    ASSERT_GE(first.size(), 2u);
    EXPECT_TRUE(w.NotOk(first[0].nr));
    EXPECT_FALSE(w.NotOk(first[0].nr));                       // that copy is answered already
    EXPECT_EQ(w.Ok(999, 0), SendWindow::Answer::Ignored);    // never sent
    EXPECT_EQ(w.Ok(first[1].nr, 0), SendWindow::Answer::Taken);
    EXPECT_EQ(w.Taken(), first[0].offset);                    // the refused bytes are still missing
    const auto again = Pump(w, nr);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0].offset, first[0].offset);             // they go first
    EXPECT_EQ(again[0].length, first[0].length);
    EXPECT_GT(again[1].offset, first[1].offset);             // then new bytes, not a repeat
    // The answer to a later block shows the earlier one's was lost: it goes again.
    EXPECT_EQ(w.Ok(again[1].nr, 0), SendWindow::Answer::Taken);
    EXPECT_EQ(w.Next().offset, first[0].offset);
    EXPECT_EQ(w.Ok(again[0].nr, 0), SendWindow::Answer::Ignored);
}

TEST(SendWindow, BlocksShrinkWithFailuresAndGrowBackAsTheyFade)
{
    SendWindow w;
    w.Start(qint64(1) << 30, 0, 16384, 92160);
    qint32 nr = 0;
    for (int i = 0; i < 10; ++i) {
        Pump(w, nr);
        w.GoBack();
    }
    EXPECT_LT(w.BlockSize(), 512);  // ten failures in a few kB: small blocks pay best
    for (int i = 0; i < 400; ++i)
        for (const auto& b : Pump(w, nr))
            w.Ok(b.nr, 0);
    EXPECT_LT(w.BlockSize(), 4096);
    for (int i = 0; i < 20000 && w.BlockSize() < 16384; ++i)
        for (const auto& b : Pump(w, nr))
            w.Ok(b.nr, 0);
    EXPECT_EQ(w.BlockSize(), 16384);
}

TEST(SendWindow, ARefusalOfABlockThatLeanedOnAFailedOneIsNoFailureOfItsOwn)
{
    SendWindow w;
    w.Start(1 << 20, 0, 4096, 11520);
    qint32 nr = 0;
    std::vector<SendWindow::Block> sent;
    for (int i = 0; i < 3; ++i) {
        SendWindow::Block b = w.Next();
        b.lineBytes = 200;
        b.leansOnFlight = i > 0;
        w.Sent(++nr, b, 0);
        sent.push_back(b);
    }
    EXPECT_FALSE(w.FailedLately());
    ASSERT_TRUE(w.NotOk(2));  // block 1 was lost: the first refusal is a failure
    EXPECT_FALSE(w.RefusalFollowed());
    EXPECT_TRUE(w.FailedLately());
    ASSERT_TRUE(w.NotOk(3));  // block 3 leaned on them
    EXPECT_TRUE(w.RefusalFollowed());
    EXPECT_EQ(w.Next().offset, 0);
    EXPECT_EQ(w.SentUpTo(), 0);
}

TEST(CompressionPace, TheLevelFollowsTheLineAndTheMeasuredTime)
{
    CompressionPace slow, fast;
    slow.Start(11520);
    fast.Start(92160);
    EXPECT_EQ(slow.Level(), 19);
    EXPECT_EQ(fast.Level(), 12);
    // A block of 6000 line bytes takes 65 ms at 921600: 40 ms compressing is
    // too much, down to where it would fit; 2 ms leaves room, one step a block.
    fast.Compressed(32000, 6000, 40'000'000);
    EXPECT_EQ(fast.Level(), 6);
    fast.Compressed(32000, 6000, 2'000'000);
    fast.Compressed(32000, 6000, 2'000'000);
    EXPECT_EQ(fast.Level(), 12);
    for (int i = 0; i < 10; ++i)
        fast.Compressed(32000, 6000, 7'000'000);
    EXPECT_EQ(fast.Level(), 12) << "a tenth of the line time at 12 would be too much at 16";
}
