// velotrax-cli: the console front end of Velotrax on the same core as the
// desktop program, speaking the same protocol.
#include "CliOptions.h"
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velotrax-cli"));

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
    return o.command->run(o);
}
