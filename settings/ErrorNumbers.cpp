#include "ErrorNumbers.h"
#include <array>

QString ErrorNr::Text(qint32 nr)
{
    static const std::array<const char*, Last + 1> kTexts = {
        "",
        "Received incorrect QRN-header",
        "Received incorrect size|date|name-string",
        "Received incorrect startpos|nrbytes-string",
        "QRN-buffer overflow",
        "Nr of bytes received less or equal zero",
        "Problem opening file for read",
        "Problem creating tempfile",
        "Problem renaming tempfile to real file",
        "Incorrect filesize received",
        "Exceeded nr-of-resents",
        "Comport error!",
        "Restart: could not open tmpfile for this file!",
        "Restart: weird filepos _file.tmp other side; seems not to be correct file",
        "Restart: strange: file-unit is not open",
        "File check failed: the file received differs from the file sent",
        "Extended mode: the receiver's acceptance is not what was offered",
        "File header: the receiver cannot take a file of this size",
        "Folders: the receiving program takes no folders",
    };
    return nr >= 0 && nr <= Last ? QString::fromLatin1(kTexts[size_t(nr)]) : QString();
}
