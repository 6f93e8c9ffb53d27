#include "CliOptions.h"
#include "VelotraxVersion.h"
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <optional>

namespace {

// Every option of every command; which command takes which is in CliCommands().
const QList<QCommandLineOption>& AllOptions()
{
    static const QList<QCommandLineOption> options = {
        {{"h", "help"}, "help"},
        {{"V", "version"}, "version"},
        {"port", "serial device", "DEVICE"},
        {"com", "port number", "N"},
        {"speed", "line speed", "BAUD"},
        {"wait-ms", "pause before every write", "MS"},
        {"stdio", "standard input and output as the line"},
        {"classic", "classic protocol only"},
        {"no-compress", "no compression"},
        {"no-reference", "each block compressed alone"},
        {"log", "debug log", "FILE"},
        {"log-level", "debug log level", "N"},
        {"progress", "progress line"},
        {{"q", "quiet"}, "no progress line"},
        {{"v", "verbose"}, "activity line"},
        {"restart", "continue one file"},
        {"from", "the folder the broken run was sent from", "DIR"},
        {"retries", "retries when no listener answers", "N"},
        {"once", "end after one run"},
        {"delete-temp", "delete the temp file after a Stop"},
        {"keep-temp", "keep the temp file after a Stop"},
        {"reopen-timeout", "wait for a failed port", "SEC"},
        {"idle-timeout", "give up a file whose sender fell silent", "SEC"},
    };
    return options;
}

// The long name of an option as given ("v" -> "verbose").
QString LongName(const QString& given)
{
    for (const QCommandLineOption& option : AllOptions())
        if (option.names().contains(given))
            return option.names().constLast();
    return given;
}

QString Dashed(const QString& name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

std::optional<qint64> StrictNumber(const QString& text, qint64 low, qint64 high)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,12}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const qint64 v = text.toLongLong();
    if (v < low || v > high)
        return std::nullopt;
    return v;
}

const CliCommand* FindCommand(const QString& name)
{
    for (const CliCommand& c : CliCommands())
        if (c.name == name)
            return &c;
    return nullptr;
}

QString CommandList()
{
    QStringList names;
    for (const CliCommand& c : CliCommands())
        names << c.name;
    const QString last = names.takeLast();
    return names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

struct Reader {
    const QCommandLineParser& parser;
    CliOptions& o;
    QString error;

    bool Fail(const QString& text)
    {
        if (error.isEmpty())
            error = text;
        return false;
    }
    bool Has(const char* name) const { return parser.isSet(QLatin1String(name)); }
    QString Value(const char* name) const { return parser.value(QLatin1String(name)); }

    void Number(const char* name, qint64 low, qint64 high, qint32& into)
    {
        if (!Has(name))
            return;
        const QString value = Value(name);
        const std::optional<qint64> v = StrictNumber(value, low, high);
        if (!v) {
            Fail(QStringLiteral("--%1 wants a whole number from %2 to %3, not '%4'")
                     .arg(QLatin1String(name)).arg(low).arg(high).arg(value));
            return;
        }
        into = qint32(*v);
    }

    // Options the command does not take, named with the commands that do.
    bool CheckScope()
    {
        for (const QString& given : parser.optionNames()) {
            const QString name = LongName(given);
            if (o.command->options.contains(name))
                continue;
            QStringList takers;
            for (const CliCommand& c : CliCommands())
                if (c.options.contains(name))
                    takers << c.name;
            return Fail(QStringLiteral("--%1 is an option of %2 only").arg(name, takers.join(QStringLiteral(" and "))));
        }
        return true;
    }

    void Read()
    {
        if (Has("port")) {
            o.device = Value("port");
            if (o.device.isEmpty())
                Fail(QStringLiteral("--port wants a device path"));
        }
        Number("com", 1, 32767, o.comPort);
        Number("speed", 1, 2147483647, o.speed);
        Number("wait-ms", 0, 60000, o.waitMs);
        if (Has("log")) {
            if (Value("log").isEmpty())
                Fail(QStringLiteral("--log wants a file name"));
            else
                o.logFile = QFileInfo(Value("log")).absoluteFilePath();
        }
        Number("log-level", 0, 100, o.logLevel);
        Number("retries", 0, 1000, o.retries);
        qint32 seconds = o.reopenTimeoutMs / 1000;
        Number("reopen-timeout", 0, 86400, seconds);
        o.reopenTimeoutMs = seconds * 1000;
        qint32 idle = o.idleTimeoutMs / 1000;
        Number("idle-timeout", 1, 86400, idle);
        o.idleTimeoutMs = idle * 1000;
        o.stdio = Has("stdio");
        o.classic = Has("classic");
        o.compress = !Has("no-compress");
        o.reference = !Has("no-reference");
        o.progress = Has("progress");
        o.quiet = Has("quiet");
        o.verbose = Has("verbose");
        o.restart = Has("restart");
        if (Has("from")) {
            if (Value("from").isEmpty() || !QFileInfo(Value("from")).isDir())
                Fail(QStringLiteral("--from wants the folder the run was sent from"));
            else
                o.from = QDir::cleanPath(QFileInfo(Value("from")).absoluteFilePath());
        }
        o.once = Has("once");
        o.deleteTemp = Has("delete-temp");

        if (!o.device.isEmpty() && Has("com"))
            Fail(QStringLiteral("give either --port DEVICE or --com N, not both"));
        if (o.stdio && (Has("port") || Has("com")))
            Fail(QStringLiteral("give either --stdio or a port, not both"));
        if (Has("log-level") && o.logFile.isEmpty())
            Fail(QStringLiteral("--log-level needs --log FILE"));
        if (Has("keep-temp") && o.deleteTemp)
            Fail(QStringLiteral("give either --keep-temp or --delete-temp, not both"));
    }
};

}  // namespace

