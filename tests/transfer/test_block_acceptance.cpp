#include "DebugLog.h"
#include "Frame.h"
#include "BlockAcceptance.h"
#include "ResendReasons.h"
#include "Fso.h"
#include "HandBuiltBlocks.h"
#include "MemoryCommPort.h"
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct FakeHooks : AcceptanceHooks {
    std::vector<qint32> localErrors, remoteErrors;
    std::vector<Block> toReceiver, toSender;  // fields only: the views end with the hand-over
    QStringList criticals;
    int stops = 0;
    void ReportLocalError(qint32 nr) override { localErrors.push_back(nr); }
    void ReportRemoteError(qint32 nr) override { remoteErrors.push_back(nr); }
    void ShowCritical(const QString& t) override { criticals << t; }
    // Like the real sides, a handled block ends with the frame reset.
    void HandOverToReceiver(const Block& b) override
    {
        toReceiver.push_back(b);
        if (takeNumbers)
            s->lastSequenceNr = b.sequenceNrA;
        rx->FrameReset();
    }
    void HandOverToSender(const Block& b) override { toSender.push_back(b); rx->FrameReset(); }
    BlockAcceptance* rx = nullptr;
    TransferState* s = nullptr;
    bool takeNumbers = false;  // take over each block's number, as the receiver side does
    void ReceiverGotStop() override { ++stops; }
    bool takeOutOfTurn = false;
    int outOfTurnOffers = 0;
    bool ReceiverTakesOutOfTurn(const Block&) override
    {
        ++outOfTurnOffers;
        return takeOutOfTurn;
    }
    void ReceiverRefusesExtended(qint32) override {}
    bool awaitsLostBlock = false;  // a resumption waits for the block lost with the port
    bool ReceiverAfterExtended() const override { return false; }
    bool ReceiverAwaitsLostBlock() const override { return awaitsLostBlock; }
    void ReceiverTookGoodBlock() override { awaitsLostBlock = false; }
    AnnouncedFile file;
    const AnnouncedFile& ReceiverFile() const override { return file; }
};

struct ReceiverFixture : ::testing::Test {
    QTemporaryDir dir;
    SessionConfig g;
    QString logFile;
    TransferState s;
    MemoryCommPort port;
    DebugLog log;
    FrameTransmitter tx{g, s, port, log};
    FakeHooks hooks;
    FrameReceiver frames{g, s, port, log, rx};
    BlockAcceptance rx{g, s, port, log, tx, frames, hooks};

    void SetUp() override
    {
        g.role = Role::Receiver;
        g.waitBeforeSend = 0;
        hooks.rx = &rx;
        hooks.s = &s;
        QString why;
        port.SetPortOpen(true, why);
        ResetTransferState(s);
        s.stage = Stage::Listening;
    }
    void BeSender()
    {
        g.role = Role::Sender;
        ResetTransferState(s);
        s.stage = Stage::Header;
    }
    void Feed(const QByteArray& wire) { frames.HandleReceivedBytes(wire); }
    // Answer codes this side has written so far.
    std::vector<int> AnswersSent() const
    {
        std::vector<int> codes;
        for (const QByteArray& w : port.written.split('\0')) {
            bool esc = false;
            const QByteArray block = UnstuffAll(w, esc);
            if (block.size() == 6 && block[0] == 'A')
                codes.push_back(quint8(block[1]));
        }
        return codes;
    }
    QString StartLog()
    {
        g.dumpBytes = true;
        logFile = BuildPath(dir.path(), "log.txt");
        EXPECT_TRUE(log.Open(logFile, dir.path(), nullptr));
        return logFile;
    }
    QString LogText()
    {
        QFile f(logFile);
        f.open(QIODevice::ReadOnly);
        return QString::fromLocal8Bit(f.readAll());
    }
};
}  // namespace

TEST_F(ReceiverFixture, PendingEscapeSurvivesFrameResetAndNextBlockStillArrives)
{
    // Two junk bytes and a lone escape, then the line falls silent: rejected, escape left pending.
    Feed(QByteArray("XY\x01", 3));
    rx.IncompleteBlockTimedOut();
    EXPECT_TRUE(s.gather.prevIsChr1);
    // The next write's lead byte is dropped and its 'H' taken after the "bad" escape.
    Feed(StuffForWrite(DataBlock(11, 1, "a|1|n")));
    ASSERT_EQ(hooks.toReceiver.size(), 1u);
    EXPECT_EQ(AnswersSent(), std::vector<int>{91});
}

