#include "PortsCommand.h"
#include "SerialPortList.h"
#include <QList>
#include <QStringList>

int PrintSerialPorts(std::FILE* out)
{
    const QList<SerialPortEntry> ports = ListSerialPorts();
    if (ports.isEmpty()) {
        std::fputs("No serial ports found.\n", out);
        return 0;
    }
    QList<QStringList> rows{SerialPortEntry::Headers()};
    for (const SerialPortEntry& p : ports)
        rows << p.Columns();
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths[i], row[i].size());
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += (i + 1 < row.size() ? row[i].leftJustified(widths[i] + 2) : row[i]);
        std::fprintf(out, "%s\n", qPrintable(line.trimmed()));
    }
    return 0;
}

QString PortsOperands(const QStringList& operands, CliOptions&)
{
    return operands.isEmpty() ? QString() : QStringLiteral("ports takes no operands");
}

int RunPorts(const CliOptions&)
{
    return PrintSerialPorts(stdout);
}
