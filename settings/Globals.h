#pragma once
#include <QString>
#include <QStringList>
#include <vector>

// Which side of a transfer this program is.
enum class Role { Sender, Receiver };

// Process-wide values of one program instance. Created once and handed by
// reference, so two stations in one test process never share a role or path.
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

    // Tables filled when the program starts.
    std::vector<QString> errorTexts;   // 0 to 14, 0 empty
    std::vector<qint32> speeds;        // 1 to 16, 0 unused
    QString newLine;
    QString pathToChoose;

    // Folder of the program file: the help page and qrnstamp are here.
    QString programDir;
    // Folder of qrn.ini, the restart file and the COMn links (see SettingsFolder).
    QString SettingsDir() const;
    // Folder of the restart file (see RestartFolder).
    QString RestartDir() const;

    bool IsReceiver() const { return role == Role::Receiver; }
    bool DumpsWanted() const { return debugFlag && debugLevel > 0; }

    void FillErrorTexts();
    void FillSpeeds();
};
