// One file sent by a velotrax-cli Sender over the virtual cable to a Receiver
// of choice, as the benchmark programs run it: the outcome, the time from the
// Sender's start to its exit, and each side's CPU time and peak memory.
#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace bench {

// What a finished process used.
struct Usage {
    double cpuSeconds = 0;  // user + system
    long maxRssKiB = 0;
};

struct RunSetup {
    int baud = 115200;
    QStringList cableOptions;  // more vnullmodem options: faults, latency, seed
    QStringList cliOptions;    // given to every velotrax-cli: --classic, --wait-ms 0, ...
    QString cli;               // the velotrax-cli to run; empty: the one built here
    // The Receiver's command line (program first) for its port and folder;
    // empty: velotrax-cli receive --once --keep-temp.
    std::function<QStringList(const QString& port, const QString& dir)> receiver;
    qint64 deadlineMs = 0;  // 0: twenty times the time the line needs, at least two minutes
};

struct RunResult {
    QString outcome;      // intact, corrupted, error N, crash, hang, or why the run could not start
    double seconds = 0;   // from the Sender's start to its exit
    int senderExit = -1;  // -1: killed or crashed
    int receiverExit = -1;
    Usage sender, receiver;

    bool Intact() const { return outcome == u"intact"; }
    // Throughput as a share of the line's capacity (baud / 10 bytes per second), in %.
    double SharePercent(qint64 bytes, int baud) const;
    // CPU of one side over the transfer's wall time, in % of one core.
    double CpuPercent(const Usage& side) const;
};

// Sends `content` as f.bin and compares what arrived byte for byte.
RunResult RunTransfer(const RunSetup& setup, const QByteArray& content);

QByteArray RandomContent(qint64 size, quint64 seed);
double Median(std::vector<double> values);

}  // namespace bench
