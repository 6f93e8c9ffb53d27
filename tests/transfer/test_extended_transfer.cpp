// Two Velotrax stations in the extended mode on the in-memory cable.
#include "ErrorNumbers.h"
#include "ExtendedFixture.h"
#include "Negotiation.h"
#include "RestartFile.h"


TEST_F(ExtendedFixture, TheModeIsUsedOnlyWhenBothSidesTakePart)
{
    const QByteArray content = RandomBytes(20000, 1);
    WriteFile(Source("a.bin"), content);
    enum { Both, ClassicReceiver, ClassicSender };
    for (int c : {Both, ClassicReceiver, ClassicSender}) {
        SCOPED_TRACE(c);
        NewPair();
        rx->g.classicOnly = c == ClassicReceiver;
        tx->g.classicOnly = c == ClassicSender;
        Run({"a.bin"});
        ASSERT_TRUE(SenderDone());
        EXPECT_EQ(tx->ui.status2, "Files sent: 1");
        EXPECT_EQ(Received("a.bin"), content);
        const QByteArray header = Blocks(tx->port)[0];
        // size|date|name, then VX1|flags and the run (index|count|before|total) only where offered.
        EXPECT_EQ(header.mid(12, header.size() - 16).count('|'), c == ClassicSender ? 2 : 8);
        const qint32 firstAnswer = Le32(Blocks(rx->port)[0], 2);
        EXPECT_EQ(Negotiation::IsAcceptance(firstAnswer), c == Both);
        if (c != Both) {
            EXPECT_EQ(firstAnswer, 0);  // k - 1 for the header numbered 1
            EXPECT_FALSE(SentType(tx->port, BLOCK_FILE_END));
        }
    }
}

TEST_F(ExtendedFixture, OppositeFlipsTheSumMissesAreCaughtByTheCrc)
{
    const QByteArray content = RandomBytes(20000, 2);
    WriteFile(Source("a.bin"), content);
    int writes = 0;
    tx->port.lineFilter = [&writes](const QByteArray& w) {
        QByteArray out = w;
        if (++writes == 3) {  // the second data block
            Nudge(out, out.size() / 3, +1);
            Nudge(out, 2 * out.size() / 3, -1);
        }
        return out;
    };
    Run({"a.bin"});
    ASSERT_TRUE(SenderDone());
    EXPECT_EQ(Received("a.bin"), content);
    EXPECT_GE(BoxCount(rx->ui, "IncorrectChecksum"), 1);
}

TEST_F(ExtendedFixture, RestartAFileKeepsMatchingBytesAndDropsDifferentOnes)
{
    const QByteArray content = RandomBytes(40000, 3);
    WriteFile(Source("big.bin"), content);
    for (bool wrongByte : {false, true}) {
        SCOPED_TRACE(wrongByte);
        NewPair();
        QByteArray prefix = content.left(30000);
        if (wrongByte)
            prefix[1234] = char(prefix[1234] ^ 0x5a);
        WriteFile(rx->InReceivePath("_big.bin.tmp"), prefix);
        Run({"big.bin"}, true);
        ASSERT_TRUE(SenderDone());
        EXPECT_EQ(tx->ui.status2, "Files sent: 1");
        EXPECT_EQ(Received("big.bin"), content);
        EXPECT_EQ(tx->port.written.size() < content.size(), !wrongByte);
        EXPECT_EQ(rx->ui.status2History.filter("differ").size(), wrongByte ? 1 : 0);
    }
}

