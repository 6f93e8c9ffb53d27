// The benchmark transfer through two velotrax-cli processes on the virtual
// cable: payload throughput as a share of line capacity, and each process's CPU.
#include "BenchRun.h"
#include <QCoreApplication>
#include <cstdio>

namespace {
bool RunOnce(int baud, int waitMs, qint64 size)
{
    bench::RunSetup setup;
    setup.baud = baud;
    setup.cliOptions = QStringList{"--wait-ms", QString::number(waitMs)};
    const bench::RunResult r = bench::RunTransfer(setup, bench::RandomContent(size, 42));
    const bool same = r.Intact() && r.receiverExit == 0;
    const double rate = double(size) / r.seconds;
    std::printf("%7d baud  pause %d ms  %6.1f KiB in %6.2f s  %8.0f B/s  %5.1f %% of line  "
                "CPU sender %4.2f %%  receiver %4.2f %%  exit %d/%d%s\n",
                baud, waitMs, double(size) / 1024.0, r.seconds, rate, r.SharePercent(size, baud),
                r.CpuPercent(r.sender), r.CpuPercent(r.receiver), r.senderExit, r.receiverExit,
                same ? "" : "  FAILED");
    std::fflush(stdout);
    return same;
}
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qint64 size = 256 * 1024;
    std::vector<int> bauds{115200, 921600};
    const QStringList a = app.arguments();
    for (int i = 1; i + 1 < a.size(); ++i) {
        if (a[i] == u"--size")
            size = a[i + 1].toLongLong();
        if (a[i] == u"--baud")
            bauds = {a[i + 1].toInt()};
    }
    bool ok = true;
    for (int baud : bauds)
        for (int waitMs : {2, 0})
            ok = RunOnce(baud, waitMs, baud > 200000 ? size * 4 : size) && ok;
    return ok ? 0 : 1;
}
