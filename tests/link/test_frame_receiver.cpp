#include "DebugLog.h"
#include "Frame.h"
#include "FrameReceiver.h"
#include "Fso.h"
#include "HandBuiltBlocks.h"
#include "MemoryCommPort.h"
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// What the gatherer handed on, copied out of its buffer.
struct Handed {
    quint8 kind, type;
    qint32 seqA, seqB, length;
    QByteArray payload;
};

struct RecordingHooks : FrameReceiverHooks {
    FrameReceiver* rx = nullptr;
    bool whole = true;
    std::vector<Handed> blocks;
    std::vector<BadBlock> bad;
    int overflows = 0;
    bool GathersWholeDataBlocks() const override { return whole; }
    void BlockComplete(const Block& b) override
    {
        blocks.push_back({b.kind, b.type, b.sequenceNrA, b.sequenceNrB, b.length, b.payload.toByteArray()});
        rx->StartNextBlock();
    }
    void BlockBad(BadBlock why) override
    {
        bad.push_back(why);
        rx->StartNextBlock();
        rx->SkipToNextWrite();
    }
    void BufferOverflow() override { ++overflows; }
};

struct GatherFixture : ::testing::Test {
    QTemporaryDir dir;
    LinkConfig g;
    LinkRecord r;
    MemoryCommPort port;
    DebugLog log;
    RecordingHooks hooks;
    FrameReceiver rx{g, r, port, log, hooks};

    void SetUp() override
    {
        hooks.rx = &rx;
        QString why;
        port.SetPortOpen(true, why);
    }
    void Feed(const QByteArray& wire) { rx.HandleReceivedBytes(wire); }
    void Restart()
    {
        hooks.blocks.clear();
        hooks.bad.clear();
        r.gather.Reset();
    }
};
}  // namespace

TEST_F(GatherFixture, BlockSplitAnywhereIsGatheredWholeAndParsed)
{
    const QByteArray payload("\x00\x01|x", 4);
    const QByteArray wire = StuffForWrite(DataBlock(11, 7, payload));
    for (qsizetype cut = 1; cut < wire.size(); ++cut) {
        Restart();
        Feed(wire.left(cut));
        EXPECT_TRUE(hooks.blocks.empty());
        Feed(wire.mid(cut));
        ASSERT_EQ(hooks.blocks.size(), 1u) << "cut at " << cut;
        const Handed& b = hooks.blocks[0];
        EXPECT_EQ(b.kind, KIND_DATA);
        EXPECT_EQ(b.type, 11);
        EXPECT_EQ(b.seqA, 7);
        EXPECT_EQ(b.seqB, 7);
        EXPECT_EQ(b.payload, payload);
        EXPECT_EQ(r.gather.lastPayloadLength, 4);
        EXPECT_FALSE(r.gather.prevIsChr1);
    }
}

TEST_F(GatherFixture, ByteAtATimeAndBadEscape)
{
    g.dumpBytes = true;
    const QString logFile = BuildPath(dir.path(), "log.txt");
    ASSERT_TRUE(log.Open(logFile, dir.path(), nullptr));
    for (char c : StuffForWrite(DataBlock(11, 1, "abc")))
        Feed(QByteArray(1, c));
    ASSERT_EQ(hooks.blocks.size(), 1u);

    // An escape before 0x05 stores 0x05 and says so.
    Restart();
    Feed(QByteArray("\x01\x05", 2));
    EXPECT_EQ(r.gather.receiveBuf[0], 0x05);
    QFile f(logFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("nNrBytesData: 3; now expecting nrbytes: 19"));
    EXPECT_TRUE(text.contains("ERROR: m_bPrevIsChr1 is incorrectly True!"));
}

TEST_F(GatherFixture, OddKindsAndNegativeLengthsAreBadBlocks)
{
    Feed(StuffForWrite(QByteArray("XYZXYZ")));
    for (qint16 len : {qint16(-1), qint16(-8), qint16(-16), qint16(-32768)}) {
        QByteArray b = DataBlock(13, 1, {});
        b[6] = char(quint16(len) & 0xff);
        b[7] = char(quint16(len) >> 8);
        Feed(StuffForWrite(b));
        EXPECT_EQ(r.gather.receiveBufCount, 0) << len;
    }
    EXPECT_TRUE(hooks.blocks.empty());
    EXPECT_EQ(hooks.bad, (std::vector<BadBlock>{BadBlock::NotDataOrAnswer, BadBlock::NegativeLength,
                                                 BadBlock::NegativeLength, BadBlock::NegativeLength,
                                                 BadBlock::NegativeLength}));
}

TEST_F(GatherFixture, WithoutWholeDataBlocksADataBlockIsItsHead)
{
    hooks.whole = false;
    Feed(StuffForWrite(Answer(90, 3)) + StuffForWrite(DataBlock(11, 5, "long payload")));
    ASSERT_EQ(hooks.blocks.size(), 2u);
    EXPECT_EQ(hooks.blocks[0].kind, KIND_ANSWER);
    EXPECT_EQ(hooks.blocks[0].seqA, 3);
    EXPECT_EQ(hooks.blocks[1].type, 11);  // taken after 8 bytes
    EXPECT_EQ(hooks.blocks[1].seqA, 5);
    EXPECT_TRUE(hooks.blocks[1].payload.isEmpty());
}

TEST_F(GatherFixture, OverflowPastTheBufferTheCapabilitiesAllow)
{
    const QByteArray big = DataBlock(11, 1, QByteArray(7990, 'z'));  // cannot fit the classic buffer
    Feed(StuffForWrite(big.left(8000)));
    EXPECT_EQ(hooks.overflows, 0);
    Feed(StuffForWrite(big.mid(8000, 1)).mid(1));
    EXPECT_EQ(hooks.overflows, 1);

    // A larger agreed payload makes room for the same block.
    Restart();
    r.caps.extended = true;
    r.caps.largestPayload = 8192;
    Feed(StuffForWrite(big));
    EXPECT_EQ(hooks.overflows, 1);
    ASSERT_EQ(hooks.blocks.size(), 1u);
    EXPECT_EQ(hooks.blocks[0].length, 7990);
}
