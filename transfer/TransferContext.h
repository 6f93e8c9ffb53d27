#pragma once
#include "BlockAcceptance.h"
#include "Line.h"
#include "DebugLines.h"
#include "Disk.h"
#include "FrameReceiver.h"
#include "FrameTransmitter.h"
#include "PortSession.h"
#include "SessionConfig.h"
#include "TransferState.h"
#include "UserInterface.h"

// The parts of one station that the transfer sides work with.
struct TransferContext {
    const SessionConfig& cfg;
    TransferState& s;
    Line& line;
    DebugLines& log;
    FrameTransmitter& tx;
    FrameReceiver& rx;
    BlockAcceptance& acceptance;
    UserInterface& ui;
    PortSession& session;
    Disk& disk;
};

// Progress bar in percent; computed in 64 bits so large files move it too.
void ShowProgress(UserInterface& ui, qint64 done, qint64 total);
