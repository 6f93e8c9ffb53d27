#pragma once
#include "UserInterface.h"
#include <QString>
#include <vector>

// A numbered error as a console user reads it: its number, the program's own
// text for it, and a short plain reason, e.g. "velotrax-cli: error 10
// (Exceeded nr-of-resents): the other side stopped answering; ...".
QString ErrorLine(const RunOutcome& outcome);
