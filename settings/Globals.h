#pragma once
#include <QString>
#include <QStringList>
#include <vector>

#include "Role.h"

// The speeds the port dialog offers, in bits per second.
inline constexpr qint32 kLineSpeeds[] = {110,   300,   600,   1200,  2400,  4800,   9600,   14400,
                                         19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000};

// The settings of one program instance (qrn.ini and the controls). The front
// end and the station read them; a run takes a typed copy of what it uses.
struct Globals {
    // Settings (qrn.ini).
    qint32 comPort = 0;
    qint32 speed = 0;
    QString receivePath;
    QString sendPath;
    Role role = Role::Sender;  // "I_AM": 0 = Sender, anything else = Receiver
    bool debugFlag = false;
    qint32 debugLevel = 0;
    QString debugFile;
    qint32 waitBeforeSend = 0;
    // Keys an older copy ignores: the extension of the protocol between two copies.
    bool classicOnly = false;    // true: never offer or accept the extension
    bool compress = true;    // false: extended without compression
    bool compressReference = true;  // false: each block compressed alone, as earlier copies do

    // The folder the path dialog starts at and hands back.
    QString pathToChoose;

    // Folder of the program file: the help page and qrnstamp are here.
    QString programDir;
    // Folder of qrn.ini, the restart file and the COMn links (see SettingsFolder).
    QString SettingsDir() const;
    // Folder of the restart file (see RestartFolder).
    QString RestartDir() const;

    bool IsReceiver() const { return role == Role::Receiver; }
    bool DumpsWanted() const { return debugFlag && debugLevel > 0; }
};
