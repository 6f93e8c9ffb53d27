#pragma once
#include <QString>
#include <QStringList>
#include <cstdio>

// "velotrax-cli ports": the serial ports the system reports, one a line in
// aligned columns. Returns the exit status.
int PrintSerialPorts(std::FILE* out);

struct CliOptions;
// The command's entries in the command table.
QString PortsOperands(const QStringList& operands, CliOptions& o);
int RunPorts(const CliOptions& o);
