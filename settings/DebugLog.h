#pragma once
#include "DebugLines.h"
#include "OpenFile.h"

// The debug log: it writes only while its file is open.
class DebugLog : public DebugLines {
public:
    // Opens path for appending (the folder must exist) and writes "Activated (...)"
    // and the settings folder.
    bool Open(const QString& path, const QString& settingsDir, QString* why);
    void Close() { m_file.Close(); }
    bool IsOpen() const { return m_file.IsOpen(); }

    // One time-stamped line: time from column 1, a blank in the next zone, text from column 29.
    void WriteDebugLine(const QString& text) override;
    void WritePlainLine(const QString& text) override;

    // Lays out time and text in 14-column print zones.
    static QString FormatTimeStamped(const QString& time, const QString& text);
    // A number item of a dump line: one leading blank (or "-") and one trailing blank.
    static QString NumberItem(qint64 n);

private:
    void WriteRaw(const QString& line);
    OpenFile m_file;
};
