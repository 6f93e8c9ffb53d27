#pragma once
#include <QString>

// Where the protocol's parts write their debug lines. The debug log file
// behind it belongs to the station, which opens and closes it.
class DebugLines {
public:
    virtual ~DebugLines() = default;
    // One time-stamped line.
    virtual void WriteDebugLine(const QString& text) = 0;
    // A line without time stamp (dumps and counters).
    virtual void WritePlainLine(const QString& text) = 0;
};
