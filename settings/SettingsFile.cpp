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
    g.comPort = 1;
    g.speed = 115200;
    g.receivePath.clear();
    g.sendPath = DefaultSendPath();
    g.role = Role::Receiver;
    g.debugFlag = false;
    g.debugLevel = 0;
    g.debugFile = DefaultDebugFile();
    g.waitBeforeSend = 2;
    g.classicOnly = false;
    g.compress = true;

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
        ParseKeyValue(key, value, TrimBlanks(raw));
        if (key.isEmpty())
            continue;
        if (key == u"COM")
            g.comPort = ValLong(value);
        else if (key == u"SPEED")
            g.speed = ValLong(value);
        else if (key == u"I_AM")
            g.role = ValLong(value) != 0 ? Role::Receiver : Role::Sender;
        else if (key == u"DBGLEVEL")
            g.debugLevel = ValLong(value);
        else if (key == u"WAITBEFORESEND")
            g.waitBeforeSend = ValLong(value);
        else if (key == u"RECEIVEPATH")
            g.receivePath = value;
        else if (key == u"SENDPATH")
            g.sendPath = value;
        else if (key == u"DEBUGFILE")
            g.debugFile = value;
        else if (key == u"DBGFLAG")
            g.debugFlag = value == u"1";
        // Only the value that is not the default switches: anything unclear keeps it.
        else if (key == u"CLASSIC")
            g.classicOnly = value == u"1";
        else if (key == u"COMPRESS")
            g.compress = value != u"0";
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
    line("COM", QString::number(g.comPort));
    line("SPEED", QString::number(g.speed));
    line("RECEIVEPATH", g.receivePath);
    line("SENDPATH", g.sendPath);
    line("I_AM", g.IsReceiver() ? QStringLiteral("1") : QStringLiteral("0"));
    line("DBGFLAG", BoolToText(g.debugFlag));
    line("DBGLEVEL", QString::number(g.debugLevel));
    line("DEBUGFILE", g.debugFile);
    line("WAITBEFORESEND", QString::number(g.waitBeforeSend));
    line("CLASSIC", BoolToText(g.classicOnly));
    line("COMPRESS", BoolToText(g.compress));

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