QString CliOptions::CommandName() const
{
    return command ? command->name : QString();
}

QString CliOptions::FileDialogResult() const
{
    if (files.size() == 1 && !from.isEmpty())
        return from + QChar(0) + QDir(from).relativeFilePath(files[0]);
    if (files.size() == 1)
        return files[0];
    if (files.isEmpty())
        return QString();
    QString result = QFileInfo(files[0]).absolutePath();
    for (const QString& f : files)
        result += QChar(0) + QFileInfo(f).fileName();
    return result;
}

CliParseResult ParseCommandLine(const QStringList& args)
{
    CliParseResult r;
    CliOptions& o = r.options;
    QCommandLineParser parser;
    parser.addOptions(AllOptions());
    const bool parsed = parser.parse(QStringList{QStringLiteral("velotrax-cli")} + args);
    // Help and version win over everything else, mistakes included.
    o.help = parser.isSet(QStringLiteral("help"));
    o.version = !o.help && parser.isSet(QStringLiteral("version"));
    if (o.help || o.version)
        return r;
    if (!parsed) {
        const QStringList unknown = parser.unknownOptionNames();
        r.error = unknown.isEmpty() ? parser.errorText() : QStringLiteral("unknown option '%1'").arg(Dashed(unknown[0]));
        return r;
    }

    QStringList operands = parser.positionalArguments();
    if (operands.isEmpty()) {
        r.error = QStringLiteral("no command given (%1)").arg(CommandList());
        return r;
    }
    const QString name = operands.takeFirst();
    o.command = FindCommand(name);
    if (!o.command) {
        r.error = QStringLiteral("unknown command '%1' (use %2)").arg(name, CommandList());
        return r;
    }
    Reader reader{parser, o, {}};
    if (reader.CheckScope())
        reader.Read();
    r.error = reader.error;
    if (r.error.isEmpty())
        r.error = o.command->takeOperands(operands, o);
    return r;
}

QString VersionText()
{
    return QStringLiteral("velotrax-cli " VELOTRAX_VERSION "\n");
}

