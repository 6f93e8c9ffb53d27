#include "StopRun.h"
#include "Child.h"
#include <algorithm>
#include <sys/stat.h>

namespace stopbench {

namespace {
// The Sender's block sizes on a clean line (the wire does not change with the
// structure): 1024 bytes first, doubled after eight answered blocks, up to the
// largest payload less its four offset bytes.
constexpr qint32 kFirstBlock = 1024;
constexpr int kBlocksPerSize = 8;
constexpr qint32 kLargestBlock = 32767 - 4;
constexpr int kSlackMs = 60000;
constexpr qint64 kClassicBlock = 2560;
}  // namespace

QString StopCase::Name() const
{
    return QStringLiteral("%1 %2 %3, %4 stops")
        .arg(baud)
        .arg(classic ? u"classic" : u"extended")
        .arg(window ? u"window" : u"console")
        .arg(senderStops ? u"Sender" : u"Receiver");
}

qint64 StopPoint(const StopCase& c, const StopSetup& s)
{
    if (c.classic)
        return s.classicAt;
    qint64 before = 0;
    qint32 size = kFirstBlock;
    while (size < std::min(s.block, kLargestBlock)) {
        before += qint64(kBlocksPerSize) * size;
        size = std::min(size * 2, kLargestBlock);
    }
    // The first block of that size has arrived: the ones behind it are as large.
    return before + size;
}

qint64 TempFileBytes(const QString& receiveDir)
{
    struct stat st {};
    const QByteArray path = (receiveDir + QStringLiteral("/_f.bin.tmp")).toLocal8Bit();
    return ::stat(path.constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

bool WaitForStopPoint(const StopCase& c, const StopSetup& s, const QString& receiveDir,
                      const std::function<bool()>& alive, QString& note)
{
    const qint64 bytes = StopPoint(c, s);
    const double until = NowMs() + double(bytes) * 10 * 1000 / c.baud * 1.5 + kSlackMs;
    while (TempFileBytes(receiveDir) < bytes) {
        if (!alive()) {
            note = QStringLiteral("a side ended before the Stop");
            return false;
        }
        if (NowMs() >= until) {
            note = QStringLiteral("the Receiver held %1 of %2 bytes by the deadline")
                       .arg(std::max<qint64>(0, TempFileBytes(receiveDir)))
                       .arg(bytes);
            return false;
        }
        SleepMs(20);
    }
    // A classic Sender waits for each answer: the block after it must be on its way.
    if (c.classic) {
        const double midBlock = NowMs() + double(kClassicBlock) * 10 * 1000 / c.baud / 2;
        while (NowMs() < midBlock) {
            if (!alive()) {
                note = QStringLiteral("a side ended before the Stop");
                return false;
            }
            SleepMs(5);
        }
    }
    return true;
}

StopResult RunStopCase(const Programs& p, const StopSetup& s, const StopCase& c)
{
    return c.window ? RunWindow(p, s, c) : RunConsole(p, s, c);
}

}  // namespace stopbench
