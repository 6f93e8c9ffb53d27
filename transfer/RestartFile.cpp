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
    {"M_NFILESRECEIVEDCOUNTER", &TransferState::m_nFilesReceivedCounter},
    {"M_NCOUNTMODIFIEDDATEERR", &TransferState::m_nCountModifiedDateErr},
    {"M_NCOUNT1NOTHA", &TransferState::m_nCount1NotHA},
    {"M_NCOUNTNRBYTESDATAZERO", &TransferState::m_nCountNrBytesDataZero},
    {"M_NCOUNTINCORRECTBLOCKTYPE", &TransferState::m_nCountIncorrectBlockType},
    {"M_NCOUNTINCORRECTSEQNRAB", &TransferState::m_nCountIncorrectSeqnrAB},
    {"M_NCOUNTINCORRECTSEQNR", &TransferState::m_nCountIncorrectSeqnr},
    {"M_NCOUNTINCORRECTCHECKSUM", &TransferState::m_nCountIncorrectChecksum},
    {"M_NCOUNTINCORRECTSIZDATEFNAME", &TransferState::m_nCountIncorrectSizDateFname},
    {"M_NCOUNTCOMMERR", &TransferState::m_nCountCommErr},
};
}  // namespace

QString RestartFilePath(const Globals& g)
{
    return BuildPath(g.RestartDir(), QStringLiteral("_qrn_receive_restart_.tmp"));
}

QByteArray RestartFileContent(const TransferState& s)
{
    QString text;
    const auto line = [&text](const QString& key, const QString& value) {
        text += key + QStringLiteral(": ") + value + QStringLiteral("\r\n");
    };
    line(QStringLiteral("FILENAME"), s.m_sFileName);
    line(QStringLiteral("FILEPOS"), QString::number(s.FileReceivingPos));
    line(QStringLiteral("FILESIZE"), QString::number(s.m_nFileSize));
    line(QStringLiteral("FILEDATE"), DoubleToText(s.m_dFileDate));
    for (const auto& k : kLongKeys)
        line(QLatin1String(k.key), QString::number(s.*k.field));
    // A file in the extended mode resumes in it; older readers skip the line.
    if (s.caps.extended)
        line(QStringLiteral("EXTENDED"), QString::number(quint32(Negotiation::AcceptanceValue(s.caps))));
    return text.toLocal8Bit();
}

void ParseRestartFile(const QByteArray& content, TransferState& s)
{
    for (const QString& raw : SplitCrLines(content)) {
        QString key, value;
        GlbParseKeyValue(key, value, TrimBlanks(raw));
        if (key.isEmpty())
            continue;
        if (key == u"FILENAME")
            s.m_sFileName = value;
        else if (key == u"FILEPOS")
            s.FileReceivingPos = GlbValLong(value);
        else if (key == u"FILESIZE")
            s.m_nFileSize = GlbValLong(value);
        else if (key == u"FILEDATE")
            s.m_dFileDate = GlbValDouble(value);
        else if (key == u"EXTENDED")
            s.caps = Negotiation::ReadAcceptance(qint32(value.toUInt()));
        else
            for (const auto& k : kLongKeys)
                if (key == QLatin1String(k.key))
                    s.*k.field = GlbValLong(value);
    }
}
