#pragma once
#include "Globals.h"

QString SettingsFilePath(const Globals& g);

// The defaults of this platform ("C:\" and the temp log on Windows).
QString DefaultSendPath();
QString DefaultDebugFile();

// Sets the defaults, then reads qrn.ini beside the program if it is there.
void LoadSettings(Globals& g);
// Stores the values of qrn.ini's lines into g; unknown keys are ignored.
void ParseSettingsFile(const QByteArray& content, Globals& g);

// Writes the nine lines; the old file is replaced only by a complete new one.
// False when the file cannot be written (the caller shows the message).
bool SaveSettingsFile(const Globals& g);

// Splits file content into lines ending at CR or CR LF; a lone LF stays in the line.
QStringList SplitCrLines(const QByteArray& content);
