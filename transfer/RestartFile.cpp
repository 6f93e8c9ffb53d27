#include "RestartFile.h"
#include "Negotiation.h"
#include "CommonRoutines.h"
#include "Fso.h"
#include "SettingsFile.h"

namespace {
struct LongKey {
    const char* key;
    qint32 TransferState::*field;
};
// Lines 5 to 15, after FILENAME, FILEPOS, FILESIZE and FILEDATE.
constexpr LongKey kLongKeys[] = {
    {"SEQNR", &TransferState::lastSequenceNr},
    {"M_NFILESRECEIVEDCOUNTER", &TransferState::filesReceivedCounter},
    {"M_NCOUNTMODIFIEDDATEERR", &TransferState::countModifiedDateErr},
    {"M_NCOUNT1NOTHA", &TransferState::count1NotHA},
    {"M_NCOUNTNRBYTESDATAZERO", &TransferState::countNrBytesDataZero},
    {"M_NCOUNTINCORRECTBLOCKTYPE", &TransferState::countIncorrectBlockType},
    {"M_NCOUNTINCORRECTSEQNRAB", &TransferState::countIncorrectSeqnrAB},
    {"M_NCOUNTINCORRECTSEQNR", &TransferState::countIncorrectSeqnr},
    {"M_NCOUNTINCORRECTCHECKSUM", &TransferState::countIncorrectChecksum},
    {"M_NCOUNTINCORRECTSIZDATEFNAME", &TransferState::countIncorrectSizDateFname},
    {"M_NCOUNTCOMMERR", &TransferState::countCommErr},
};
}  // namespace

namespace {
// Positions and sizes of files of 2 GiB and more too; 0 where unreadable, as ValLong.
qint64 ValPosition(const QString& text)
{
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    return ok ? v : ValLong(text);
}
}  // namespace

QString RestartFilePath(const QString& restartDir)
{
    return BuildPath(restartDir, QStringLiteral("_qrn_receive_restart_.tmp"));
}

QByteArray RestartFileContent(const TransferState& s, const AnnouncedFile& f)
{
    QString text;
    const auto line = [&text](const QString& key, const QString& value) {
        text += key + QStringLiteral(": ") + value + QStringLiteral("\r\n");
    };
    line(QStringLiteral("FILENAME"), f.name);
    line(QStringLiteral("FILEPOS"), QString::number(s.FileReceivingPos));
    line(QStringLiteral("FILESIZE"), QString::number(f.size));
    line(QStringLiteral("FILEDATE"), DoubleToText(f.date));
    for (const auto& k : kLongKeys)
        line(QLatin1String(k.key), QString::number(s.*k.field));
    // A file in the extended mode resumes in it; older readers skip the line.
    if (s.caps.extended)
        line(QStringLiteral("EXTENDED"), QString::number(quint32(Negotiation::AcceptanceValue(s.caps))));
    // A file inside a folder resumes there; older readers skip the line too.
    if (!f.folder.isEmpty())
        line(QStringLiteral("FOLDER"), f.folder);
    return text.toLocal8Bit();
}

void ParseRestartFile(const QByteArray& content, TransferState& s, AnnouncedFile& f)
{
    for (const QString& raw : SplitCrLines(content)) {
        QString key, value;
        ParseKeyValue(key, value, TrimBlanks(raw));
        if (key.isEmpty())
            continue;
        if (key == u"FILENAME")
            f.name = value;
        else if (key == u"FILEPOS")
            s.FileReceivingPos = ValPosition(value);
        else if (key == u"FILESIZE")
            f.size = ValPosition(value);
        else if (key == u"FILEDATE")
            f.date = ValDouble(value);
        else if (key == u"FOLDER")
            f.folder = value;
        else if (key == u"EXTENDED")
            s.caps = Negotiation::ReadAcceptance(qint32(value.toUInt()));
        else
            for (const auto& k : kLongKeys)
                if (key == QLatin1String(k.key))
                    s.*k.field = ValLong(value);
    }
}
