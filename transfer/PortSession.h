#pragma once

// What the transfer sides need from the port control above them.
class PortSession {
public:
    virtual ~PortSession() = default;
    virtual void ClosePort() = 0;
    virtual void StopTransfer() = 0;
    virtual void OfferTempFileDelete() = 0;
    virtual void SetWatchdogEnabled(bool enabled) = 0;
};
