#pragma once
#include <QString>

#include "LinkConfig.h"
#include "Role.h"

// The settings a run works with, taken when it starts: later changes to
// the settings reach the next run, never one that moves.
struct SessionConfig : LinkConfig {
    Role role = Role::Sender;
    QString receivePath;  // the folder received files go to
    QString sendPath;     // the folder the files to send are named from
    QString restartDir;   // where the restart file of a broken reception lives
    bool classicOnly = false;        // never offer or accept the extended mode
    bool compress = true;            // extended mode: blocks may be compressed
    bool compressReference = true;   // ... against the file bytes before them
    bool IsReceiver() const { return role == Role::Receiver; }
};