// The receiver's port fails with answers lost; a new instance in the same
// program folder resumes, with or without a byte changed in the kept bytes.
TEST_F(ExtendedFixture, AutomaticResumptionStaysExtended)
{
    // The port fails in the compressed first part of the file.
    const QByteArray content = Text(800) + RandomBytes(30000, 4);
    WriteFile(Source("big.bin"), content);
    for (bool wrongByte : {false, true}) {
        SCOPED_TRACE(wrongByte);
        NewPair();
        RunUntilTheReceiversPortFails({"big.bin"});
        ASSERT_FALSE(rx->port.PortOpen());
        EXPECT_TRUE(ReadFile(RestartFilePath(rx->g.RestartDir())).contains("\r\nEXTENDED: "));
        if (wrongByte) {
            QFile temp(rx->InReceivePath("_big.bin.tmp"));
            ASSERT_TRUE(temp.open(QIODevice::ReadWrite));
            temp.seek(100);
            temp.write(QByteArray(1, char(content[100] ^ 0x33)));
        }
        StationHarness again(true, rx->g.programDir, &tx->port);
        ASSERT_TRUE(WaitFor([&] { return !tx->port.PortOpen(); }, 8000));
        EXPECT_EQ(tx->ui.status2, "Files sent: 1");
        EXPECT_EQ(Received("big.bin"), content);
        EXPECT_EQ(again.ui.status2History.filter("differ").size(), wrongByte ? 1 : 0);
    }
}

// One write lost on the line at a chosen point of a two-file run.
enum class Lost { DataBlock, FileEnd, AnswerToFileEnd, NextHeader, EndHeader };

class LostWrite : public ExtendedFixture, public ::testing::WithParamInterface<Lost> {};

TEST_P(LostWrite, EveryFileArrivesWithoutError)
{
    const QByteArray a = RandomBytes(30000, 5), b = RandomBytes(3000, 6);
    WriteFile(Source("a.bin"), a);
    WriteFile(Source("b.bin"), b);
    const Lost lost = GetParam();
    int dataBlocks = 0;
    qint32 fileEndNr = 0;
    bool dropped = false;
    auto dropOnce = [&dropped](bool here, const QByteArray& w) {
        const bool drop = here && !dropped;
        dropped = dropped || drop;
        return drop ? QByteArray() : w;
    };
    tx->port.lineFilter = [&](const QByteArray& w) {
        const QByteArray block = Unstuffed(w);
        const int type = quint8(block[1]);
        if (type == BLOCK_DATA)
            ++dataBlocks;
        if (type == BLOCK_FILE_END && fileEndNr == 0)
            fileEndNr = Le32(block, 2);
        return dropOnce((lost == Lost::DataBlock && dataBlocks == 2)
                            || (lost == Lost::FileEnd && type == BLOCK_FILE_END)
                            || (lost == Lost::NextHeader && type == BLOCK_HEADER && fileEndNr != 0)
                            || (lost == Lost::EndHeader && block.mid(12, 3) == "END"),
                        w);
    };
    rx->port.lineFilter = [&](const QByteArray& w) {
        const QByteArray answer = Unstuffed(w);
        return dropOnce(lost == Lost::AnswerToFileEnd && fileEndNr != 0 && quint8(answer[1]) == ANSWER_OK
                            && Le32(answer, 2) == fileEndNr,
                        w);
    };
    Run({"a.bin", "b.bin"});
    ASSERT_TRUE(SenderDone());
    EXPECT_TRUE(dropped);
    EXPECT_EQ(tx->ui.status2, "Files sent: 2");
    EXPECT_EQ(Received("a.bin"), a);
    EXPECT_EQ(Received("b.bin"), b);
    EXPECT_TRUE(tx->ui.boxes.empty()) << tx->ui.BoxTexts().join('|').toStdString();
    for (const RecordingUi::Box& box : rx->ui.boxes)
        EXPECT_EQ(box.icon, MsgIcon::Information) << box.text.toStdString();  // the counters at "END"
}

INSTANTIATE_TEST_SUITE_P(OneWrite, LostWrite,
                         ::testing::Values(Lost::DataBlock, Lost::FileEnd, Lost::AnswerToFileEnd, Lost::NextHeader,
                                           Lost::EndHeader));

