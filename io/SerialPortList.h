#pragma once
#include <QList>
#include <QString>
#include <QStringList>

// One serial port the system reports, with what a user recognises it by.
struct SerialPortEntry {
    QString device;        // what to open, e.g. /dev/ttyUSB0 (COM3 on Windows)
    QString description;
    QString manufacturer;
    QString usbId;         // "vvvv:pppp" in hex, empty for a port that is no USB device
    QString serialNumber;

    // The table columns in the order of Headers().
    QStringList Columns() const { return {device, description, manufacturer, usbId, serialNumber}; }
    static QStringList Headers();
};

// Every serial port the system reports, sorted by device.
QList<SerialPortEntry> ListSerialPorts();
