#pragma once

// What the transfer sides need from the port control above them.
class PortSession {
public:
    virtual ~PortSession() = default;
    // Opens the port with the configured settings; false when it said why not and ended the run.
    virtual bool OpenPort() = 0;
    virtual void ClosePort() = 0;
    virtual void StopTransfer() = 0;
    // Both sides back to the start values of an activation, their files closed.
    virtual void ResetRun() = 0;
    virtual void OfferTempFileDelete() = 0;
    virtual void SetWatchdogEnabled(bool enabled) = 0;
};
