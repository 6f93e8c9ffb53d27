// Sends text, random and all-zero files Velotrax to Velotrax (two velotrax-cli
// processes) over the virtual cable at 115200 and 921600 baud, once with each
// block compressed alone (--no-reference, or an earlier velotrax-cli given
// with --before) and once against the bytes before it, and prints one table:
// the share of the line's capacity (file bytes per second over baud / 10, from
// the Sender's start to its exit), each side's CPU in % of one core and peak
// memory. Random rows add the extended mode without compression. Below it,
// the ratios of zstd -19 and xz -9e on the same text.
//
//   bench_context [--before PATH] [--runs N] [--text PATH]
//   (text: the first MiB of /usr/include/*.h, in name order; a further row
//   sends all of them)
#include "BenchRun.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cstdio>

namespace {

QByteArray Headers(qint64 size)
{
    QByteArray all;
    const QDir dir("/usr/include");
    for (const QString& name : dir.entryList({"*.h"}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
        if (all.size() >= size)
            break;
    }
    return all.left(size);
}

struct Row {
    QString what;
    int baud;
    QByteArray content;
    bool plainColumn;  // also the extended mode without compression
};

struct Cell {
    QString text = QStringLiteral("-");
    double share = 0;
};

Cell Measure(const bench::RunSetup& setup, const QByteArray& content, int runs)
{
    std::vector<double> share, cpuTx, cpuRx, rssTx, rssRx;
    QString failure;
    for (int n = 0; n < runs; ++n) {
        const bench::RunResult r = bench::RunTransfer(setup, content);
        if (!r.Intact()) {
            failure = r.outcome;
            continue;
        }
        share.push_back(r.SharePercent(content.size(), setup.baud));
        cpuTx.push_back(r.CpuPercent(r.sender));
        cpuRx.push_back(r.CpuPercent(r.receiver));
        rssTx.push_back(double(r.sender.maxRssKiB) / 1024);
        rssRx.push_back(double(r.receiver.maxRssKiB) / 1024);
    }
    Cell c;
    if (share.empty()) {
        c.text = failure;
        return c;
    }
    c.share = bench::Median(share);
    c.text = QString::asprintf("%.0f %%, CPU %.0f / %.0f %%, RSS %.1f / %.1f MiB", c.share, bench::Median(cpuTx),
                               bench::Median(cpuRx), bench::Median(rssTx), bench::Median(rssRx));
    if (share.size() < size_t(runs))
        c.text += QStringLiteral(" (%1 of %2 %3)").arg(runs - share.size()).arg(runs).arg(failure);
    return c;
}

// Original size over compressed size by a command that writes to standard output, or 0.
double ToolRatio(const QString& program, const QStringList& args, const QString& file)
{
    if (QStandardPaths::findExecutable(program).isEmpty())
        return 0;
    QProcess p;
    p.start(program, args + QStringList{file});
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return 0;
    const qint64 packed = p.readAllStandardOutput().size();
    return packed > 0 ? double(QFile(file).size()) / double(packed) : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription("Blocks compressed alone and against the bytes before them, over the virtual cable.");
    p.addHelpOption();
    p.addOptions({
        {"before", "velotrax-cli of an earlier version for the first column (default: this one, --no-reference)",
         "PATH"},
        {"runs", "runs per cell; the cell shows their medians (default 1)", "N"},
        {"text", "the text file (default: the first MiB of /usr/include/*.h)", "PATH"},
    });
    p.process(app);
    const int runs = qMax(1, p.value("runs").toInt());
    QByteArray text = Headers(1 << 20);
    if (p.isSet("text")) {
        QFile f(p.value("text"));
        if (!f.open(QIODevice::ReadOnly))
            return std::fprintf(stderr, "bench_context: cannot read %s\n", qPrintable(p.value("text"))), 2;
        text = f.readAll();
    }
    // Random data at 115200 is kept short: it crosses the line at 1x. All the
    // headers (some MiB) show whether memory stays flat in the file size.
    const QByteArray all = Headers(16 << 20);
    const QString allWhat = QStringLiteral("text, all %1 KiB").arg(all.size() / 1024);
    const std::vector<Row> rows = {
        {"text", 115200, text, false},
        {"random 256 KiB", 115200, bench::RandomContent(256 << 10, 1), true},
        {"zeros 1 MiB", 115200, QByteArray(1 << 20, '\0'), false},
        {"text", 921600, text, false},
        {allWhat, 921600, all, false},
        {"random 1 MiB", 921600, bench::RandomContent(1 << 20, 1), true},
        {"zeros 1 MiB", 921600, QByteArray(1 << 20, '\0'), false},
    };

    bench::RunSetup before;
    before.cli = p.value("before");
    if (before.cli.isEmpty())
        before.cliOptions = {"--no-reference"};
    bench::RunSetup plain;
    plain.cliOptions = {"--no-compress"};
    bench::RunSetup now;

    std::printf("Velotrax to Velotrax over the virtual cable, %s.\n",
                runs == 1 ? "one run per cell" : qPrintable(QStringLiteral("median of %1 runs").arg(runs)));
    std::printf("Cell: share of the line's capacity (baud / 10 B/s) from the Sender's start to its exit;\n"
                "CPU sender / receiver in %% of one core; peak memory (max RSS) sender / receiver.\n"
                "Before: %s.\n\n",
                before.cli.isEmpty() ? "each block compressed alone (--no-reference)" : qPrintable(before.cli));
    std::printf("| line | file | before | against the bytes before | new / before | no compression |\n"
                "|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        std::fprintf(stderr, "%d, %s...\n", row.baud, qPrintable(row.what));
        for (bench::RunSetup* s : {&before, &plain, &now})
            s->baud = row.baud;
        const Cell a = Measure(before, row.content, runs);
        const Cell b = Measure(now, row.content, runs);
        const Cell c = row.plainColumn ? Measure(plain, row.content, runs) : Cell();
        std::printf("| %d | %s | %s | %s | %s | %s |\n", row.baud, qPrintable(row.what), qPrintable(a.text),
                    qPrintable(b.text), a.share > 0 ? qPrintable(QString::asprintf("%.2f", b.share / a.share)) : "-",
                    qPrintable(c.text));
        std::fflush(stdout);
    }

    QTemporaryFile file;
    if (file.open() && file.write(text) == text.size() && file.flush()) {
        const double zstd = ToolRatio("zstd", {"-19", "-c", "-q"}, file.fileName());
        const double xz = ToolRatio("xz", {"-9e", "-c"}, file.fileName());
        std::printf("\nThe same text (%lld bytes) as one file: zstd -19 %.2fx, xz -9e %.2fx (0: tool missing).\n",
                    qint64(text.size()), zstd, xz);
    }
    return 0;
}
