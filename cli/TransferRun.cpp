#include "TransferRun.h"
#include "CliSession.h"
#include "StdioCommPort.h"
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

volatile sig_atomic_t g_signalsSeen = 0;

extern "C" void OnStopSignal(int signal)
{
    const sig_atomic_t seen = g_signalsSeen;
    g_signalsSeen = seen + 1;
    if (seen > 0) {
        // The stop itself hangs: end now, with the terminal as it was.
        StdioCommPort::RestoreTerminalsNow();
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    const char byte = char(signal);
    // Nothing else is safe here; the event loop reads the pipe.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// A closed standard output or error stops the run like Ctrl-C; every later
// write there fails again, which must not count as a second signal.
volatile sig_atomic_t g_brokenPipeSeen = 0;

extern "C" void OnBrokenPipe(int)
{
    if (g_brokenPipeSeen)
        return;
    g_brokenPipeSeen = 1;
    const char byte = char(SIGPIPE);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// Ctrl-C, SIGTERM and SIGHUP (the terminal closed) reach the session through
// the event loop. A second one ends the program at once should the stop itself hang.
std::unique_ptr<QSocketNotifier> WatchStopSignals(CliSession& session, bool stdio)
{
    if (::pipe(g_signalPipe) != 0)
        return nullptr;
    for (int fd : g_signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    // With --stdio standard output is the line: its end is a port failure.
    if (stdio) {
        ::signal(SIGPIPE, SIG_IGN);
    } else {
        struct sigaction pipe {};
        pipe.sa_handler = OnBrokenPipe;
        sigemptyset(&pipe.sa_mask);
        pipe.sa_flags = SA_RESTART;
        ::sigaction(SIGPIPE, &pipe, nullptr);
    }
    auto notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &session, [&session] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        session.Interrupt();
    });
    return notifier;
}

bool StderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}
#else
std::unique_ptr<QSocketNotifier> WatchStopSignals(CliSession&, bool)
{
    return nullptr;
}

bool StderrIsTerminal()
{
    return false;
}
#endif

}  // namespace

int RunTransfer(const CliOptions& o)
{
    CliSession session(o, QCoreApplication::applicationDirPath(), {}, StderrIsTerminal());
    QString why;
    if (!session.Usable(why)) {
        std::fprintf(stderr, "velotrax-cli: %s\n", qPrintable(why));
        return CliExit::Failed;
    }
    const std::unique_ptr<QSocketNotifier> stopSignals = WatchStopSignals(session, o.stdio);
    session.Start();
    return QCoreApplication::exec();
}