QString UsageText()
{
    return QStringLiteral(
        "Usage:\n"
        "  velotrax-cli send    [line options] [--restart [--from DIR]] [--retries N]\n"
        "                       [--reopen-timeout SEC] FILE...\n"
        "  velotrax-cli receive [line options] [--once] [--keep-temp | --delete-temp]\n"
        "                       [--reopen-timeout SEC] [--idle-timeout SEC] DIR\n"
        "  velotrax-cli ports   (lists the serial ports the system reports)\n"
        "  velotrax-cli --help | --version\n"
        "\n"
        "Copies files over a serial line to or from Velotrax (desktop or console).\n"
        "\n"
        "Line options:\n"
        "  --port DEVICE      the serial device, e.g. /dev/ttyUSB0 (or a link to one)\n"
        "  --com N            port number N as the desktop program maps it: the file COMN\n"
        "                     in its settings folder (beside this program, or\n"
        "                     ~/.config/Velotrax when installed) if there is one, else\n"
        "                     /dev/ttyS<N-1> (default 1)\n"
        "  --speed BAUD       line speed, no parity, 8 data bits, 1 stop bit (default 115200)\n"
        "  --wait-ms MS       pause before every block written (default 2)\n"
        "  --stdio            the line is standard input and output instead of a port, for\n"
        "                     a terminal program's file transfer command or an ssh pipe\n"
        "  --classic          classic protocol only, as the original program speaks it;\n"
        "                     without it two copies of Velotrax agree on the extended mode\n"
        "  --no-compress      do not compress data in the extended mode\n"
        "  --no-reference     compress each block alone, not against the bytes before it\n"
        "                     (as earlier versions do)\n"
        "  --log FILE         append a debug log of the traffic to FILE\n"
        "  --log-level N      0 = lines only (default), above 0 also byte dumps\n"
        "  --progress         show the progress line even when standard error is no terminal\n"
        "                     (with --stdio it is shown anyway: a terminal program shows it)\n"
        "  -q, --quiet        no progress line\n"
        "  -v, --verbose      also show the activity line\n"
        "\n"
        "send:\n"
        "  FILE...            the files and folders to send, all in one folder; a folder\n"
        "                     goes with everything in it under its own name, as cp -r\n"
        "                     puts it (extended mode only); symbolic links and special\n"
        "                     files are skipped, never followed\n"
        "  --restart          continue one FILE whose transfer broke off; the receiver\n"
        "                     must have kept its temp file\n"
        "  --from DIR         with --restart: the folder the broken run was sent from, for\n"
        "                     a FILE that went inside a folder (its folder below DIR)\n"
        "  --retries N        when no listener answers, try again N times (default 5)\n"
        "  --reopen-timeout SEC\n"
        "                     when the port fails inside a file, wait this long for it to\n"
        "                     come back (the same device, or the same USB adapter under\n"
        "                     another name) and go on with the file (default 60)\n"
        "\n"
        "receive:\n"
        "  DIR                received files are written here, replacing files of the same name;\n"
        "                     the folders a sender names are made inside it, never through\n"
        "                     a symbolic link\n"
        "  --once             end after one run of files instead of listening until Ctrl-C\n"
        "  --keep-temp        after a Stop keep the temp file of a broken file (default)\n"
        "  --delete-temp      after a Stop delete it\n"
        "  --reopen-timeout SEC\n"
        "                     when the port fails inside a file, wait this long for it to\n"
        "                     come back and continue the file (default 60)\n"
        "  --idle-timeout SEC when the sender falls silent inside a file this long, give\n"
        "                     the file up and keep its temp file for --restart (default 300);\n"
        "                     without --once the receiver listens on, and a new sender is\n"
        "                     taken at once when the line has been quiet for a second\n"
        "\n"
        "Exit status: 0 all files arrived (receive --once: the run ended normally);\n"
        "1 failed without an error number (port, folder, no listener); 2 bad usage;\n"
        "3 the other side pressed Stop; 4 to 18 the number of the error that ended the\n"
        "transfer (18: the receiving program takes no folders); 124 receive --once: the\n"
        "sender fell silent inside a file (--idle-timeout); 130 interrupted (Ctrl-C,\n"
        "SIGTERM, SIGHUP or a closed output stop the other side too). Without --once the\n"
        "receiver reports a run that ended in error and listens on.\n");
}
