#pragma once
#include "CliOptions.h"

// send and receive: one station run on the event loop, with Ctrl-C and
// SIGTERM, SIGHUP and a closed output as Stop; returns the exit status.
int RunTransfer(const CliOptions& o);
