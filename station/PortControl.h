#pragma once
#include "CommPort.h"
#include "DebugLog.h"
#include "ErrorReport.h"
#include "FrameReceiver.h"
#include "Globals.h"
#include "TransferContext.h"
#include <functional>

// Opens and closes the port with the configured settings, and turns every
// port event into received bytes, a status line or an error report.
class PortControl {
public:
    PortControl(TransferContext& c, CommPort& port, DebugLog& log, ErrorReport& errors, const Globals& g)
        : m_c(c), m_port(port), m_log(log), m_errors(errors), m_g(g) {}

    bool OpenPort();
    void ClosePort();
    void StopTransfer();
    void HandlePortEvent();

    // The automatic restart on a port error inside a received file; returns
    // false when it could not go through (the error is then reported as usual).
    std::function<bool(const QString& errorText)> automaticRestart;
    // The same for a Sender: it waits for the port to come back; false when
    // it does not (the error is then reported as usual).
    std::function<bool(const QString& errorText)> senderWaits;

    // Texts of the event table: {event text, error text}.
    static std::pair<QString, QString> ClassifyEvent(PortEvent event);

private:
    void ShowError(const QString& text) { m_c.ui.Alert(text, MsgIcon::Critical); }
    // A port that cannot be opened ends the run before it began.
    void Refuse(const QString& text)
    {
        ShowError(text);
        m_c.ui.RunEnded(RunOutcome::Of(RunOutcome::Kind::PortFailed));
    }

    TransferContext& m_c;
    CommPort& m_port;
    DebugLog& m_log;  // opened and closed here; the protocol writes to it
    ErrorReport& m_errors;
    const Globals& m_g;  // the port number and the debug log's file
};
