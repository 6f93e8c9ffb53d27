// Ctrl-C on a velotrax-cli in the middle of a file: SIGINT to the Sender or
// the Receiver; that side is done when it has exited, the other side when it
// says "other side pressed Stop" (or exits).
#include "Child.h"
#include "StopRun.h"
#include "cable_process.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>

namespace stopbench {

namespace {
constexpr int kListenMs = 10000;
const QString kReported = QStringLiteral("other side pressed Stop");

bool WriteFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

// When the other side showed the Stop: its line, or its exit with status 3
// should it say nothing. Ending with an error is no report of the Stop.
double Reported(const Child& other)
{
    const double line = other.LineAt(kReported);
    return line >= 0 || other.exitCode != 3 ? line : other.endedAtMs;
}
}  // namespace

StopResult RunConsole(const Programs& p, const StopSetup& s, const StopCase& c)
{
    StopResult r;
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in")), file = dir.filePath(QStringLiteral("f.bin"));
    if (!dir.isValid() || !QDir().mkpath(in) || !WriteFile(file, s.content)) {
        r.note = QStringLiteral("no temp folder");
        return r;
    }
    const QString baud = QString::number(c.baud);
    vnm::CableProcess cable;
    if (!cable.start(p.cable.toStdString(),
                     {"--baud", baud.toStdString(), "--link-a", dir.filePath("A").toStdString(), "--link-b",
                      dir.filePath("B").toStdString()})) {
        r.note = QStringLiteral("cable: ") + QString::fromStdString(cable.error());
        return r;
    }
    QStringList common{QStringLiteral("--speed"), baud};
    if (c.classic)
        common << QStringLiteral("--classic");
    const auto log = [&](const char* side) {
        return s.logDir.isEmpty() ? QStringList{}
                                  : QStringList{QStringLiteral("--log"),
                                                QStringLiteral("%1/%2-%3.log")
                                                    .arg(s.logDir, QString(c.Name()).replace(u' ', u'_').remove(u','),
                                                         QLatin1String(side))};
    };

    Child rx, tx;
    if (!rx.Start(QStringList{p.cli, QStringLiteral("receive"), QStringLiteral("--port"), dir.filePath("B")} + common
                  + log("rx") + QStringList{QStringLiteral("--once"), in})) {
        r.note = QStringLiteral("the Receiver did not start");
        return r;
    }
    const double listenUntil = NowMs() + kListenMs;
    while (rx.LineAt(QStringLiteral("listening on")) < 0 && rx.Poll() && NowMs() < listenUntil)
        SleepMs(5);
    if (rx.LineAt(QStringLiteral("listening on")) < 0) {
        r.note = QStringLiteral("the Receiver does not listen: ") + rx.Text().trimmed();
        return r;
    }
    if (!tx.Start(QStringList{p.cli, QStringLiteral("send"), QStringLiteral("--port"), dir.filePath("A")} + common
                  + log("tx") + QStringList{file})) {
        r.note = QStringLiteral("the Sender did not start");
        return r;
    }
    if (!WaitForStopPoint(c, s, in, [&] { return rx.Poll() && tx.Poll(); }, r.note)) {
        r.note += QStringLiteral(": ") + (rx.Text() + tx.Text()).simplified().left(300);
        return r;
    }
    r.stoppedAtBytes = double(TempFileBytes(in));

    Child& stopper = c.senderStops ? tx : rx;
    Child& other = c.senderStops ? rx : tx;
    const double t0 = NowMs();
    stopper.Signal(SIGINT);
    const double until = t0 + kAfterStopMs;
    for (;;) {
        const bool stopperRuns = stopper.Poll();
        other.Poll();
        const bool otherDone = Reported(other) >= 0 || other.endedAtMs >= 0;
        if ((!stopperRuns && otherDone) || NowMs() >= until)
            break;
        SleepMs(1);
    }
    if (stopper.endedAtMs >= 0)
        r.stopperMs = stopper.endedAtMs - t0;
    if (Reported(other) >= 0)
        r.otherMs = Reported(other) - t0;
    // Ctrl-C ends with 130, the side told of the Stop with 3.
    QStringList odd;
    if (stopper.endedAtMs >= 0 && stopper.exitCode != 130)
        odd << QStringLiteral("stopping side exit %1").arg(stopper.exitCode);
    other.Wait(2000);
    if (other.endedAtMs >= 0 && other.exitCode != 3)
        odd << QStringLiteral("other side exit %1").arg(other.exitCode);
    if (r.otherMs < 0 && other.endedAtMs >= 0)
        r.otherInstead = QStringLiteral("exit %1 at %2 ms").arg(other.exitCode).arg(other.endedAtMs - t0, 0, 'f', 0);
    r.note = odd.join(QStringLiteral(", "));
    return r;
}

}  // namespace stopbench
