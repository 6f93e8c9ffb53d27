// How fast Stop and Ctrl-C act, in the middle of a file: for each line speed,
// mode, front end (two velotrax-cli processes, or two velotrax windows on
// Xvfb driven with xdotool) and stopping side, the time until the stopping
// side has exited or its window is idle, and until the other side reports the
// Stop; printed as one table against the targets of 0.5 s and 1 s.
//
//   bench_stop [--build DIR | --cli PATH --window PATH --cable PATH]
//              [--speeds 9600,115200] [--modes extended,classic]
//              [--fronts console,window] [--sides sender,receiver]
//              [--block BYTES] [--jobs N] [--stop-at X,Y] [--activate-at X,Y]
#include "StopRun.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

using namespace stopbench;

namespace {

constexpr double kStopperTargetMs = 500;
constexpr double kOtherTargetMs = 1000;

QByteArray RandomContent(qint64 size)
{
    QRandomGenerator rng(20);
    QByteArray content(size, '\0');
    for (char& c : content)
        c = char(rng.bounded(256));
    return content;
}

std::optional<QPoint> Point(const QString& text)
{
    const QStringList xy = text.split(u',');
    bool okX = false, okY = false;
    const QPoint p(xy.value(0).toInt(&okX), xy.value(1).toInt(&okY));
    return xy.size() == 2 && okX && okY ? std::optional<QPoint>(p) : std::nullopt;
}

QString Cell(double ms, double target, const QString& instead = {})
{
    if (ms < 0 && !instead.isEmpty())
        return QStringLiteral("none: ") + instead;
    if (ms < 0)
        return QStringLiteral("none in %1 s").arg(kAfterStopMs / 1000);
    return QStringLiteral("%1 ms%2").arg(ms, 0, 'f', 0).arg(ms <= target ? QString() : QStringLiteral(" (over)"));
}

void PrintTable(const std::vector<StopCase>& cases, const std::vector<StopResult>& results, const QList<int>& speeds)
{
    // A row per mode, front end and stopping side; two columns per speed.
    std::map<QString, std::map<int, const StopResult*>> rows;
    std::vector<QString> order;
    for (size_t i = 0; i < cases.size(); ++i) {
        const StopCase& c = cases[i];
        const QString row = QStringLiteral("%1 | %2 | %3")
                                .arg(c.classic ? u"classic" : u"extended", c.window ? u"window" : u"console",
                                     c.senderStops ? u"Sender" : u"Receiver");
        if (!rows.count(row))
            order.push_back(row);
        rows[row][c.baud] = &results[i];
    }
    QString head = QStringLiteral("| mode | front end | stops |"), rule = QStringLiteral("|---|---|---|");
    for (int baud : speeds) {
        head += QStringLiteral(" %1: stopping side idle / exited | %1: other side reports |").arg(baud);
        rule += QStringLiteral("---|---|");
    }
    std::printf("\n%s\n%s\n", qPrintable(head), qPrintable(rule));
    QStringList notes;
    for (const QString& row : order) {
        QString line = QStringLiteral("| ") + row + QStringLiteral(" |");
        for (int baud : speeds) {
            const auto it = rows[row].find(baud);
            if (it == rows[row].end()) {
                line += QStringLiteral(" | |");
                continue;
            }
            const StopResult& r = *it->second;
            line += u' ' + Cell(r.stopperMs, kStopperTargetMs) + QStringLiteral(" | ")
                    + Cell(r.otherMs, kOtherTargetMs, r.otherInstead) + QStringLiteral(" |");
            if (!r.note.isEmpty())
                notes << QStringLiteral("%1 | %2: %3").arg(baud).arg(row, r.note);
        }
        std::printf("%s\n", qPrintable(line));
    }
    std::printf("\nTargets: the stopping side idle or exited within %.0f ms, the other side reports within %.0f ms.\n",
                kStopperTargetMs, kOtherTargetMs);
    for (const QString& n : notes)
        std::printf("Note: %s\n", qPrintable(n));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times Stop and Ctrl-C in the middle of a file."));
    parser.addHelpOption();
    parser.addOptions({
        {"build", "Build folder whose bin/ holds the programs.", "DIR"},
        {"cli", "velotrax-cli to run.", "PATH", QStringLiteral(VELOTRAX_CLI_EXE)},
        {"window", "velotrax to run.", "PATH", QStringLiteral(VELOTRAX_EXE)},
        {"cable", "vnullmodem to run.", "PATH", QStringLiteral(VNULLMODEM_EXE)},
        {"speeds", "Line speeds.", "LIST", "9600,115200"},
        {"modes", "extended and/or classic.", "LIST", "extended,classic"},
        {"fronts", "console and/or window.", "LIST", "console,window"},
        {"sides", "Stopping sides: sender and/or receiver.", "LIST", "sender,receiver"},
        {"block", "Extended mode: Stop once blocks of this many bytes are on the line (largest: 32763).", "BYTES",
         "32763"},
        {"jobs", "Cases run at once (each has its own cable and displays).", "N", "1"},
        {"stop-at", "The Stop button inside the window.", "X,Y", "500,160"},
        {"activate-at", "The Send files / Listen button inside the window.", "X,Y", "69,160"},
    });
    parser.process(app);

    Programs p{parser.value("cli"), parser.value("window"), parser.value("cable")};
    if (parser.isSet("build")) {
        const QString bin = parser.value("build") + QStringLiteral("/bin/");
        p = {bin + "velotrax-cli", bin + "velotrax", bin + "vnullmodem"};
    }
    for (const QString& program : {p.cli, p.window, p.cable})
        if (!QFileInfo(program).isExecutable()) {
            std::fprintf(stderr, "bench_stop: %s is no program\n", qPrintable(program));
            return 2;
        }
    StopSetup setup;
    setup.block = parser.value("block").toInt();
    const auto stopAt = Point(parser.value("stop-at")), activateAt = Point(parser.value("activate-at"));
    if (setup.block < 1024 || !stopAt || !activateAt) {
        std::fprintf(stderr, "bench_stop: bad --block, --stop-at or --activate-at\n");
        return 2;
    }
    setup.stopAt = *stopAt;
    setup.activateAt = *activateAt;
    setup.logDir = qEnvironmentVariable("VELOTRAX_BENCH_LOGS");

    QList<int> speeds;
    for (const QString& s : parser.value("speeds").split(u','))
        speeds << s.toInt();
    const QStringList modes = parser.value("modes").split(u','), fronts = parser.value("fronts").split(u','),
                      sides = parser.value("sides").split(u',');
    std::vector<StopCase> cases;
    // The slowest cases first, so that --jobs overlaps them.
    for (int baud : speeds)
        for (const QString& mode : modes)
            for (const QString& front : fronts)
                for (const QString& side : sides)
                    cases.push_back({baud, mode == u"classic", front == u"window", side == u"sender"});
    std::stable_sort(cases.begin(), cases.end(), [](const StopCase& a, const StopCase& b) {
        return std::make_pair(a.baud, a.classic) < std::make_pair(b.baud, b.classic);
    });

    qint64 largestStop = 0;
    for (const StopCase& c : cases)
        largestStop = std::max(largestStop, StopPoint(c, setup));
    // Enough that no run reaches the file's end before its Stop.
    setup.content = RandomContent(largestStop + 256 * 1024);
    std::printf("bench_stop: %s, %s, %s; f.bin %lld random bytes; Stop once the Receiver holds %lld bytes "
                "(extended: blocks of %d bytes on the line) or %d bytes (classic)\n",
                qPrintable(p.cli), qPrintable(p.window), qPrintable(p.cable), qlonglong(setup.content.size()),
                qlonglong(StopPoint({9600, false}, setup)), setup.block, setup.classicAt);
    std::fflush(stdout);

    std::vector<StopResult> results(cases.size());
    std::atomic<size_t> next{0};
    std::mutex print;
    const auto work = [&] {
        for (size_t i; (i = next++) < cases.size();) {
            results[i] = RunStopCase(p, setup, cases[i]);
            const std::lock_guard<std::mutex> lock(print);
            std::printf("%s: stopping side %s, other side %s (Receiver held %.0f bytes)%s\n",
                        qPrintable(cases[i].Name()), qPrintable(Cell(results[i].stopperMs, kStopperTargetMs)),
                        qPrintable(Cell(results[i].otherMs, kOtherTargetMs, results[i].otherInstead)), results[i].stoppedAtBytes,
                        results[i].note.isEmpty() ? "" : qPrintable(QStringLiteral("; ") + results[i].note));
            std::fflush(stdout);
        }
    };
    std::vector<std::thread> workers;
    for (int j = 0; j < std::max(1, parser.value("jobs").toInt()); ++j)
        workers.emplace_back(work);
    for (std::thread& t : workers)
        t.join();
    PrintTable(cases, results, speeds);
    return 0;
}
