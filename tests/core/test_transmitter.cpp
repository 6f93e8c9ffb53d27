#include "DebugLog.h"
#include "Fso.h"
#include "FrameTransmitter.h"
#include "MemoryCommPort.h"
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct TransmitterFixture : ::testing::Test {
    QTemporaryDir dir;
    LinkConfig g;
    LinkRecord s;
    MemoryCommPort port;
    DebugLog log;
    FrameTransmitter tx{g, s, port, log};
    void SetUp() override
    {
        g.waitBeforeSend = 0;
        QString why;
        port.SetPortOpen(true, why);
    }
    QString OpenLog(int level)
    {
        g.dumpBytes = level > 0;
        const QString path = BuildPath(dir.path(), "log.txt");
        EXPECT_TRUE(log.Open(path, dir.path(), nullptr));
        return path;
    }
    static QString ReadAll(const QString& path)
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return QString::fromLocal8Bit(f.readAll());
    }
};
}  // namespace

TEST_F(TransmitterFixture, SequenceNumbersAndResendRepeatsBytes)
{
    tx.SendDataBlock(13, "AB");
    const QByteArray first = port.written;
    EXPECT_EQ(first.mid(1, 2), QByteArray("H\x0d"));
    tx.SendDataBlock(13, {});
    EXPECT_EQ(s.sequenceNr, 2);
    EXPECT_EQ(s.lastBlock.size(), 16);
    EXPECT_EQ(quint8(s.lastBlock[2]), 2);  // k + 1
    const QByteArray second = port.written.mid(first.size());
    tx.SendBytes(s.lastBlock);
    EXPECT_EQ(port.written.mid(first.size() + second.size()), second);  // a resend is byte for byte
    EXPECT_EQ(s.sequenceNr, 2);
}

TEST_F(TransmitterFixture, AnswerValuesByCode)
{
    s.lastSequenceNr = 41;
    s.FileReceivingPos = 2561;
    tx.SendAnswer(90, 0);
    EXPECT_EQ(s.lastAnswer, QByteArray("A\x5a\x29\x00\x00\x00", 6));
    tx.SendAnswer(99, 10);
    EXPECT_EQ(s.lastAnswer, QByteArray("A\x63\x0a\x00\x00\x00", 6));
    tx.SendAnswer(15, 0);
    EXPECT_EQ(s.lastAnswer, QByteArray("A\x0f\x01\x0a\x00\x00", 6));
    tx.SendAnswer(93, 0);
    EXPECT_EQ(s.lastAnswer, QByteArray("A\x5d\x29\x00\x00\x00", 6));
}

TEST_F(TransmitterFixture, EveryWriteHasOneLeadByteAndNoOtherZero)
{
    s.lastSequenceNr = 0;
    tx.SendAnswer(90, 0);
    tx.SendDataBlock(13, QByteArray(300, '\0'));
    tx.SendString(13, "END");
    EXPECT_EQ(port.writes, 3);
    EXPECT_EQ(port.written.count('\0'), 3);
    EXPECT_EQ(s.lastBlock.mid(12, 3), QByteArray("END"));
    EXPECT_EQ(quint8(s.lastBlock[6]), 3);
}

TEST_F(TransmitterFixture, PauseGoesWithTheWriteAndAClosedPortGetsNothing)
{
    g.waitBeforeSend = 30;
    tx.DelayNextWrite(10);
    tx.SendAnswer(90, 0);
    EXPECT_EQ(port.lastPause, 40);
    g.waitBeforeSend = -100;  // a negative pause is no pause
    tx.SendAnswer(90, 0);
    EXPECT_EQ(port.lastPause, 0);
    QString why;
    port.SetPortOpen(false, why);
    tx.SendAnswer(90, 0);
    EXPECT_EQ(port.writes, 2);
}

TEST_F(TransmitterFixture, DumpsOnlyAtLevelOneOrMore)
{
    const QString path = OpenLog(0);
    tx.SendString(13, "END");
    log.Close();
    QString text = ReadAll(path);
    EXPECT_TRUE(text.contains("String sent   : 'END'"));
    EXPECT_FALSE(text.contains("sent (not expanded):"));

    QFile::remove(path);
    OpenLog(1);
    tx.SendAnswer(90, 0);
    log.Close();
    text = ReadAll(path);
    EXPECT_TRUE(text.contains("sent (not expanded):\r\n  1. 65\r\n  2. 90\r\n  3. 0\r\n"));
    EXPECT_TRUE(text.contains(" expanded:\r\n  1. 65\r\n  2. 90\r\n  3. 1\r\n  4. 2\r\n"));
}