TEST_F(ReceiverFixture, BlocksSharingAChunkAreAllHandled)
{
    hooks.takeNumbers = true;
    Feed(StuffForWrite(DataBlock(11, 1, "a|1|n")) + StuffForWrite(DataBlock(11, 2, "b|1|n"))
         + StuffForWrite(Answer(93, 0)));
    ASSERT_EQ(hooks.toReceiver.size(), 2u);
    EXPECT_EQ(hooks.toReceiver[1].sequenceNrA, 2);
    EXPECT_EQ(hooks.stops, 1);  // a Stop right behind a block is not lost

    BeSender();
    Feed(StuffForWrite(Answer(90, 0)) + StuffForWrite(Answer(99, 9)));
    EXPECT_EQ(hooks.toSender.size(), 1u);
    EXPECT_EQ(hooks.remoteErrors, std::vector<qint32>{9});

    // After a rejection the rest of the chunk is part of the bad write.
    hooks.toSender.clear();
    Feed(StuffForWrite(QByteArray("XYZXYZ")) + StuffForWrite(Answer(90, 0)));
    EXPECT_TRUE(hooks.toSender.empty());
}

TEST_F(ReceiverFixture, AcceptanceTestsAndTheirCounters)
{
    s.lastSequenceNr = 4;
    Feed(StuffForWrite(DataBlock(11, 6, "x|1|n")));  // a number ahead
    EXPECT_EQ(s.countIncorrectSeqnr, 1);
    QByteArray ab = DataBlock(11, 5, "x|1|n");
    ab[ab.size() - 4] = 6;  // copies differ
    Feed(StuffForWrite(ab));
    EXPECT_EQ(s.countIncorrectSeqnrAB, 1);
    Feed(StuffForWrite(DataBlock(11, 5, "x|1|n", 1)));
    EXPECT_EQ(s.countIncorrectChecksum, 1);
    Feed(StuffForWrite(DataBlock(13, 5, "data")));  // data between files
    EXPECT_EQ(s.countIncorrectBlockType, 1);
    Feed(StuffForWrite(DataBlock(13, 5, {})));  // empty block between files
    EXPECT_EQ(s.countNrBytesDataZero, 1);
    Feed(StuffForWrite(QByteArray("XYZXYZ")));
    EXPECT_EQ(s.count1NotHA, 1);
    EXPECT_TRUE(hooks.toReceiver.empty());
    EXPECT_EQ(AnswersSent(), std::vector<int>(6, 91));

    // A restart header is taken between files with any number.
    Feed(StuffForWrite(DataBlock(14, 77, "x|1|n")));
    ASSERT_EQ(hooks.toReceiver.size(), 1u);
    // Inside a file it is a wrong type, and an empty block passes without type and number tests.
    s.stage = Stage::InFile;
    Feed(StuffForWrite(DataBlock(14, 5, "x|1|n")));
    EXPECT_EQ(s.countIncorrectBlockType, 2);
    Feed(StuffForWrite(DataBlock(99 - 86, 1234, {})));
    EXPECT_EQ(hooks.toReceiver.size(), 2u);
}

TEST_F(ReceiverFixture, ErrorAndStopAnswersBypassTheTests)
{
    s.stage = Stage::InFile;
    Feed(StuffForWrite(Answer(99, 9)));
    EXPECT_EQ(hooks.remoteErrors, std::vector<qint32>{9});
    ResetTransferState(s);
    s.stage = Stage::Listening;
    Feed(StuffForWrite(Answer(93, 0)));
    EXPECT_EQ(hooks.stops, 1);
    EXPECT_TRUE(port.written.isEmpty());  // neither answered NOT OK
}

