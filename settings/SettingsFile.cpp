#include "SettingsFile.h"
#include "CommonRoutines.h"
#include "Fso.h"
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

QString SettingsFilePath(const Globals& g)
{
    return BuildPath(g.SettingsDir(), QStringLiteral("qrn.ini"));
}

QString DefaultSendPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\");
#else
    return QDir::homePath();
#endif
}

QString DefaultDebugFile()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\temp\\qrn_debug.log");
#else
    return QStringLiteral("/tmp/qrn_debug.log");
#endif
}

QStringList SplitCrLines(const QByteArray& content)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = content.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (content[i] != '\r')
            continue;
        lines << QString::fromLocal8Bit(content.mid(start, i - start));
        if (i + 1 < n && content[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines << QString::fromLocal8Bit(content.mid(start));
    return lines;
}

void LoadSettings(Globals& g)
{
    g.GlbComPort = 1;
    g.GlbSpeed = 115200;
    g.GlbReceivePath.clear();
    g.GlbSendPath = DefaultSendPath();
    g.role = Role::Receiver;
    g.GlbDbgFlag = false;
    g.GlbDbgLevel = 0;
    g.GlbDebugFile = DefaultDebugFile();
    g.GlbWaitBeforeSend = 2;
    g.GlbClassic = false;
    g.GlbCompress = true;

    QFile file(SettingsFilePath(g));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray content = file.readAll();
    file.close();
    ParseSettingsFile(content, g);
}

void ParseSettingsFile(const QByteArray& content, Globals& g)
{
    for (const QString& raw : SplitCrLines(content)) {
        QString key, value;
        GlbParseKeyValue(key, value, TrimBlanks(raw));
        if (key.isEmpty())
            continue;
        if (key == u"COM")
            g.GlbComPort = GlbValLong(value);
        else if (key == u"SPEED")
            g.GlbSpeed = GlbValLong(value);
        else if (key == u"I_AM")
            g.role = GlbValLong(value) != 0 ? Role::Receiver : Role::Sender;
        else if (key == u"DBGLEVEL")
            g.GlbDbgLevel = GlbValLong(value);
        else if (key == u"WAITBEFORESEND")
            g.GlbWaitBeforeSend = GlbValLong(value);
        else if (key == u"RECEIVEPATH")
            g.GlbReceivePath = value;
        else if (key == u"SENDPATH")
            g.GlbSendPath = value;
        else if (key == u"DEBUGFILE")
            g.GlbDebugFile = value;
        else if (key == u"DBGFLAG")
            g.GlbDbgFlag = value == u"1";
        // Only the value that is not the default switches: anything unclear keeps it.
        else if (key == u"CLASSIC")
            g.GlbClassic = value == u"1";
        else if (key == u"COMPRESS")
            g.GlbCompress = value != u"0";
    }
}

bool SaveSettingsFile(const Globals& g)
{
    const QString path = SettingsFilePath(g);
    const QFileInfo existing(path);
    // A read-only qrn.ini is the user's choice: honour it instead of renaming
    // over it (the write bits count even for an administrator).
    constexpr auto anyWrite = QFileDevice::WriteOwner | QFileDevice::WriteGroup
                              | QFileDevice::WriteOther;
    if (existing.exists() && (!existing.isWritable() || !(existing.permissions() & anyWrite)))
        return false;

    QString text;
    const auto line = [&text](const char* key, const QString& value) {
        text += QLatin1String(key) + QStringLiteral(": ") + value + QStringLiteral("\r\n");
    };
    line("COM", QString::number(g.GlbComPort));
    line("SPEED", QString::number(g.GlbSpeed));
    line("RECEIVEPATH", g.GlbReceivePath);
    line("SENDPATH", g.GlbSendPath);
    line("I_AM", g.IsReceiver() ? QStringLiteral("1") : QStringLiteral("0"));
    line("DBGFLAG", GlbBoolToText(g.GlbDbgFlag));
    line("DBGLEVEL", QString::number(g.GlbDbgLevel));
    line("DEBUGFILE", g.GlbDebugFile);
    line("WAITBEFORESEND", QString::number(g.GlbWaitBeforeSend));
    line("CLASSIC", GlbBoolToText(g.GlbClassic));
    line("COMPRESS", GlbBoolToText(g.GlbCompress));

    QSaveFile out(path);
    // A portable copy may keep a writable qrn.ini in a folder it cannot write.
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = text.toLocal8Bit();
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}
