#include "Frame.h"
#include "Windows1252.h"
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {
QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
}  // namespace

TEST(Frame, KnownBlocksByteForByte)
{
    // BLOCK_DATA 13, sequence 1, payload "AB".
    const QByteArray block = BuildDataBlock(13, 1, "AB");
    EXPECT_EQ(block, Hex("48 0D 01 00 00 00 02 00 83 00 00 00 41 42 01 00 00 00"));
    EXPECT_EQ(StuffForWrite(block),
              Hex("00 48 0D 01 01 01 02 01 02 01 02 02 01 02 83 01 02 01 02 01 02 41 42 01 01 01 02 01 02 01 02"));
    // ANSWER_OK (90) with value 0.
    const QByteArray answer = BuildAnswerBlock(90, 0);
    EXPECT_EQ(answer, Hex("41 5A 00 00 00 00"));
    EXPECT_EQ(StuffForWrite(answer), Hex("00 41 5A 01 02 01 02 01 02 01 02"));
    // The empty data block has length 0 and checksum 0.
    EXPECT_EQ(BuildDataBlock(13, 0x01020304, {}), Hex("48 0D 04 03 02 01 00 00 00 00 00 00 04 03 02 01"));
    // Negative values travel as two's complement, low byte first.
    EXPECT_EQ(BuildAnswerBlock(99, -2), Hex("41 63 FE FF FF FF"));
}

TEST(Frame, ChecksumAndLittleEndianFields)
{
    EXPECT_EQ(CalcChecksum(QByteArray("\xff\xff\x01", 3)), 511);
    EXPECT_EQ(CalcChecksum(QByteArray(32767, '\xff')), 8355585);
    EXPECT_EQ(CalcChecksum(nullptr, 0), 0);
    quint8 b[4];
    PutLE32(b, -1);
    EXPECT_EQ(GetLE32(b), -1);
    PutLE16(b, 0x7fff);
    EXPECT_EQ(b[0], 0xff);
    EXPECT_EQ(b[1], 0x7f);
    const quint8 neg[2] = {0x00, 0x80};
    EXPECT_EQ(GetLE16(neg), -32768);
}

TEST(Frame, WorstCaseStuffingStaysWithinLimits)
{
    const QByteArray payload(2560, '\x01');
    const QByteArray wire = StuffForWrite(BuildDataBlock(13, 7, payload));
    EXPECT_LE(wire.size(), 5153);
    EXPECT_EQ(wire.count('\0'), 1);  // only the lead byte
    EXPECT_EQ(wire[0], '\0');
}

TEST(Frame, UnstuffRoundTripOverEverySplit)
{
    auto* rng = QRandomGenerator::global();
    for (int round = 0; round < 40; ++round) {
        QByteArray payload(int(rng->bounded(60)), '\0');
        for (char& c : payload)
            c = char(rng->bounded(4) == 0 ? rng->bounded(2) : rng->bounded(256));  // many 0x00 and 0x01
        const QByteArray block = BuildDataBlock(13, qint32(rng->generate()), payload);
        const QByteArray wire = StuffForWrite(block);
        for (qsizetype cut = 0; cut <= wire.size(); ++cut) {
            bool escape = false;
            QByteArray out = UnstuffAll(wire.left(cut), escape);
            out += UnstuffAll(wire.mid(cut), escape);
            ASSERT_EQ(out, block) << "round " << round << " cut " << cut;
            ASSERT_FALSE(escape);
        }
    }
}

TEST(Frame, UnstuffOddCases)
{
    bool escape = false;
    // A 0x00 between an escape and its partner is dropped; the pair still decodes.
    EXPECT_EQ(UnstuffAll(Hex("01 00 02"), escape), Hex("00"));
    // An escape followed by another byte yields that byte; the escape is lost.
    EXPECT_EQ(UnstuffAll(Hex("01 05"), escape), Hex("05"));
    EXPECT_FALSE(escape);
    EXPECT_EQ(UnstuffAll(Hex("41 01"), escape), Hex("41"));
    EXPECT_TRUE(escape);  // pending into the next chunk
}

TEST(Windows1252, NamesTravelOneBytePerCharacter)
{
    EXPECT_EQ(ToWindows1252(QString::fromUtf8("caf\u00e9 \u20ac.txt")), QByteArray("caf\xe9 \x80.txt"));
    EXPECT_EQ(FromWindows1252("\x80\x9f\xff", 3), QString::fromUtf8("\u20ac\u0178\u00ff"));
    EXPECT_TRUE(FitsWindows1252(QString::fromUtf8("\u0160koda")));
    EXPECT_FALSE(FitsWindows1252(QString::fromUtf8("\u65e5\u672c.txt")));
    EXPECT_EQ(ToWindows1252(QString::fromUtf8("\u65e5")), QByteArray("?"));
}