TEST_F(ReceiverFixture, ABlockTooLongForTheBufferIsNoiseWhileAHeaderIsAwaited)
{
    // The tail of an earlier run's 8 KiB extended block reaches a Receiver listening again.
    Feed(StuffForWrite(DataBlock(13, 40, QByteArray(8196, 'x'))));
    EXPECT_TRUE(hooks.localErrors.empty());
    EXPECT_EQ(AnswersSent(), std::vector<int>{91});
    Feed(StuffForWrite(DataBlock(11, 1, "5|20200101000000|n")));
    EXPECT_EQ(hooks.toReceiver.size(), 1u);

    // Inside a file's classic data phase it stays error 4.
    s.stage = Stage::InFile;
    Feed(StuffForWrite(DataBlock(13, 2, QByteArray(8196, 'x'))));
    EXPECT_EQ(hooks.localErrors, std::vector<qint32>{4});
}

TEST_F(ReceiverFixture, AnswerResendLimitCountsAcrossGoodBlocks)
{
    // The first header leaves a positive length, so requests are served.
    Feed(StuffForWrite(DataBlock(11, 1, "a|1|n")));
    s.lastSequenceNr = 1;
    tx.SendAnswer(90, 0);
    const qsizetype before = port.written.size();
    for (int i = 0; i < 10; ++i) {
        Feed(StuffForWrite(Answer(94, 0)));
        if (i == 4) {  // a good block in between does not clear the count
            Feed(StuffForWrite(DataBlock(11, 2, "b|1|n")));
            s.lastSequenceNr = 2;
        }
    }
    EXPECT_EQ(s.resendCount, 10);
    EXPECT_TRUE(hooks.localErrors.empty());
    EXPECT_GT(port.written.size(), before);
    Feed(StuffForWrite(Answer(94, 0)));
    EXPECT_EQ(hooks.localErrors, std::vector<qint32>{10});
}

TEST_F(ReceiverFixture, NegativeAndOddLengthsNeverReadOutsideTheBuffer)
{
    for (qint16 len : {qint16(-1), qint16(-8), qint16(-13), qint16(-14), qint16(-32768)}) {
        hooks.toReceiver.clear();
        s.stage = Stage::InFile;
        QByteArray b = DataBlock(13, 1, {});
        b[6] = char(quint16(len) & 0xff);
        b[7] = char(quint16(len) >> 8);
        Feed(StuffForWrite(b));
        EXPECT_TRUE(hooks.toReceiver.empty()) << len;
        EXPECT_EQ(s.gather.receiveBufCount, 0);
    }
    EXPECT_EQ(s.countNrBytesDataZero, 5);
}

TEST_F(ReceiverFixture, SenderHandsOverAnswersAndMeasuresDataBlocksAsEight)
{
    BeSender();
    Feed(StuffForWrite(Answer(90, 3)));
    ASSERT_EQ(hooks.toSender.size(), 1u);
    EXPECT_EQ(hooks.toSender[0].sequenceNrA, 3);
    Feed(StuffForWrite(QByteArray("XYZXYZ")));
    EXPECT_EQ(s.count1NotHA, 1);
    EXPECT_EQ(AnswersSent(), std::vector<int>{94});
    Feed(StuffForWrite(DataBlock(11, 1, "long payload")));
    EXPECT_EQ(hooks.toSender.size(), 2u);  // taken after 8 bytes
}

TEST_F(ReceiverFixture, CounterDumpAndResendReasonsText)
{
    StartLog();
    s.countIncorrectChecksum = 2;
    rx.FrameReset();
    EXPECT_TRUE(LogText().contains("Now:\r\nbyte 1 not A/H: 0\r\nNrBytesDataZero: 0\r\nIncorrectBlockType: 0\r\n"
                                   "Seqnr start/end diff: 0\r\nSeqnr not last+1: 0\r\nIncorrectChecksum: 2\r\n"
                                   "IncorrectSizDateFname: 0\r\nComerror: 0\r\n"));
    EXPECT_EQ(ResendReasonsText(s),
              "Resend-reasons: \r\nbyte 1 not A/H: 0\r\nNrBytesDataZero: 0\r\nIncorrectBlockType: 0\r\n"
              "Seqnr start/end diff: 0\r\nSeqnr not last+1: 0\r\nIncorrectChecksum: 2\r\n"
              "IncorrectSizDateFname: 0\r\nCommError: 0");
}