TEST_F(ExtendedFixture, StopFromEitherSideWhileBlocksAreInFlight)
{
    WriteFile(Source("big.bin"), RandomBytes(60000, 7));
    for (bool senderStops : {true, false}) {
        SCOPED_TRACE(senderStops);
        NewPair();
        rx->port.lineFilter = [this](const QByteArray& w) {
            if (rx->s().FileReceivingPos > 5000)
                tx->port.hold = true;
            return w;
        };
        Run({"big.bin"});
        ASSERT_TRUE(WaitFor([&] { return !tx->port.held.isEmpty(); }, 5000));
        StationHarness& stopper = senderStops ? *tx : *rx;
        StationHarness& other = senderStops ? *rx : *tx;
        stopper.station->StopByUser();
        tx->port.hold = false;
        tx->port.InjectBytes(std::exchange(tx->port.held, {}));  // the Stop among the late answers
        ASSERT_TRUE(WaitFor([&] { return other.ui.status2 == "other side pressed Stop"; }, 5000));
        EXPECT_GT(QFileInfo(rx->InReceivePath("_big.bin.tmp")).size(), 5000);
        EXPECT_FALSE(QFile::exists(rx->InReceivePath("big.bin")));
    }
}

TEST_F(ExtendedFixture, TempFileChangedOnDiskFailsTheWholeFileCheck)
{
    const QByteArray content = RandomBytes(200000, 8);
    WriteFile(Source("big.bin"), content);
    int answers = 0;
    rx->port.lineFilter = [&](const QByteArray& w) {
        if (++answers == 20) {  // byte 50 went to the disk long ago (the write buffer holds 16 kB)
            QFile temp(rx->InReceivePath("_big.bin.tmp"));
            if (temp.open(QIODevice::ReadWrite) && temp.seek(50))
                temp.write(QByteArray(1, char(content[50] ^ 0x01)));
        }
        return w;
    };
    Run({"big.bin"});
    ASSERT_TRUE(SenderDone());
    const QString text = QString::fromLatin1("File check failed: the file received differs from the file sent");
    EXPECT_TRUE(tx->ui.SawBoxContaining("ERROR from other side: " + text)) << tx->ui.BoxTexts().join('|').toStdString();
    EXPECT_EQ(rx->ui.status2, text);
    EXPECT_EQ(quint8(Blocks(rx->port).back()[1]), ANSWER_ERROR);
    EXPECT_EQ(Le32(Blocks(rx->port).back(), 2), ErrorNr::FileCheckFailed);
    EXPECT_EQ(QFileInfo(rx->InReceivePath("_big.bin.tmp")).size(), content.size());
    EXPECT_FALSE(QFile::exists(rx->InReceivePath("big.bin")));
}

TEST_F(ExtendedFixture, OnlyCompressibleBlocksTravelCompressed)
{
    const QByteArray random = RandomBytes(20000, 9), text = Text(1000);
    WriteFile(Source("random.bin"), random);
    WriteFile(Source("text.txt"), text);
    Run({"random.bin", "text.txt"});
    ASSERT_TRUE(SenderDone());
    EXPECT_EQ(Received("random.bin"), random);
    EXPECT_EQ(Received("text.txt"), text);
    int file = 0;
    bool compressed[3] = {};
    for (const QByteArray& b : Blocks(tx->port)) {
        file += quint8(b[1]) == BLOCK_HEADER;
        compressed[qMin(file, 2)] |= quint8(b[1]) == BLOCK_DATA_COMPRESSED;
    }
    EXPECT_FALSE(compressed[1]);
    EXPECT_TRUE(compressed[2]);

    for (bool senderOff : {true, false}) {
        SCOPED_TRACE(senderOff);
        NewPair();
        (senderOff ? tx : rx)->g.compress = false;
        Run({"text.txt"});
        ASSERT_TRUE(SenderDone());
        EXPECT_EQ(Received("text.txt"), text);
        EXPECT_TRUE(SentType(tx->port, BLOCK_FILE_END));  // extended all the same
        EXPECT_FALSE(SentType(tx->port, BLOCK_DATA_COMPRESSED));
    }
}

