#include "CliOptions.h"
#include "PortsCommand.h"
#include "TransferRun.h"
#include <QDir>
#include <QFileInfo>

namespace {

const QStringList kLineOptions = {"port", "com", "speed", "wait-ms", "stdio", "classic",
                                  "no-compress", "no-reference", "log", "log-level", "progress", "quiet", "verbose"};

QString SendOperands(const QStringList& operands, CliOptions& o)
{
    if (operands.isEmpty())
        return QStringLiteral("send wants at least one FILE");
    if (o.restart && operands.size() != 1)
        return QStringLiteral("send --restart continues exactly one FILE");
    QString folder;
    for (const QString& file : operands) {
        const QFileInfo info(file);
        // A link goes on to be skipped, with the others, where the run is put together.
        if (file.isEmpty() || !(info.exists() || info.isSymLink()))
            return QStringLiteral("'%1': no such file").arg(file);
        if (!info.isSymLink() && !info.isFile() && (o.restart || !info.isDir()))
            return o.restart ? QStringLiteral("'%1' is not a file").arg(file)
                             : QStringLiteral("'%1' is not a file or folder").arg(file);
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        const QString dir = QFileInfo(path).absolutePath();
        if (QFileInfo(path).fileName().isEmpty())
            return QStringLiteral("'%1' cannot be sent: a folder goes under its own name").arg(file);
        if (folder.isEmpty())
            folder = dir;
        else if (dir != folder)
            return QStringLiteral("all files of one run must be in one folder ('%1' and '%2'); "
                                  "send each folder with a run of its own")
                .arg(folder, dir);
        o.files << path;
    }
    if (!o.from.isEmpty()) {
        if (!o.restart)
            return QStringLiteral("--from goes with --restart only");
        const QString inside = QDir(o.from).relativeFilePath(o.files[0]);
        if (inside.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(inside))
            return QStringLiteral("'%1' is not inside the folder given with --from ('%2')").arg(operands[0], o.from);
    }
    return QString();
}

QString ReceiveOperands(const QStringList& operands, CliOptions& o)
{
    if (operands.size() != 1)
        return operands.isEmpty() ? QStringLiteral("receive wants the folder DIR to write the files into")
                                  : QStringLiteral("receive takes one DIR, not %1").arg(operands.size());
    // An empty folder name is refused by the activation itself, with the usual message.
    o.receiveDir = operands[0].isEmpty() ? QString() : QDir::cleanPath(QFileInfo(operands[0]).absoluteFilePath());
    return QString();
}

}  // namespace

const std::vector<CliCommand>& CliCommands()
{
    static const std::vector<CliCommand> commands = {
        {"send", kLineOptions + QStringList{"restart", "from", "retries", "reopen-timeout"}, SendOperands, RunTransfer},
        {"receive", kLineOptions + QStringList{"once", "delete-temp", "keep-temp", "reopen-timeout", "idle-timeout"}, ReceiveOperands,
         RunTransfer},
        {"ports", {}, PortsOperands, RunPorts},
    };
    return commands;
}
