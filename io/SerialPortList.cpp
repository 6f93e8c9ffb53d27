#include "SerialPortList.h"
#include <QSerialPortInfo>
#include <algorithm>

QStringList SerialPortEntry::Headers()
{
    return {QStringLiteral("Device"), QStringLiteral("Description"), QStringLiteral("Maker"),
            QStringLiteral("USB id"), QStringLiteral("Serial number")};
}

QList<SerialPortEntry> ListSerialPorts()
{
    QList<SerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry e;
#ifdef Q_OS_WIN
        e.device = info.portName();
#else
        e.device = info.systemLocation();
#endif
        e.description = info.description();
        e.manufacturer = info.manufacturer();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            e.usbId = QStringLiteral("%1:%2").arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                          .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        e.serialNumber = info.serialNumber();
        ports << e;
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.device < b.device; });
    return ports;
}
