// Files of 2 GiB and more in the extended mode. Sparse files keep the disk
// and the time small; only the whole-file checks read every byte.
#include "ExtendedFixture.h"
#include "ErrorNumbers.h"
#include "FileCrc.h"
#include "Offsets.h"
#include <sys/stat.h>

namespace {
constexpr qint64 kFourGiB = qint64(1) << 32;

// A sparse file of size bytes, zero but for data at `at`.
void WriteSparse(const QString& path, qint64 size, qint64 at, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_TRUE(f.resize(size));
    if (at < size) {
        ASSERT_TRUE(f.seek(at));
        f.write(data.left(size - at));
    }
}

QByteArray ReadAt(const QString& path, qint64 at, qint64 n)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(at))
        return {};
    return f.read(n);
}
}  // namespace

// "Restart a file" of a file past 4 GiB: the Receiver holds 4 GiB and a bit
// (not a whole restart unit), proves it and takes only the rest.
TEST_F(ExtendedFixture, ARestartPastFourGiBTakesOnlyTheRest)
{
    const qint64 size = kFourGiB + 200000;
    const qint64 dataAt = kFourGiB - 1000;
    const QByteArray data = RandomBytes(180000, 9);
    WriteSparse(Source("big.bin"), size, dataAt, data);
    WriteSparse(rx->InReceivePath("_big.bin.tmp"), kFourGiB + 100123, dataAt, data);
    Run({"big.bin"}, true);
    ASSERT_TRUE(WaitFor([&] { return !tx->port.PortOpen(); }, 120000));
    EXPECT_EQ(tx->ui.status2, "Files sent: 1");
    EXPECT_EQ(QFileInfo(rx->InReceivePath("big.bin")).size(), size);
    EXPECT_EQ(ReadAt(rx->InReceivePath("big.bin"), dataAt, data.size()), data);
    EXPECT_LT(tx->port.written.size(), 200000);  // the rest, not the file
}

// A sparse image arrives sparse: its zeros at the end of what is held stay a hole.
TEST_F(ExtendedFixture, ZerosArriveAsAHole)
{
    const qint64 size = 24 << 20;
    const QByteArray data = RandomBytes(100000, 4);
    WriteSparse(Source("img.bin"), size, 12 << 20, data);
    Run({"img.bin"});
    ASSERT_TRUE(WaitFor([&] { return !tx->port.PortOpen(); }, 60000));
    EXPECT_EQ(tx->ui.status2, "Files sent: 1");
    EXPECT_EQ(QFileInfo(rx->InReceivePath("img.bin")).size(), size);
    EXPECT_EQ(ReadAt(rx->InReceivePath("img.bin"), 12 << 20, data.size()), data);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(rx->InReceivePath("img.bin")).constData(), &st), 0);
    EXPECT_LT(qint64(st.st_blocks) * 512, 4 << 20);
}

// The header of a file of 2 GiB or more answered without wide positions
// (here a Receiver set to the classic protocol): error 17, no data sent.
TEST_F(ExtendedFixture, AFileOfTwoGiBToAReceiverWithoutWidePositionsEndsWithError17)
{
    WriteSparse(Source("big.bin"), qint64(1) << 31, 0, {});
    rx->g.classicOnly = true;
    Run({"big.bin"});
    ASSERT_TRUE(SenderDone());
    EXPECT_TRUE(tx->ui.SawBoxContaining("Cannot send 'big.bin': it has 2147483648 bytes, and the receiving program "
                                        "takes no files of 2147483647 bytes or more"));
    EXPECT_EQ(Blocks(tx->port).back(), BuildAnswerBlock(ANSWER_ERROR, ErrorNr::SizeNotReceivable));
    EXPECT_EQ(Blocks(tx->port).size(), 2u);  // the header and the error
}

TEST(LargePositions, EightByteOffsetsAndZerosCountedUnread)
{
    Capabilities wide;
    wide.wide = true;
    QByteArray b;
    PutOffset(b, wide, 5 * kFourGiB / 4 + 3);
    ASSERT_EQ(b.size(), 8);
    EXPECT_EQ(GetOffset(reinterpret_cast<const quint8*>(b.constData()), wide), 5 * kFourGiB / 4 + 3);
    for (qint64 n : {1, 4095, 1 << 20, 3000001})
        EXPECT_EQ(Crc32AddZeros(Crc32Add(Crc32Start(), "ab"), n), Crc32Add(Crc32Add(Crc32Start(), "ab"), QByteArray(n, 0)))
            << n;
}
