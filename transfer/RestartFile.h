#pragma once
#include "Globals.h"
#include "TransferState.h"
#include "UserInterface.h"
#include <functional>

// The state of a reception broken by a port failure, handed to the next
// instance of the program in "_qrn_receive_restart_.tmp" beside it.
QString RestartFilePath(const Globals& g);

// Writes the 15 lines; on any failure shows "Could not create restartfile ..." and returns false.
bool WriteRestartFile(Globals& g, const TransferState& s, UserInterface& ui);

// Reads and deletes the restart file; false when there is none. A file that
// cannot be deleted shows the fatal box and ends the program through endProgram.
bool ReadRestartFile(Globals& g, TransferState& s, UserInterface& ui, const std::function<void()>& endProgram);

// The restart file's lines for the state given (CR LF ended).
QByteArray RestartFileContent(const TransferState& s);
// Stores the values of the lines into the state; unknown keys are ignored.
void ParseRestartFile(const QByteArray& content, TransferState& s);
