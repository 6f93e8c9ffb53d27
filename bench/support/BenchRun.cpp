#include "BenchRun.h"
#include "cable_process.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace bench {
namespace {

constexpr int kPollMs = 1;
constexpr int kReceiverHeadStartMs = 300;  // the receiver opens its port
constexpr int kReceiverEndMs = 5000;

// A child process whose CPU time and peak memory are read when it is reaped
// (QProcess reaps its children itself and keeps their rusage).
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child()
    {
        if (m_pid > 0)
            Kill();
    }

    bool Start(const QStringList& args)
    {
        std::vector<std::string> text;
        for (const QString& a : args)
            text.push_back(a.toStdString());
        std::vector<char*> argv;
        for (std::string& a : text)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            m_pid = -1;
        return rc == 0;
    }

    // True once it ended, within `ms`.
    bool Wait(qint64 ms)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            if (Reap(WNOHANG))
                return true;
            if (t.elapsed() >= ms)
                return false;
            QThread::msleep(kPollMs);
        }
    }

    void Kill()
    {
        ::kill(m_pid, SIGKILL);
        Reap(0);
    }

    int exitCode = -1;  // -1: killed or crashed
    bool crashed = false;
    Usage usage;

private:
    bool Reap(int flags)
    {
        if (m_pid <= 0)
            return true;
        int status = 0;
        rusage ru{};
        if (wait4(m_pid, &status, flags, &ru) != m_pid)
            return false;
        m_pid = -1;
        exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        crashed = !WIFEXITED(status);
        usage.cpuSeconds = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
                           + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
        usage.maxRssKiB = ru.ru_maxrss;
        return true;
    }

    pid_t m_pid = -1;
};

std::vector<std::string> Std(const QStringList& list)
{
    std::vector<std::string> out;
    for (const QString& s : list)
        out.push_back(s.toStdString());
    return out;
}

bool WriteFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

}  // namespace

double RunResult::SharePercent(qint64 bytes, int baud) const
{
    return seconds > 0 ? double(bytes) / seconds / (baud / 10.0) * 100 : 0;
}

double RunResult::CpuPercent(const Usage& side) const
{
    return seconds > 0 ? 100 * side.cpuSeconds / seconds : 0;
}

RunResult RunTransfer(const RunSetup& setup, const QByteArray& content)
{
    RunResult r;
    QTemporaryDir dir;
    const QString in = dir.filePath("in"), out = dir.filePath("out");
    const QString portA = dir.filePath("A"), portB = dir.filePath("B");
    const QString file = out + "/f.bin";
    if (!dir.isValid() || !QDir().mkpath(in) || !QDir().mkpath(out) || !WriteFile(file, content)) {
        r.outcome = QStringLiteral("no temp folder");
        return r;
    }
    const QString baud = QString::number(setup.baud);
    vnm::CableProcess cable;
    if (!cable.start(VNULLMODEM_EXE, Std(QStringList{"--baud", baud, "--link-a", portA, "--link-b", portB}
                                         + setup.cableOptions))) {
        r.outcome = QStringLiteral("cable failed: ") + QString::fromStdString(cable.error());
        return r;
    }

    Child rx, tx;
    QStringList cli{"--speed", baud};
    // VELOTRAX_BENCH_LOGS=DIR keeps both sides' debug logs of every run there.
    static int run = 0;
    const QString logs = qEnvironmentVariable("VELOTRAX_BENCH_LOGS");
    const auto logOf = [&](const char* side) {
        return logs.isEmpty() ? QStringList{}
                              : QStringList{"--log", QStringLiteral("%1/run%2-%3.log").arg(logs).arg(run).arg(side)};
    };
    ++run;
    const QString exe = setup.cli.isEmpty() ? QStringLiteral(VELOTRAX_CLI_EXE) : setup.cli;
    const QStringList rxArgs = setup.receiver ? setup.receiver(portB, in)
                                              : QStringList{exe, "receive", "--port", portB} + cli
                                                    + setup.cliOptions + logOf("rx")
                                                    + QStringList{"--once", "--keep-temp", in};
    if (!rx.Start(rxArgs)) {
        r.outcome = QStringLiteral("receiver failed to start");
        return r;
    }
    QThread::msleep(kReceiverHeadStartMs);

    const double lineSeconds = double(content.size()) * 10 / setup.baud;
    const qint64 deadlineMs = setup.deadlineMs > 0 ? setup.deadlineMs
                                                   : std::max<qint64>(120000, qint64(lineSeconds * 20000));
    QElapsedTimer t;
    t.start();
    if (!tx.Start(QStringList{exe, "send", "--port", portA} + cli + setup.cliOptions + logOf("tx")
                  + QStringList{file})) {
        r.outcome = QStringLiteral("sender failed to start");
        return r;
    }
    const bool ended = tx.Wait(deadlineMs);
    r.seconds = double(t.nsecsElapsed()) / 1e9;
    if (!ended)
        tx.Kill();
    if (!rx.Wait(kReceiverEndMs))
        rx.Kill();

    if (!ended) {
        r.outcome = QStringLiteral("hang");
    } else if (tx.crashed) {
        r.outcome = QStringLiteral("crash");
    } else if (tx.exitCode != 0) {
        r.outcome = QStringLiteral("error ") + QString::number(tx.exitCode);
    } else {
        QFile got(in + "/f.bin");
        r.outcome = got.open(QIODevice::ReadOnly) && got.readAll() == content ? QStringLiteral("intact")
                                                                              : QStringLiteral("corrupted");
    }
    r.senderExit = tx.exitCode;
    r.receiverExit = rx.exitCode;
    r.sender = tx.usage;
    r.receiver = rx.usage;
    return r;
}

QByteArray RandomContent(qint64 size, quint64 seed)
{
    QRandomGenerator rng(quint32(seed * 7919 + 1));
    QByteArray content(size, '\0');
    for (char& c : content)
        c = char(rng.bounded(256));
    return content;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace bench
