#include "Globals.h"
#include "ErrorNumbers.h"
#include "Locations.h"

QString Globals::SettingsDir() const
{
    return SettingsFolder(programDir);
}

QString Globals::RestartDir() const
{
    return RestartFolder(programDir);
}

void Globals::FillErrorTexts()
{
    // Indexed by the numbers of ErrorNumbers.h.
    errorTexts = {
        QString(),
        QStringLiteral("Received incorrect QRN-header"),
        QStringLiteral("Received incorrect size|date|name-string"),
        QStringLiteral("Received incorrect startpos|nrbytes-string"),
        QStringLiteral("QRN-buffer overflow"),
        QStringLiteral("Nr of bytes received less or equal zero"),
        QStringLiteral("Problem opening file for read"),
        QStringLiteral("Problem creating tempfile"),
        QStringLiteral("Problem renaming tempfile to real file"),
        QStringLiteral("Incorrect filesize received"),
        QStringLiteral("Exceeded nr-of-resents"),
        QStringLiteral("Comport error!"),
        QStringLiteral("Restart: could not open tmpfile for this file!"),
        QStringLiteral("Restart: weird filepos _file.tmp other side; seems not to be correct file"),
        QStringLiteral("Restart: strange: file-unit is not open"),
        QStringLiteral("File check failed: the file received differs from the file sent"),
        QStringLiteral("Extended mode: the receiver's acceptance is not what was offered"),
        QStringLiteral("File header: the receiver cannot take a file of this size"),
    };
    Q_ASSERT(errorTexts.size() == size_t(ErrorNr::Last) + 1);
}

void Globals::FillSpeeds()
{
    speeds = {0,     110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                 19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000};
}
