#pragma once
#include "DebugLines.h"
#include "TransferState.h"

// The counters of blocks refused or resent, as the Receiver shows them after
// a run and the debug log lists them after each frame reset.
QString ResendReasonsText(const TransferState& s);
// True when any of the counters of that text is not 0.
bool AnyResendReason(const TransferState& s);
// "Now:" and one line per counter, straight into the log.
void LogResendReasons(DebugLines& log, const TransferState& s);
