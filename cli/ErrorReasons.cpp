#include "ErrorReasons.h"
#include "ErrorNumbers.h"

namespace {
QString PlainReason(qint32 nr)
{
    switch (nr) {
    case 4: return QStringLiteral("a block longer than any the program takes arrived; the line is noisy or the other program speaks another protocol");
    case 5: return QStringLiteral("a block without any bytes arrived");
    case 6: return QStringLiteral("the file to send cannot be opened or read");
    case 7: return QStringLiteral("the receiving side cannot create or write its temp file (a full disk, or no permission)");
    case 8: return QStringLiteral("the receiving side cannot give the finished file its name");
    case 9: return QStringLiteral("the file arrived with another size than its header said");
    case 10: return QStringLiteral("the other side stopped answering; it may have been closed or the cable pulled");
    case 11: return QStringLiteral("the serial port failed or went away");
    case 12: return QStringLiteral("the receiving side has no temp file of this file to continue; send it without --restart");
    case 13: return QStringLiteral("the receiving side's temp file does not belong to this file");
    case 14: return QStringLiteral("the file to continue is not open");
    case 15: return QStringLiteral("the file received differs from the file sent; the temp file is kept");
    case 16: return QStringLiteral("the other side accepted the extended mode with terms that were not offered");
    case 17: return QStringLiteral("the receiving side cannot take a file of this size");
    case 18: return QStringLiteral("the original program, a Velotrax with --classic or an earlier Velotrax is on the other end; no file from a subfolder was sent");
    default: return QStringLiteral("an error this program does not know");
    }
}
}  // namespace

QString ErrorLine(const RunOutcome& outcome)
{
    const qint32 nr = outcome.errorNr;
    const QString text = ErrorNr::Text(nr);
    const QString who = outcome.raisedBy == RunOutcome::Side::Other ? QStringLiteral("the other side ended the run with ")
                                                                    : QString();
    return QStringLiteral("velotrax-cli: %1error %2%3: %4")
        .arg(who)
        .arg(nr)
        .arg(text.isEmpty() ? QString() : QStringLiteral(" (") + text + u')')
        .arg(PlainReason(nr));
}