TEST_F(ReceiverFixture, SilenceInsideABlockRejectsItSoTheSenderResends)
{
    rx.IncompleteBlockTimedOut();  // nothing gathered: nothing to do
    EXPECT_TRUE(port.written.isEmpty());
    const QByteArray wire = StuffForWrite(DataBlock(11, 1, "abc|1|n"));
    Feed(wire.left(wire.size() - 3));  // the end was lost on the line
    EXPECT_TRUE(frames.BlockIncomplete());
    rx.IncompleteBlockTimedOut();
    EXPECT_EQ(AnswersSent(), std::vector<int>{91});
    EXPECT_FALSE(frames.BlockIncomplete());
    Feed(wire);  // the resend is taken
    EXPECT_EQ(hooks.toReceiver.size(), 1u);

    BeSender();
    port.written.clear();
    Feed(StuffForWrite(Answer(90, 0)).left(4));
    rx.IncompleteBlockTimedOut();
    EXPECT_EQ(AnswersSent(), std::vector<int>{94});
}

TEST_F(ReceiverFixture, AGoodCopyOfTheLastNumberIsOfferedToTheReceiverSideFirst)
{
    s.lastSequenceNr = 7;
    s.stage = Stage::InFile;
    s.gather.lastPayloadLength = 5;
    hooks.takeOutOfTurn = true;
    // Copies of the header, a data block and the empty block, all numbered 7.
    for (const QByteArray& copy : {DataBlock(11, 7, "x|1|n"), DataBlock(13, 7, "data"), DataBlock(13, 7, {})})
        Feed(StuffForWrite(copy));
    EXPECT_EQ(hooks.outOfTurnOffers, 3);
    EXPECT_TRUE(port.written.isEmpty());
    EXPECT_TRUE(hooks.toReceiver.empty());
    EXPECT_EQ(s.countIncorrectSeqnr + s.countIncorrectBlockType + s.countNrBytesDataZero, 0);

    // Declined, the copy is refused as any block out of turn; a damaged one is never offered.
    hooks.takeOutOfTurn = false;
    Feed(StuffForWrite(DataBlock(13, 7, "data")));
    Feed(StuffForWrite(DataBlock(13, 7, "data", 3)));
    EXPECT_EQ(hooks.outOfTurnOffers, 4);
    EXPECT_EQ(AnswersSent(), (std::vector<int>{91, 91}));
    EXPECT_EQ(s.countIncorrectSeqnr, 2);  // the number is tested before the checksum

    // Number 1 out of turn: a header inside a file may begin a new run; any
    // block may be the lost one while a resumption waits.
    Feed(StuffForWrite(DataBlock(13, 1, "data")));
    EXPECT_EQ(hooks.outOfTurnOffers, 4);
    Feed(StuffForWrite(DataBlock(11, 1, "x|1|n")));
    EXPECT_EQ(hooks.outOfTurnOffers, 5);
    hooks.awaitsLostBlock = true;
    Feed(StuffForWrite(DataBlock(13, 1, "data")));
    EXPECT_EQ(hooks.outOfTurnOffers, 6);
}

TEST_F(ReceiverFixture, AfterARejectionNothingIsGatheredBeforeTheNextLeadByte)
{
    const QByteArray good = StuffForWrite(DataBlock(11, 1, "x|1|n"));
    // The tail of a damaged write arrives first, then a whole write.
    Feed(good.mid(9));
    EXPECT_EQ(AnswersSent(), std::vector<int>{91});
    Feed(good.mid(15));  // more of the same tail: skipped, not answered
    EXPECT_EQ(AnswersSent().size(), 1u);
    Feed(good);
    ASSERT_EQ(hooks.toReceiver.size(), 1u);
    EXPECT_EQ(hooks.toReceiver[0].sequenceNrA, 1);
}

TEST_F(ReceiverFixture, TheAgreedCheckDecidesWhichBlocksPass)
{
    s.caps.check = BlockCheck::Crc32;
    Feed(StuffForWrite(DataBlock(11, 1, "x|1|n")));  // additive sum
    EXPECT_EQ(s.countIncorrectChecksum, 1);
    Feed(StuffForWrite(BuildDataBlock(11, 1, "x|1|n", Crc32Checksum)));
    EXPECT_EQ(hooks.toReceiver.size(), 1u);
}
