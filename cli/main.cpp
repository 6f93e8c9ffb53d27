// velotrax-cli: the console front end of Velotrax on the same core as the
// desktop program, speaking the same protocol.
#include "CliOptions.h"
#include "CliSession.h"
#include "PortsCommand.h"
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

extern "C" void OnStopSignal(int signal)
{
    const char byte = char(signal);
    // Nothing else is safe here; the event loop reads the pipe.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// Ctrl-C and SIGTERM reach the session through the event loop. The handler
// goes back to the default after the first signal, so a second Ctrl-C ends
// the program at once should the stop itself hang.
std::unique_ptr<QSocketNotifier> WatchStopSignals(CliSession& session)
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
    sa.sa_flags = SA_RESETHAND | SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
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
std::unique_ptr<QSocketNotifier> WatchStopSignals(CliSession&)
{
    return nullptr;
}

bool StderrIsTerminal()
{
    return false;
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velotrax-cli"));

    if (QCoreApplication::arguments().mid(1) == QStringList{QStringLiteral("ports")})
        return PrintSerialPorts(stdout);
    const CliParseResult parsed = ParseCommandLine(QCoreApplication::arguments().mid(1));
    if (!parsed.Ok()) {
        std::fprintf(stderr, "velotrax-cli: %s\nTry 'velotrax-cli --help'.\n", qPrintable(parsed.error));
        return CliExit::Usage;
    }
    const CliOptions& o = parsed.options;
    if (o.help) {
        std::fputs(qPrintable(UsageText()), stdout);
        return CliExit::Ok;
    }
    if (o.version) {
        std::fputs(qPrintable(VersionText()), stdout);
        return CliExit::Ok;
    }

    CliSession session(o, QCoreApplication::applicationDirPath(), {}, StderrIsTerminal());
    QString why;
    if (!session.Usable(why)) {
        std::fprintf(stderr, "velotrax-cli: %s\n", qPrintable(why));
        return CliExit::Failed;
    }
    const std::unique_ptr<QSocketNotifier> stopSignals = WatchStopSignals(session);
    session.Start();
    return app.exec();
}