TEST_F(ExtendedFixture, DamagedCompressedBlockIsRefusedAndSentAgain)
{
    const QByteArray text = Text(2000);
    WriteFile(Source("text.txt"), text);
    bool damaged = false;
    tx->port.lineFilter = [&damaged](const QByteArray& w) {
        QByteArray out = w;
        if (!damaged && quint8(Unstuffed(w)[1]) == BLOCK_DATA_COMPRESSED) {
            Nudge(out, out.size() / 2, +1);
            damaged = true;
        }
        return out;
    };
    Run({"text.txt"});
    ASSERT_TRUE(SenderDone());
    ASSERT_TRUE(damaged);
    EXPECT_EQ(Received("text.txt"), text);
    EXPECT_GE(BoxCount(rx->ui, "IncorrectChecksum"), 1);
}

namespace {
// Damages both copies of a data block's number alike (+0x20000), as a lost
// byte of a stuffed pair does; the rest of the block is left as it was.
QByteArray DamageNumbers(const QByteArray& write)
{
    QByteArray b = Unstuffed(write);
    b[4] = char(b[4] ^ 0x02);
    b[b.size() - 2] = char(b[b.size() - 2] ^ 0x02);
    return StuffForWrite(b);
}

// The header offered as an earlier Velotrax did: without checked blocks.
QByteArray OfferWithoutCheckedBlocks(const QByteArray& write)
{
    const QByteArray b = Unstuffed(write);
    const std::optional<Block> h = ParseDataBlock(b);
    if (!h || h->type != BLOCK_HEADER || !h->payload.endsWith("|VX1|7"))
        return write;
    QByteArray text = h->payload.toByteArray();
    text.chop(1);
    return StuffForWrite(BuildDataBlock(BLOCK_HEADER, h->sequenceNrA, text + "3"));
}
}  // namespace

TEST_F(ExtendedFixture, ABlockWhoseNumbersAreDamagedAlikeIsRefusedNotTaken)
{
    const QByteArray content = RandomBytes(60000, 11);
    WriteFile(Source("n.bin"), content);
    for (bool checkedBlocks : {true, false}) {
        SCOPED_TRACE(checkedBlocks);
        NewPair();
        int dataBlocks = 0;
        tx->port.lineFilter = [&](const QByteArray& w) {
            const quint8 type = quint8(Unstuffed(w)[1]);
            if (type == BLOCK_DATA && ++dataBlocks == 3)
                return DamageNumbers(w);
            return checkedBlocks ? w : OfferWithoutCheckedBlocks(w);
        };
        Run({"n.bin"});
        ASSERT_TRUE(SenderDone());
        EXPECT_EQ(tx->ui.status2, "Files sent: 1") << tx->ui.BoxTexts().join('\n').toStdString();
        EXPECT_EQ(Received("n.bin"), content);
        EXPECT_EQ(rx->s().caps.check, BlockCheck::Sum);  // back to part 1 after the file
    }
}

TEST_F(ExtendedFixture, AnAcceptanceOutsideTheOfferEndsTheRunAtOnce)
{
    WriteFile(Source("a.bin"), RandomBytes(5000, 3));
    const struct {
        quint32 value;
        const char* why;
    } answers[] = {
        {0xD6570000u | 32767, "it accepted flags 7 where 5 were offered"},  // compression, refused by --no-compress
        {0xD6540000u | 32767, "it accepted flags 4 where 5 were offered"},
        {0xD6550000u | 255, "it announced a largest payload of 255 bytes, outside 256 to 32767"},
        {0xD6550000u | 40000, "it announced a largest payload of 40000 bytes, outside 256 to 32767"},
    };
    for (const auto& a : answers) {
        SCOPED_TRACE(a.why);
        NewPair();
        tx->g.compress = false;
        rx->port.lineFilter = [&](const QByteArray& w) {
            const QByteArray b = Unstuffed(w);
            const std::optional<Block> ok = ParseAnswerBlock(b);
            return ok && ok->type == ANSWER_OK && Negotiation::IsAcceptance(ok->Value())
                       ? StuffForWrite(BuildAnswerBlock(ANSWER_OK, qint32(a.value)))
                       : w;
        };
        Run({"a.bin"});
        ASSERT_TRUE(SenderDone());
        EXPECT_TRUE(tx->ui.SawBoxContaining(QStringLiteral("The other side answered the extended-mode offer with 0x%1: %2")
                                                .arg(a.value, 8, 16, QLatin1Char('0'))
                                                .arg(a.why)))
            << tx->ui.BoxTexts().join('\n').toStdString();
        EXPECT_EQ(tx->ui.outcomes.back(), RunOutcome::Failed(ErrorNr::AcceptanceNotHonoured, RunOutcome::Side::Here));
        EXPECT_FALSE(SentType(tx->port, BLOCK_DATA));
        ASSERT_TRUE(WaitFor([&] { return !rx->port.PortOpen(); }));
        EXPECT_TRUE(rx->ui.SawBoxContaining("ERROR from other side: Extended mode: the receiver's acceptance is not what was offered"));
    }
}

