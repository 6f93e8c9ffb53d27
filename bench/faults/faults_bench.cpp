// Sends one random file with velotrax-cli over the virtual cable with seeded
// faults, to a receiver of choice, and prints for every run the fault, the
// seed, the outcome (intact / corrupted / error N / hang) and the throughput
// as a share of the line's capacity (baud / 10 bytes per second), timed from
// the Sender's start to its exit.
//
//   bench_faults [--receiver spec|velotrax] [--baud N] [--size BYTES]
//                [--seeds N] [--deadline-s S] [FAULT=RATE ...]
// FAULT is a vnullmodem fault option without its dashes (ber, drop-rate,
// noise-rate), applied in both directions; default: clean, and ber and
// drop-rate at 1e-5 and 1e-4.
#include "cable_process.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

namespace {

struct Options {
    QString receiver = QStringLiteral("spec");
    int baud = 115200;
    qint64 size = 128 * 1024;
    int seeds = 5;
    int deadlineS = 0;  // 0: twenty times the clean transfer time, at least two minutes
    QStringList faults;
};

struct Outcome {
    QString text;
    double seconds = 0;
};

bool WaitEnd(QProcess& p, qint64 ms)
{
    return p.waitForFinished(int(std::min<qint64>(ms, INT_MAX)));
}

Outcome RunOnce(const Options& o, const QString& fault, quint64 seed)
{
    QTemporaryDir dir;
    const QString in = dir.filePath("in"), out = dir.filePath("out");
    QDir().mkpath(in);
    QDir().mkpath(out);
    QRandomGenerator rng(quint32(seed * 7919 + 1));
    QByteArray content(o.size, '\0');
    for (char& c : content)
        c = char(rng.bounded(256));
    const QString file = out + "/f.bin";
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    f.close();

    std::vector<std::string> args{"--baud", std::to_string(o.baud), "--seed", std::to_string(seed),
                                  "--link-a", dir.filePath("A").toStdString(), "--link-b",
                                  dir.filePath("B").toStdString()};
    if (!fault.isEmpty()) {
        const QStringList kv = fault.split('=');
        args.push_back("--" + kv[0].toStdString());
        args.push_back(kv.value(1).toStdString());
    }
    vnm::CableProcess cable;
    if (!cable.start(VNULLMODEM_EXE, args))
        return {QStringLiteral("cable failed: ") + QString::fromStdString(cable.error())};

    QProcess rx, tx;
    if (o.receiver == u"spec")
        rx.start(SPEC_PEER_EXE, {"receive", "--port", dir.filePath("B"), "--dir", in, "--once"});
    else
        rx.start(VELOTRAX_CLI_EXE, {"receive", "--port", dir.filePath("B"), "--speed", QString::number(o.baud),
                                    "--once", "--keep-temp", in});
    rx.waitForStarted();
    QThread::msleep(300);  // the receiver opens its port

    const double lineSeconds = double(o.size) * 10 / o.baud;
    const qint64 deadlineMs = o.deadlineS > 0 ? qint64(o.deadlineS) * 1000
                                              : std::max<qint64>(120000, qint64(lineSeconds * 20000));
    QElapsedTimer t;
    t.start();
    tx.start(VELOTRAX_CLI_EXE, {"send", "--port", dir.filePath("A"), "--speed", QString::number(o.baud), file});
    const bool ended = WaitEnd(tx, deadlineMs);
    Outcome r;
    r.seconds = double(t.elapsed()) / 1000;
    if (!ended) {
        tx.kill();
        tx.waitForFinished();
        r.text = QStringLiteral("hang");
    } else if (tx.exitStatus() != QProcess::NormalExit) {
        r.text = QStringLiteral("crash");
    } else if (tx.exitCode() != 0) {
        r.text = QStringLiteral("error ") + QString::number(tx.exitCode());
    } else {
        QFile got(in + "/f.bin");
        r.text = got.open(QIODevice::ReadOnly) && got.readAll() == content ? QStringLiteral("intact")
                                                                           : QStringLiteral("corrupted");
    }
    if (!WaitEnd(rx, 5000))
        rx.kill();
    rx.waitForFinished();
    return r;
}

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
            std::fprintf(stderr, "bench_faults: unknown argument %s\n", qPrintable(a[i]));
            return 2;
        }
    }
    if (o.faults.isEmpty())
        o.faults = QStringList{"", "ber=1e-5", "ber=1e-4", "drop-rate=1e-5", "drop-rate=1e-4"};

    std::printf("receiver %s, %lld bytes at %d baud (line capacity %d B/s)\n", qPrintable(o.receiver),
                static_cast<long long>(o.size), o.baud, o.baud / 10);
    std::printf("| fault | seed | outcome | seconds | of line capacity |\n|---|---|---|---|---|\n");
    for (const QString& fault : o.faults) {
        for (int seed = 1; seed <= o.seeds; ++seed) {
            const Outcome r = RunOnce(o, fault, quint64(seed));
            const double share = r.text == u"intact" ? double(o.size) / r.seconds / (o.baud / 10.0) * 100 : 0;
            std::printf("| %s | %d | %s | %.1f | %.1f %% |\n", fault.isEmpty() ? "clean" : qPrintable(fault), seed,
                        qPrintable(r.text), r.seconds, share);
            std::fflush(stdout);
        }
    }
    return 0;
}
