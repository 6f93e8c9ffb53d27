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

TEST(Frame, KnownBlocksParsedAndRebuilt)
{
    const QByteArray data = Hex("48 0D 01 00 00 00 02 00 83 00 00 00 41 42 01 00 00 00");
    const auto b = ParseDataBlock(data);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->type, BLOCK_DATA);
    EXPECT_EQ(b->sequenceNrA, 1);
    EXPECT_EQ(b->sequenceNrB, 1);
    EXPECT_EQ(b->length, 2);
    EXPECT_EQ(b->checksum, 0x83);
    EXPECT_EQ(b->payload.toByteArray(), QByteArray("AB"));
    EXPECT_EQ(BuildDataBlock(b->type, b->sequenceNrA, b->payload), data);
    bool escape = false;
    EXPECT_EQ(UnstuffAll(StuffForWrite(data).mid(1), escape), data);

    const QByteArray answer = Hex("41 63 FE FF FF FF");
    const auto a = ParseAnswerBlock(answer);
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->IsData());
    EXPECT_EQ(a->type, ANSWER_ERROR);
    EXPECT_EQ(a->Value(), -2);
    EXPECT_EQ(BuildAnswerBlock(a->type, a->Value()), answer);
    // Each parse takes only its own kind and size.
    EXPECT_FALSE(ParseAnswerBlock(data.left(6)));
    EXPECT_FALSE(ParseDataBlock(answer));
    EXPECT_FALSE(ParseAnswerBlock(answer + 'x'));
}

TEST(Frame, ParseNeverReadsOutsideTheBytesGiven)
{
    // Every length field value, against every size up to a few blocks; each
    // input is its own exact allocation so a sanitizer sees any overread.
    const QByteArray full = BuildDataBlock(13, 5, QByteArray(40, 'p'));
    for (int len = -32768; len <= 32767; len += (len > -64 && len < 64) ? 1 : 97) {
        QByteArray block = full;
        PutLE16(reinterpret_cast<quint8*>(block.data()) + 6, qint16(len));
        for (qsizetype size = 0; size <= block.size(); ++size) {
            const QByteArray bytes(block.constData(), size);
            const auto head = ParseBlockHead(bytes);
            EXPECT_EQ(bool(head), size >= 6);
            EXPECT_EQ(AnnouncedLength(bytes).has_value(), size >= 8);
            const auto b = ParseDataBlock(bytes);
            ASSERT_EQ(bool(b), len >= 0 && size == len + 16) << len << " " << size;
            if (b) {
                EXPECT_GE(b->payload.data(), bytes.constData());
                EXPECT_LE(b->payload.data() + b->payload.size() + 4, bytes.constData() + size);
            }
        }
    }
}

TEST(Frame, CheckFunctionDecidesWhatMatches)
{
    const QByteArray summed = BuildDataBlock(13, 1, "payload");
    const QByteArray crc = BuildDataBlock(13, 1, "payload", ChecksumFor(BlockCheck::Crc32));
    EXPECT_NE(summed, crc);
    EXPECT_TRUE(CheckMatches(*ParseDataBlock(summed), ChecksumFor(BlockCheck::Sum)));
    EXPECT_FALSE(CheckMatches(*ParseDataBlock(summed), ChecksumFor(BlockCheck::Crc32)));
    EXPECT_TRUE(CheckMatches(*ParseDataBlock(crc), ChecksumFor(BlockCheck::Crc32)));
    EXPECT_EQ(quint32(Crc32Checksum("123456789")), 0xCBF43926u);  // the CRC-32 check value
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
