#include "CliOptions.h"
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <optional>

#ifndef VELOTRAX_VERSION
#define VELOTRAX_VERSION "1.00"
#endif

namespace {

enum class For { Both, Send, Receive };

struct OptionSpec {
    const char* name;
    bool takesValue;
    For scope;
};

constexpr OptionSpec kOptions[] = {
    {"--port", true, For::Both},          {"--com", true, For::Both},
    {"--speed", true, For::Both},         {"--wait-ms", true, For::Both},
    {"--log", true, For::Both},           {"--log-level", true, For::Both},
    {"--progress", false, For::Both},     {"--verbose", false, For::Both},
    {"--restart", false, For::Send},      {"--retries", true, For::Send},
    {"--once", false, For::Receive},      {"--delete-temp", false, For::Receive},
    {"--keep-temp", false, For::Receive}, {"--reopen-timeout", true, For::Receive},
};

const OptionSpec* FindOption(const QString& name)
{
    for (const OptionSpec& o : kOptions)
        if (name == QLatin1String(o.name))
            return &o;
    return nullptr;
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

struct Parser {
    CliParseResult r;
    CliOptions& o = r.options;
    QStringList given;  // options seen, for the scope checks
    bool comGiven = false, logLevelGiven = false, keepTemp = false;

    bool Fail(const QString& text)
    {
        if (r.error.isEmpty())
            r.error = text;
        return false;
    }

    bool Number(const QString& option, const QString& value, qint64 low, qint64 high, qint32& into)
    {
        const std::optional<qint64> v = StrictNumber(value, low, high);
        if (!v)
            return Fail(QStringLiteral("%1 wants a whole number from %2 to %3, not '%4'")
                            .arg(option).arg(low).arg(high).arg(value));
        into = qint32(*v);
        return true;
    }

    bool Apply(const QString& option, const QString& value)
    {
        given << option;
        if (option == u"--port") {
            if (value.isEmpty())
                return Fail(QStringLiteral("--port wants a device path"));
            o.device = value;
        } else if (option == u"--com") {
            comGiven = true;
            return Number(option, value, 1, 32767, o.comPort);
        } else if (option == u"--speed") {
            return Number(option, value, 1, 2147483647, o.speed);
        } else if (option == u"--wait-ms") {
            return Number(option, value, 0, 60000, o.waitMs);
        } else if (option == u"--log") {
            if (value.isEmpty())
                return Fail(QStringLiteral("--log wants a file name"));
            o.logFile = QFileInfo(value).absoluteFilePath();
        } else if (option == u"--log-level") {
            logLevelGiven = true;
            return Number(option, value, 0, 100, o.logLevel);
        } else if (option == u"--progress") {
            o.progress = true;
        } else if (option == u"--verbose") {
            o.verbose = true;
        } else if (option == u"--restart") {
            o.restart = true;
        } else if (option == u"--retries") {
            return Number(option, value, 0, 1000, o.retries);
        } else if (option == u"--once") {
            o.once = true;
        } else if (option == u"--delete-temp") {
            o.deleteTemp = true;
        } else if (option == u"--keep-temp") {
            keepTemp = true;
        } else if (option == u"--reopen-timeout") {
            qint32 seconds = 0;
            if (!Number(option, value, 0, 86400, seconds))
                return false;
            o.reopenTimeoutMs = seconds * 1000;
        }
        return true;
    }

    bool CheckScopes()
    {
        for (const QString& name : given) {
            const OptionSpec* spec = FindOption(name);
            if (spec->scope == For::Send && o.command != CliOptions::Command::Send)
                return Fail(name + QStringLiteral(" is an option of send only"));
            if (spec->scope == For::Receive && o.command != CliOptions::Command::Receive)
                return Fail(name + QStringLiteral(" is an option of receive only"));
        }
        if (!o.device.isEmpty() && comGiven)
            return Fail(QStringLiteral("give either --port DEVICE or --com N, not both"));
        if (logLevelGiven && o.logFile.isEmpty())
            return Fail(QStringLiteral("--log-level needs --log FILE"));
        if (keepTemp && o.deleteTemp)
            return Fail(QStringLiteral("give either --keep-temp or --delete-temp, not both"));
        return true;
    }

    bool CheckSendFiles(const QStringList& operands)
    {
        if (operands.isEmpty())
            return Fail(QStringLiteral("send wants at least one FILE"));
        if (o.restart && operands.size() != 1)
            return Fail(QStringLiteral("send --restart continues exactly one FILE"));
        QString folder;
        for (const QString& file : operands) {
            const QFileInfo info(file);
            if (file.isEmpty() || !info.exists())
                return Fail(QStringLiteral("'%1': no such file").arg(file));
            if (!info.isFile())
                return Fail(QStringLiteral("'%1' is not a file").arg(file));
            const QString path = QDir::cleanPath(info.absoluteFilePath());
            const QString dir = QFileInfo(path).absolutePath();
            if (folder.isEmpty())
                folder = dir;
            else if (dir != folder)
                return Fail(QStringLiteral("all files of one run must be in one folder ('%1' and '%2'); "
                                           "send each folder with a run of its own")
                                .arg(folder, dir));
            o.files << path;
        }
        return true;
    }

    bool CheckReceiveDir(const QStringList& operands)
    {
        if (operands.size() != 1)
            return Fail(operands.isEmpty() ? QStringLiteral("receive wants the folder DIR to write the files into")
                                           : QStringLiteral("receive takes one DIR, not %1").arg(operands.size()));
        // An empty folder name is refused by the activation itself, with the usual message.
        o.receiveDir = operands[0].isEmpty() ? QString() : QDir::cleanPath(QFileInfo(operands[0]).absoluteFilePath());
        return true;
    }

    void Run(const QStringList& args)
    {
        for (const QString& a : args) {
            if (a == u"--")
                break;
            if (a == u"-h" || a == u"--help") {
                o.help = true;
                return;
            }
            if (a == u"-V" || a == u"--version") {
                o.version = true;
                return;
            }
        }

        QStringList operands;
        bool optionsEnd = false;
        for (qsizetype i = 0; i < args.size(); ++i) {
            const QString& a = args[i];
            if (optionsEnd || !a.startsWith(u'-') || a == u"-") {
                if (o.command == CliOptions::Command::None && operands.isEmpty()) {
                    if (a == u"send")
                        o.command = CliOptions::Command::Send;
                    else if (a == u"receive")
                        o.command = CliOptions::Command::Receive;
                    else {
                        Fail(QStringLiteral("unknown command '%1' (use send or receive)").arg(a));
                        return;
                    }
                    continue;
                }
                operands << a;
                continue;
            }
            if (a == u"--") {
                optionsEnd = true;
                continue;
            }
            if (a == u"-v") {
                Apply(QStringLiteral("--verbose"), {});
                continue;
            }
            QString name = a, value;
            bool inlineValue = false;
            const qsizetype eq = a.indexOf(u'=');
            if (a.startsWith(QLatin1String("--")) && eq > 2) {
                name = a.left(eq);
                value = a.mid(eq + 1);
                inlineValue = true;
            }
            const OptionSpec* spec = FindOption(name);
            if (!spec) {
                Fail(QStringLiteral("unknown option '%1'").arg(name));
                return;
            }
            if (spec->takesValue && !inlineValue) {
                if (i + 1 >= args.size()) {
                    Fail(name + QStringLiteral(" wants a value"));
                    return;
                }
                value = args[++i];
            } else if (!spec->takesValue && inlineValue) {
                Fail(name + QStringLiteral(" takes no value"));
                return;
            }
            if (!Apply(name, value))
                return;
        }
        if (o.command == CliOptions::Command::None) {
            Fail(QStringLiteral("no command given (send or receive)"));
            return;
        }
        if (!CheckScopes())
            return;
        if (o.command == CliOptions::Command::Send)
            CheckSendFiles(operands);
        else
            CheckReceiveDir(operands);
    }
};

}  // namespace

QString CliOptions::FileDialogResult() const
{
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
    Parser p;
    p.Run(args);
    return p.r;
}

QString VersionText()
{
    return QStringLiteral("velotrax-cli " VELOTRAX_VERSION "\n");
}

QString UsageText()
{
    return QStringLiteral(
        "Usage:\n"
        "  velotrax-cli send    [line options] [--restart] [--retries N] FILE...\n"
        "  velotrax-cli receive [line options] [--once] [--keep-temp | --delete-temp]\n"
        "                       [--reopen-timeout SEC] DIR\n"
        "  velotrax-cli ports   (lists the serial ports the system reports)\n"
        "  velotrax-cli --help | --version\n"
        "\n"
        "Copies files over a serial line to or from Velotrax (desktop or console).\n"
        "\n"
        "Line options:\n"
        "  --port DEVICE      the serial device, e.g. /dev/ttyUSB0 (or a link to one)\n"
        "  --com N            port number N as the desktop program maps it: the file COMN\n"
        "                     beside this program if there is one, else /dev/ttyS<N-1>\n"
        "                     (default 1)\n"
        "  --speed BAUD       line speed, no parity, 8 data bits, 1 stop bit (default 115200)\n"
        "  --wait-ms MS       pause before every block written (default 2)\n"
        "  --log FILE         append a debug log of the traffic to FILE\n"
        "  --log-level N      0 = lines only (default), above 0 also byte dumps\n"
        "  --progress         show the progress line even when standard error is no terminal\n"
        "  -v, --verbose      also show the activity line\n"
        "\n"
        "send:\n"
        "  FILE...            the files to send, all in one folder\n"
        "  --restart          continue one FILE whose transfer broke off; the receiver\n"
        "                     must have kept its temp file\n"
        "  --retries N        when no listener answers, try again N times (default 5)\n"
        "\n"
        "receive:\n"
        "  DIR                received files are written here, replacing files of the same name\n"
        "  --once             end after one run of files instead of listening until Ctrl-C\n"
        "  --keep-temp        after a Stop keep the temp file of a broken file (default)\n"
        "  --delete-temp      after a Stop delete it\n"
        "  --reopen-timeout SEC\n"
        "                     when the port fails inside a file, wait this long for it to\n"
        "                     come back and continue the file (default 60)\n"
        "\n"
        "Exit status: 0 all files arrived (receive --once: the run ended normally);\n"
        "1 failed without an error number (port, folder, no listener); 2 bad usage;\n"
        "3 the other side pressed Stop; 4 to 14 the number of the error that ended the\n"
        "transfer; 130 interrupted (Ctrl-C stops the other side too).\n");
}
