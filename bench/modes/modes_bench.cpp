// Sends one file Velotrax to Velotrax (two velotrax-cli processes) over the
// virtual cable in each protocol mode and prints one table: a row per line, a
// column per mode. A cell holds the throughput as a share of the line's
// capacity (baud / 10 bytes per second, timed from the Sender's start to its
// exit), the CPU of each side in % of one core and the peak memory of each
// side; or CORRUPT, error N or hang.
//
//   bench_modes [--sizes S[,S,S]] [--runs N] [--seed S] [--file PATH | --zero]
//               [--columns classic,extended,extended-nocompress]
#include "BenchRun.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <optional>

namespace {

struct Row {
    const char* line;
    int baud;
    QStringList cableOptions;
    qint64 size;
};

struct Column {
    QString name;
    QStringList cliOptions;
};

std::optional<Column> ColumnNamed(const QString& name)
{
    if (name == u"classic")
        return Column{name, {"--classic"}};
    if (name == u"extended")
        return Column{name, {}};
    if (name == u"extended-nocompress")
        return Column{name, {"--no-compress"}};
    return std::nullopt;
}

// "262144", "256K" or "1M".
std::optional<qint64> Size(QString text)
{
    qint64 unit = 1;
    if (text.endsWith(u'K', Qt::CaseInsensitive))
        unit = 1024;
    else if (text.endsWith(u'M', Qt::CaseInsensitive))
        unit = 1024 * 1024;
    if (unit > 1)
        text.chop(1);
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    return ok && n >= 0 ? std::optional<qint64>(n * unit) : std::nullopt;
}

QString SizeText(qint64 bytes)
{
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return QString::number(bytes / (1024 * 1024)) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return QString::number(bytes / 1024) + " KiB";
    return QString::number(bytes) + " bytes";
}

// The medians of N runs of one cell, or what went wrong.
QString Cell(const std::vector<bench::RunResult>& runs, qint64 size, int baud)
{
    std::vector<double> share, cpuTx, cpuRx, rssTx, rssRx;
    QString failure;
    int failed = 0;
    for (const bench::RunResult& r : runs) {
        if (!r.Intact()) {
            if (failure.isEmpty())
                failure = r.outcome == u"corrupted" ? QStringLiteral("CORRUPT") : r.outcome;
            ++failed;
            continue;
        }
        share.push_back(r.SharePercent(size, baud));
        cpuTx.push_back(r.CpuPercent(r.sender));
        cpuRx.push_back(r.CpuPercent(r.receiver));
        rssTx.push_back(double(r.sender.maxRssKiB) / 1024);
        rssRx.push_back(double(r.receiver.maxRssKiB) / 1024);
    }
    if (share.empty())
        return failure;
    QString text = QString::asprintf("%.1f %%, CPU %.1f / %.1f %%, RSS %.1f / %.1f MiB", bench::Median(share),
                                     bench::Median(cpuTx), bench::Median(cpuRx), bench::Median(rssTx),
                                     bench::Median(rssRx));
    if (failed)
        text += QStringLiteral(" (%1 of %2 %3)").arg(failed).arg(runs.size()).arg(failure);
    return text;
}

int Usage(const QString& why)
{
    std::fprintf(stderr, "bench_modes: %s\n", qPrintable(why));
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription("Classic and extended mode side by side over the virtual cable.");
    p.addHelpOption();
    p.addOptions({
        {"sizes", "file size of each row (one for all, or three; K and M suffixes)", "S[,S,S]"},
        {"runs", "runs per cell; the cell shows their medians (default 1)", "N"},
        {"seed", "seed of the random file (default 1)", "S"},
        {"file", "send this file instead of a random one", "PATH"},
        {"zero", "send an all-zero file"},
        {"columns", "modes to compare, from classic, extended, extended-nocompress (default classic,extended)",
         "LIST"},
    });
    p.process(app);

    std::vector<Row> rows = {
        {"115200, clean", 115200, {}, 256 * 1024},
        {"921600, clean", 921600, {}, 1024 * 1024},
        {"115200, 8 ms latency each way", 115200, {"--latency-ms", "8"}, 256 * 1024},
    };
    if (p.isSet("sizes")) {
        const QStringList sizes = p.value("sizes").split(',');
        if (sizes.size() != 1 && sizes.size() != qsizetype(rows.size()))
            return Usage("--sizes wants one size or one per row");
        for (size_t i = 0; i < rows.size(); ++i) {
            const std::optional<qint64> s = Size(sizes.size() == 1 ? sizes[0] : sizes[qsizetype(i)]);
            if (!s)
                return Usage("bad size in --sizes " + p.value("sizes"));
            rows[i].size = *s;
        }
    }
    const int runs = p.isSet("runs") ? p.value("runs").toInt() : 1;
    if (runs < 1)
        return Usage("--runs wants a number of at least 1");
    const quint64 seed = p.isSet("seed") ? p.value("seed").toULongLong() : 1;
    std::vector<Column> columns;
    for (const QString& name : p.value("columns").isEmpty() ? QStringList{"classic", "extended"}
                                                            : p.value("columns").split(',')) {
        const std::optional<Column> c = ColumnNamed(name);
        if (!c)
            return Usage("unknown column " + name);
        columns.push_back(*c);
    }
    QByteArray given;
    QString what = QStringLiteral("random file (seed %1)").arg(seed);
    if (p.isSet("file")) {
        QFile f(p.value("file"));
        if (!f.open(QIODevice::ReadOnly))
            return Usage("cannot read " + p.value("file"));
        given = f.readAll();
        what = QFileInfo(f).fileName();
        for (Row& r : rows)
            r.size = given.size();
    } else if (p.isSet("zero")) {
        what = QStringLiteral("all-zero file");
    }

    std::vector<std::vector<QString>> cells(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const QByteArray content = p.isSet("file") ? given
                                   : p.isSet("zero") ? QByteArray(row.size, '\0')
                                                     : bench::RandomContent(row.size, seed);
        for (const Column& c : columns) {
            bench::RunSetup setup;
            setup.baud = row.baud;
            setup.cableOptions = row.cableOptions;
            setup.cliOptions = c.cliOptions;
            std::vector<bench::RunResult> results;
            for (int n = 0; n < runs; ++n) {
                std::fprintf(stderr, "%s, %s, %s: run %d of %d\n", row.line, qPrintable(SizeText(row.size)),
                             qPrintable(c.name), n + 1, runs);
                results.push_back(bench::RunTransfer(setup, content));
            }
            cells[i].push_back(Cell(results, row.size, row.baud));
        }
    }

    std::printf("Velotrax to Velotrax over the virtual cable, %s, %s.\n", qPrintable(what),
                runs == 1 ? "one run per cell" : qPrintable(QStringLiteral("median of %1 runs").arg(runs)));
    std::printf("Cell: share of the line's capacity (baud / 10 B/s) from the Sender's start to its exit;\n"
                "CPU sender / receiver in %% of one core; peak memory (max RSS) sender / receiver.\n\n");
    std::printf("| line | file |");
    for (const Column& c : columns)
        std::printf(" %s |", qPrintable(c.name));
    std::printf("\n|---|---|");
    for (size_t k = 0; k < columns.size(); ++k)
        std::printf("---|");
    std::printf("\n");
    for (size_t i = 0; i < rows.size(); ++i) {
        std::printf("| %s | %s |", rows[i].line, qPrintable(SizeText(rows[i].size)));
        for (const QString& cell : cells[i])
            std::printf(" %s |", qPrintable(cell));
        std::printf("\n");
    }
    return 0;
}