TEST_F(ExtendedFixture, AHeaderSizeTheReceiverCannotTakeIsRefusedAtOnce)
{
    for (const QByteArray& size : {QByteArray("99999999999"), QByteArray("2147483647"), QByteArray("12kB")}) {
        SCOPED_TRACE(size.toStdString());
        NewPair();
        rx->station->Activate(false);
        rx->port.InjectBytes(StuffForWrite(BuildDataBlock(BLOCK_HEADER, 1, size + "|20200101000000|big.bin|VX1|5")));
        ASSERT_TRUE(WaitFor([&] { return !rx->port.PortOpen(); }));
        EXPECT_EQ(Blocks(rx->port).back(), BuildAnswerBlock(ANSWER_ERROR, ErrorNr::SizeNotReceivable));
        EXPECT_TRUE(rx->ui.SawBoxContaining("Cannot receive 'big.bin': its size '" + size
                                            + "' is not a number of bytes up to 2147483646"));
        EXPECT_FALSE(QFile::exists(rx->InReceivePath("_big.bin.tmp")));
    }
}

TEST_F(ExtendedFixture, BothSidesKnowTheRunWhereTheSenderCanSayIt)
{
    WriteFile(Source("one.bin"), RandomBytes(7000, 1));
    WriteFile(Source("two.bin"), RandomBytes(5000, 2));
    for (bool classic : {false, true}) {
        SCOPED_TRACE(classic);
        NewPair();
        if (classic)
            pair->Classic();  // as with the original program: its headers say nothing of the run
        FileProgress seenByRx, seenByTx;
        tx->port.lineFilter = [&](const QByteArray& w) {
            const bool second = tx->station->Sender().Run().fileIndex == 2;
            if (second && quint8(Unstuffed(w)[1]) != BLOCK_HEADER && !seenByRx.moving) {
                seenByRx = rx->station->Progress();
                seenByTx = tx->station->Progress();
            }
            return w;
        };
        Run({"one.bin", "two.bin"});
        ASSERT_TRUE(SenderDone());
        ASSERT_TRUE(seenByRx.moving);
        EXPECT_EQ(seenByTx.Index(), 2);
        EXPECT_EQ(seenByTx.runTotal, 12000);
        EXPECT_GE(seenByTx.runDone, 7000);
        EXPECT_EQ(seenByRx.count, classic ? 0 : 2);
        EXPECT_EQ(seenByRx.Index(), 2);
        EXPECT_EQ(seenByRx.runTotal, classic ? 0 : 12000);
        EXPECT_EQ(seenByRx.runDone, classic ? 0 : 7000 + seenByRx.done);
    }
    // Fields that cannot describe a run are no run at all.
    EXPECT_TRUE(Negotiation::ReadRunTotals({"2", "3", "100", "300"}).Known());
    for (const QStringList& bad : {QStringList{"4", "3", "0", "1"}, QStringList{"1", "1", "5", "4"},
                                   QStringList{"1", "x", "0", "0"}, QStringList{"1", "1"}})
        EXPECT_FALSE(Negotiation::ReadRunTotals(bad).Known()) << bad.join('|').toStdString();
}
