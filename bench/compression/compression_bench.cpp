// Compresses text, all-zero and random data block by block at levels 1..6 and
// block sizes 2560, 4096, 16384 and 32000; prints MB/s, the ratio and the share of a
// core compression and decompression take at 921600 baud (92,160 bytes/s on the
// line, ratio times that in file bytes).
//   bench_compression [text-file]   (default: /usr/include/*.h concatenated)
#include "BlockCompression.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <cstdio>
#include <ctime>

namespace {
constexpr double LINE_BYTES_PER_SECOND = 92160.0;
constexpr qsizetype INPUT_BYTES = 4 << 20;

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

QByteArray Text(const QString& path)
{
    QByteArray all;
    const QStringList files = path.isEmpty() ? QDir("/usr/include").entryList({"*.h"}, QDir::Files, QDir::Name)
                                             : QStringList{path};
    const QString dir = path.isEmpty() ? "/usr/include/" : "";
    for (const QString& f : files) {
        QFile file(dir + f);
        if (file.open(QIODevice::ReadOnly))
            all += file.readAll();
        if (all.size() >= INPUT_BYTES)
            break;
    }
    return all.left(INPUT_BYTES);
}

QByteArray Random()
{
    QByteArray r(INPUT_BYTES, Qt::Uninitialized);
    QRandomGenerator gen(13);
    gen.fillRange(reinterpret_cast<quint32*>(r.data()), r.size() / 4);
    return r;
}

struct Figures {
    double compressMBs = 0, decompressMBs = 0, ratio = 0, compressCpu = 0, decompressCpu = 0;
};

// Runs pass over and over until it has taken enough CPU time to be measured.
template <typename Pass>
double MBs(qsizetype bytes, Pass pass)
{
    int rounds = 0;
    const double t0 = CpuSeconds();
    double spent = 0;
    do {
        pass();
        ++rounds;
        spent = CpuSeconds() - t0;
    } while (spent < 0.2);
    return double(bytes) * rounds / spent / 1e6;
}

// freshContexts: a new compressor per block, to see what reuse saves.
Figures Measure(const QByteArray& input, int block, int level, bool freshContexts)
{
    BlockCompressor kept;
    QList<QByteArray> packed;
    qsizetype sent = 0;
    Figures f;
    f.compressMBs = MBs(input.size(), [&] {
        packed.clear();
        sent = 0;
        for (qsizetype at = 0; at < input.size(); at += block) {
            const QByteArray raw = input.mid(at, block);
            const QByteArray z = freshContexts ? BlockCompressor().Compress(raw, level) : kept.Compress(raw, level);
            sent += z.isEmpty() ? raw.size() : z.size();
            packed << z;
        }
    });
    f.ratio = double(input.size()) / double(sent);
    qsizetype compressedRaw = 0;
    for (qsizetype i = 0; i < packed.size(); ++i)
        compressedRaw += packed[i].isEmpty() ? 0 : qMin<qsizetype>(block, input.size() - i * block);
    if (compressedRaw > 0) {
        QByteArray out;
        f.decompressMBs = MBs(compressedRaw, [&] {
            for (qsizetype i = 0; i < packed.size(); ++i) {
                const QByteArray& z = packed[i];
                const qint32 rawSize = qint32(qMin<qsizetype>(block, input.size() - i * block));
                if (!z.isEmpty() && !kept.Decompress(reinterpret_cast<const quint8*>(z.constData()), z.size(),
                                                     rawSize, block, out))
                    std::fprintf(stderr, "round trip failed\n");
            }
        });
    }
    // The line carries compressed bytes, so a full line means ratio times as many file bytes.
    const double fileBytesPerSecond = LINE_BYTES_PER_SECOND * f.ratio;
    f.compressCpu = 100.0 * fileBytesPerSecond / (f.compressMBs * 1e6);
    f.decompressCpu = f.decompressMBs > 0 ? 100.0 * fileBytesPerSecond / (f.decompressMBs * 1e6) : 0;
    return f;
}
}  // namespace

int main(int argc, char** argv)
{
    const QList<std::pair<const char*, QByteArray>> inputs{
        {"text", Text(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString())},
        {"zeros", QByteArray(INPUT_BYTES, '\0')},
        {"random", Random()}};
    std::printf("%-7s %6s %5s %10s %11s %8s %8s %8s\n", "input", "block", "level", "comp MB/s", "decomp MB/s",
                "ratio", "comp %", "decomp %");
    for (const auto& [name, data] : inputs) {
        for (int block : {2560, 4096, 16384, 32000}) {
            for (int level = 1; level <= 6; ++level) {
                const Figures f = Measure(data, block, level, false);
                std::printf("%-7s %6d %5d %10.1f %11.1f %8.2f %8.3f %8.3f\n", name, block, level, f.compressMBs,
                            f.decompressMBs, f.ratio, f.compressCpu, f.decompressCpu);
            }
        }
    }
    std::printf("\nA new compressor per block (level 3):\n");
    for (const auto& [name, data] : inputs) {
        for (int block : {2560, 4096, 16384, 32000}) {
            const Figures f = Measure(data, block, 3, true);
            std::printf("%-7s %6d %10.1f MB/s %8.3f %% CPU\n", name, block, f.compressMBs, f.compressCpu);
        }
    }
    std::printf("\nCPU %%: one core's share at 921600 baud with the line full of compressed blocks.\n");
    return 0;
}
