#include "BlockCompression.h"
#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {
constexpr qint32 MAX_RAW = 32000;

const quint8* Bytes(const QByteArray& b) { return reinterpret_cast<const quint8*>(b.constData()); }

QByteArray Text(qsizetype size)
{
    QByteArray t;
    for (int line = 0; t.size() < size; ++line)
        t += "2026-12-08 06:04:24 station " + QByteArray::number(line % 7) + " block " + QByteArray::number(line) + " ok\n";
    return t.left(size);
}

QByteArray Random(qsizetype size)
{
    QByteArray r(size, Qt::Uninitialized);
    QRandomGenerator gen(13);
    for (char& c : r)
        c = char(gen.bounded(256));
    return r;
}

// Peak resident memory since ResetPeak(), or -1 where Linux does not tell.
bool ResetPeak()
{
    QFile f("/proc/self/clear_refs");
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

qint64 PeakKiB()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// A zstd frame without a content size whose RLE blocks of 128 KiB zeros add up to 1 GiB.
QByteArray RleBombOf1GiB()
{
    QByteArray f("\x28\xB5\x2F\xFD\x00\x38", 6);  // magic, no size, 128 KiB window
    for (int i = 0; i < 8192; ++i) {
        const quint32 header = (131072u << 3) | (1u << 1) | (i == 8191 ? 1u : 0u);
        f += char(header & 0xFF);
        f += char((header >> 8) & 0xFF);
        f += char(header >> 16);
        f += '\0';
    }
    return f;
}
}  // namespace

TEST(BlockCompression, CompressesOnlyWhatGetsSmallerAndRoundTrips)
{
    BlockCompressor c;
    for (const QByteArray& raw : {Text(2560), Text(MAX_RAW), QByteArray(MAX_RAW, '\0'), QByteArray(3, 'a') + "bcdefgh"}) {
        const QByteArray z = c.Compress(raw);
        if (raw.size() < 20) {
            EXPECT_TRUE(z.isEmpty()) << "a tiny block gains nothing";
            continue;
        }
        ASSERT_FALSE(z.isEmpty());
        EXPECT_LT(z.size(), raw.size() / 2);
        QByteArray out("stale");
        ASSERT_TRUE(c.Decompress(Bytes(z), z.size(), qint32(raw.size()), MAX_RAW, out));
        EXPECT_EQ(out, raw);
        // The per-thread functions give the same, in either direction.
        EXPECT_EQ(CompressBlock(raw), z);
        ASSERT_TRUE(DecompressBlock(Bytes(z), z.size(), qint32(raw.size()), MAX_RAW, out));
        EXPECT_EQ(out, raw);
    }
    EXPECT_TRUE(c.Compress(Random(MAX_RAW)).isEmpty());
    EXPECT_TRUE(c.Compress(QByteArray()).isEmpty());
    EXPECT_TRUE(c.Compress(QByteArray(1, 'x')).isEmpty());
}

TEST(BlockCompression, RefusesWhatDoesNotGiveExactlyTheAnnouncedSize)
{
    const QByteArray raw = Text(8000);
    const QByteArray z = CompressBlock(raw);
    ASSERT_FALSE(z.isEmpty());
    const qint32 n = qint32(raw.size());
    QByteArray out;
    const auto refused = [&](const QByteArray& data, qint32 rawSize, qint32 maxRaw = MAX_RAW) {
        out = "stale";
        return !DecompressBlock(Bytes(data), data.size(), rawSize, maxRaw, out) && out.isEmpty();
    };
    EXPECT_TRUE(refused(z.left(z.size() - 1), n)) << "cut short";
    EXPECT_TRUE(refused(z.left(z.size() / 2), n)) << "cut in half";
    QByteArray badMagic = z;
    badMagic[0] = char(badMagic[0] ^ 0x40);
    EXPECT_TRUE(refused(badMagic, n));
    EXPECT_TRUE(refused(z + "x", n)) << "trailing garbage";
    EXPECT_TRUE(refused(z + z, n)) << "a second frame";
    EXPECT_TRUE(refused(z, n - 1));
    EXPECT_TRUE(refused(z, n + 1));
    EXPECT_TRUE(refused(z, n, n - 1)) << "above the largest block";
    EXPECT_TRUE(refused(z, -1));
    EXPECT_TRUE(refused(QByteArray(), 0));
    EXPECT_TRUE(refused(raw, n)) << "raw bytes are no frame";
    // Damage anywhere in the sequences is refused or, where zstd cannot tell
    // (literal bytes carry no check of their own), at least never overruns.
    int refusedCount = 0;
    for (qsizetype i = 4; i < z.size(); ++i) {
        QByteArray damaged = z;
        damaged[i] = char(damaged[i] ^ 0xFF);
        out = "stale";
        const bool ok = DecompressBlock(Bytes(damaged), damaged.size(), n, MAX_RAW, out);
        EXPECT_EQ(out.size(), ok ? n : 0);
        refusedCount += ok ? 0 : 1;
    }
    EXPECT_GT(refusedCount, 0);
}

TEST(BlockCompression, BombIsRefusedWithinTheLargestBlock)
{
    QByteArray out;
    const QByteArray megabyte = CompressBlock(QByteArray(1 << 20, '\0'));
    ASSERT_FALSE(megabyte.isEmpty());
    EXPECT_FALSE(DecompressBlock(Bytes(megabyte), megabyte.size(), 1000, MAX_RAW, out));
    EXPECT_TRUE(out.isEmpty());

    // Without a content size in the frame only the output limit stops it.
    const QByteArray gigabyte = RleBombOf1GiB();
    const bool measured = ResetPeak();
    const qint64 before = PeakKiB();
    EXPECT_FALSE(DecompressBlock(Bytes(gigabyte), gigabyte.size(), MAX_RAW, MAX_RAW, out));
    EXPECT_TRUE(out.isEmpty());
    if (measured && before > 0) {
        EXPECT_LT(PeakKiB() - before, 16 * 1024) << "peak memory grew by more than 16 MiB";
    }
}

TEST(BlockCompression, AFrameMadeAgainstAReferenceNeedsExactlyThoseBytes)
{
    BlockCompressor c;
    const QByteArray text = Text(40000);
    const QByteArrayView reference = QByteArrayView(text).first(30000), raw = QByteArrayView(text).sliced(30000);
    const QByteArray z = c.Compress(raw, reference, 19);
    ASSERT_FALSE(z.isEmpty());
    EXPECT_LT(z.size(), c.Compress(raw.toByteArray(), 19).size()) << "the reference is what makes it smaller";
    QByteArray out;
    ASSERT_TRUE(c.Decompress(Bytes(z), z.size(), qint32(raw.size()), MAX_RAW, reference, out));
    EXPECT_EQ(out, raw);

    // Bytes the frame copies from changed, the reference ending a byte early, none.
    QByteArray other = reference.toByteArray();
    for (qsizetype i = 0; i < other.size(); i += 16)
        other[i] = char(other[i] ^ 0x20);
    for (const QByteArrayView wrong : {QByteArrayView(other), reference.first(29999), QByteArrayView()}) {
        out = "stale";
        EXPECT_FALSE(c.Decompress(Bytes(z), z.size(), qint32(raw.size()), MAX_RAW, wrong, out));
        EXPECT_TRUE(out.isEmpty());
    }
    // Only a frame with a content checksum is taken against a reference.
    const QByteArray unchecked = c.Compress(raw.toByteArray());
    EXPECT_FALSE(c.Decompress(Bytes(unchecked), unchecked.size(), qint32(raw.size()), MAX_RAW, reference, out));
}
