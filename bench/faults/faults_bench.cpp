// Sends one random file with velotrax-cli over the virtual cable with seeded
// faults, to a receiver of choice, and prints for every run the fault, the
// seed, the outcome (intact / corrupted / error N / hang) and the throughput
// as a share of the line's capacity (baud / 10 bytes per second), timed from
// the Sender's start to its exit; then one summary line per fault.
//
//   bench_faults [--receiver spec|velotrax] [--mode classic|extended] [--baud N]
//                [--size BYTES] [--seeds N] [--deadline-s S] [FAULT=RATE ...]
// FAULT is a vnullmodem fault option without its dashes (ber, drop-rate,
// noise-rate), applied in both directions; default: clean, and ber and
// drop-rate at 1e-5 and 1e-4. --mode classic gives --classic to every velotrax-cli.
#include "BenchRun.h"
#include <QCoreApplication>
#include <cstdio>

namespace {

struct Options {
    QString receiver = QStringLiteral("spec");
    QString mode = QStringLiteral("extended");
    int baud = 115200;
    qint64 size = 128 * 1024;
    int seeds = 5;
    int deadlineS = 0;  // 0: twenty times the clean transfer time, at least two minutes
    QStringList faults;
};

bench::RunSetup Setup(const Options& o, const QString& fault, int seed)
{
    bench::RunSetup s;
    s.baud = o.baud;
    s.deadlineMs = qint64(o.deadlineS) * 1000;
    s.cableOptions = QStringList{"--seed", QString::number(seed)};
    if (!fault.isEmpty()) {
        const QStringList kv = fault.split('=');
        s.cableOptions << "--" + kv[0] << kv.value(1);
    }
    if (o.mode == u"classic")
        s.cliOptions << "--classic";
    if (o.receiver == u"spec")
        s.receiver = [](const QString& port, const QString& dir) {
            return QStringList{SPEC_PEER_EXE, "receive", "--port", port, "--dir", dir, "--once"};
        };
    return s;
}

// The outcomes of one fault's runs and the median throughput of the intact ones.
struct Summary {
    int intact = 0, corrupted = 0, error = 0, hang = 0;
    std::vector<double> shares;

    void Add(const QString& outcome, double share)
    {
        if (outcome == u"intact")
            ++intact, shares.push_back(share);
        else if (outcome == u"corrupted")
            ++corrupted;
        else if (outcome == u"hang")
            ++hang;
        else
            ++error;  // error N, crash, or a run that could not start
    }
    void Print(const QString& fault) const
    {
        std::printf("%s: %d intact, %d corrupted, %d error, %d hang; median %.1f %% of line capacity\n",
                    fault.isEmpty() ? "clean" : qPrintable(fault), intact, corrupted, error, hang,
                    bench::Median(shares));
    }
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    const QStringList a = app.arguments().mid(1);
    for (int i = 0; i < a.size(); ++i) {
        const QString next = i + 1 < a.size() ? a[i + 1] : QString();
        if (a[i] == u"--receiver")
            o.receiver = next, ++i;
        else if (a[i] == u"--mode" && (next == u"classic" || next == u"extended"))
            o.mode = next, ++i;
        else if (a[i] == u"--baud")
            o.baud = next.toInt(), ++i;
        else if (a[i] == u"--size")
            o.size = next.toLongLong(), ++i;
        else if (a[i] == u"--seeds")
            o.seeds = next.toInt(), ++i;
        else if (a[i] == u"--deadline-s")
            o.deadlineS = next.toInt(), ++i;
        else if (a[i].contains('='))
            o.faults << a[i];
        else {
            std::fprintf(stderr, "bench_faults: bad argument %s\n", qPrintable(a[i]));
            return 2;
        }
    }
    if (o.faults.isEmpty())
        o.faults = QStringList{"", "ber=1e-5", "ber=1e-4", "drop-rate=1e-5", "drop-rate=1e-4"};

    std::printf("receiver %s, mode %s, %lld bytes at %d baud (line capacity %d B/s)\n", qPrintable(o.receiver),
                qPrintable(o.mode), static_cast<long long>(o.size), o.baud, o.baud / 10);
    std::printf("| fault | seed | outcome | seconds | of line capacity |\n|---|---|---|---|---|\n");
    std::vector<Summary> summaries(size_t(o.faults.size()));
    for (qsizetype f = 0; f < o.faults.size(); ++f) {
        const QString& fault = o.faults[f];
        for (int seed = 1; seed <= o.seeds; ++seed) {
            const bench::RunResult r = bench::RunTransfer(Setup(o, fault, seed), bench::RandomContent(o.size, seed));
            const double share = r.Intact() ? r.SharePercent(o.size, o.baud) : 0;
            summaries[size_t(f)].Add(r.outcome, share);
            std::printf("| %s | %d | %s | %.1f | %.1f %% |\n", fault.isEmpty() ? "clean" : qPrintable(fault), seed,
                        qPrintable(r.outcome), r.seconds, share);
            std::fflush(stdout);
        }
    }
    std::printf("\n");
    for (qsizetype f = 0; f < o.faults.size(); ++f)
        summaries[size_t(f)].Print(o.faults[f]);
    return 0;
}
