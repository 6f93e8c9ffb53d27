// Sends a 256 KiB random file between two stations over the virtual
// null-modem cable at 115200 8N1 and prints the payload throughput as a share
// of the line's capacity, and the CPU time each station used. Each station
// runs on its own thread with its own event loop, so its CPU time is its own.
#include "Fso.h"
#include "RecordingUi.h"
#include "SerialCommPort.h"
#include "Station.h"
#include "cable_process.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {
double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// One station living on its own thread.
class StationThread : public QThread {
public:
    StationThread(QString dir, bool receiver, int waitMs, QString file)
        : m_dir(std::move(dir)), m_receiver(receiver), m_waitMs(waitMs), m_file(std::move(file)) {}
    double cpuSeconds = 0;
    double busySeconds = 0;
    QString result;
    std::atomic<bool> listening{false};
    std::atomic<bool> stop{false};

protected:
    void run() override
    {
        Globals g;
        g.programDir = m_dir;
        SerialCommPort port(m_dir);
        RecordingUi ui;
        Station station(g, port, ui);
        station.StartUp();
        g.waitBeforeSend = m_waitMs;
        ui.senderSelected = !m_receiver;
        ui.receivePathText = BuildPath(m_dir, "in");
        QDir().mkpath(ui.receivePathText);
        station.Disk().startDetached = [](const QString&, const QStringList&) { return true; };
        const double cpu0 = ThreadCpuSeconds();
        QElapsedTimer t;
        t.start();
        QEventLoop loop;
        QTimer poll;
        if (m_receiver) {
            station.Activate(false);
            listening = true;
            QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                if (stop || !port.PortOpen())
                    loop.quit();
            });
        } else {
            ui.nextDialogResult = m_file;
            station.Activate(false);
            QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                if (!port.PortOpen())
                    loop.quit();
            });
        }
        poll.start(20);
        loop.exec();
        busySeconds = double(t.nsecsElapsed()) / 1e9;
        cpuSeconds = ThreadCpuSeconds() - cpu0;
        result = ui.status2;
        if (port.PortOpen())
            station.ClosePort();
    }

private:
    QString m_dir;
    bool m_receiver;
    int m_waitMs;
    QString m_file;
};

bool RunOnce(int waitMs, qint64 size, int baud)
{
    QTemporaryDir a, b, src;
    const QString file = BuildPath(src.path(), "bench.bin");
    {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        QByteArray data(size, '\0');
        QRandomGenerator rng(42);
        for (char& c : data)
            c = char(rng.bounded(256));
        f.write(data);
    }
    vnm::CableProcess cable;
    if (!cable.start(VNULLMODEM_EXE, {"--link-a", BuildPath(a.path(), "COM1").toStdString(), "--link-b",
                                      BuildPath(b.path(), "COM1").toStdString(), "--baud", std::to_string(baud),
                                      "--step-ms", "1"})) {
        std::fprintf(stderr, "cable: %s\n", cable.error().c_str());
        return false;
    }
    // Both ends at the cable's speed (the settings file is read at start-up).
    for (const QString& d : {a.path(), b.path()}) {
        QFile ini(BuildPath(d, "qrn.ini"));
        ini.open(QIODevice::WriteOnly);
        ini.write(QStringLiteral("SPEED: %1\r\n").arg(baud).toLatin1());
    }
    StationThread receiver(b.path(), true, waitMs, {});
    StationThread sender(a.path(), false, waitMs, file);
    receiver.start();
    while (!receiver.listening)
        QThread::msleep(5);
    sender.start();
    sender.wait();
    receiver.stop = true;
    receiver.wait();

    QFile got(BuildPath(BuildPath(b.path(), "in"), "bench.bin"));
    QFile sent(file);
    got.open(QIODevice::ReadOnly);
    sent.open(QIODevice::ReadOnly);
    const bool same = got.readAll() == sent.readAll();
    const double capacity = baud / 10.0;
    const double rate = double(size) / sender.busySeconds;
    std::printf("%7d baud  pause %d ms  %6.1f KiB in %6.2f s  %8.0f B/s  %5.1f %% of line  "
                "CPU sender %4.2f %%  receiver %4.2f %%  %s%s\n",
                baud, waitMs, size / 1024.0, sender.busySeconds, rate, 100.0 * rate / capacity,
                100.0 * sender.cpuSeconds / sender.busySeconds, 100.0 * receiver.cpuSeconds / sender.busySeconds,
                qPrintable(sender.result), same ? "" : "  FILE DIFFERS");
    std::fflush(stdout);
    return same;
}
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qint64 size = 256 * 1024;
    QList<int> bauds{115200};
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--size")
            size = args[i + 1].toLongLong();
        if (args[i] == "--baud")
            bauds = {args[i + 1].toInt()};
    }
    bool ok = true;
    for (int baud : bauds)
        for (int waitMs : {2, 0})
            ok = RunOnce(waitMs, size, baud) && ok;
    return ok ? 0 : 1;
}
