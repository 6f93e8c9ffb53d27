#include "DebugLog.h"
#include <QDateTime>
#include <QLocale>

bool DebugLog::Open(const QString& path, const QString& settingsDir, QString* why)
{
    if (!m_file.Open(path, QIODevice::WriteOnly | QIODevice::Append, why))
        return false;
    WriteDebugLine(QStringLiteral("Activated (")
                   + QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat)
                   + QStringLiteral(")"));
    WriteDebugLine(QStringLiteral("Settings folder: ") + settingsDir);
    return true;
}

namespace {
// Moves to the start of the next 14-column print zone.
void NextZone(QString& s)
{
    const qsizetype col = s.size();  // characters written so far
    const qsizetype next = (col / 14 + 1) * 14;
    s += QString(next - col, u' ');
}
}  // namespace

QString DebugLog::FormatTimeStamped(const QString& time, const QString& text)
{
    QString s = time;
    NextZone(s);
    s += u' ';
    NextZone(s);
    s += text;
    return s;
}

QString DebugLog::NumberItem(qint64 n)
{
    return n < 0 ? QString::number(n) + u' ' : u' ' + QString::number(n) + u' ';
}

void DebugLog::WriteDebugLine(const QString& text)
{
    if (!IsOpen())
        return;
    WriteRaw(FormatTimeStamped(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), text));
}

void DebugLog::WritePlainLine(const QString& text)
{
    if (!IsOpen())
        return;
    WriteRaw(text);
}

void DebugLog::WriteRaw(const QString& line)
{
    QFile& f = m_file.File();
    f.write((line + QStringLiteral("\r\n")).toLocal8Bit());
    // Flushed per line so the log tells the truth even if the program dies next.
    f.flush();
}
