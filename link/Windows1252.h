#pragma once
#include <QByteArray>
#include <QString>

// Header texts travel one byte per character in Windows-1252, so a peer on
// Windows reads the same name whatever this system's own encoding is.
bool FitsWindows1252(const QString& text);
// Characters without a Windows-1252 code become '?'.
QByteArray ToWindows1252(const QString& text);
QString FromWindows1252(const char* bytes, qsizetype count);
