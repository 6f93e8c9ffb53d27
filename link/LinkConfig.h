#pragma once
#include <QtGlobal>

// What the link layer takes from the settings of a run.
struct LinkConfig {
    qint32 speed = 115200;      // bits per second: line times and silences follow it
    qint32 waitBeforeSend = 0;  // ms before every write
    bool dumpBytes = false;     // the debug log records every byte
};
