#pragma once
#include <QString>
#include "ReceiverRun.h"
#include "TransferState.h"

// The format of "_qrn_receive_restart_.tmp": the state of a reception broken by
// a port failure, kept there until the port is back (see Resumption).
QString RestartFilePath(const QString& restartDir);

// The restart file's lines for the state and the file given (CR LF ended).
QByteArray RestartFileContent(const TransferState& s, const AnnouncedFile& f);
// Stores the values of the lines into the state and the file; unknown keys are ignored.
void ParseRestartFile(const QByteArray& content, TransferState& s, AnnouncedFile& f);
