#include "PortControl.h"
#include "ErrorNumbers.h"

bool PortControl::OpenPort()
{
    CommPort& port = m_port;
    QString why;
    if (!port.SetSettings(QString::number(m_c.cfg.speed) + QStringLiteral(",N,8,1"), why)) {
        Refuse(QStringLiteral("Error settings: ") + why);
        return false;
    }
    if (m_g.comPort < -32768 || m_g.comPort > 32767) {
        Refuse(QStringLiteral("Error setting the portnumber: ") + QStringLiteral("Overflow"));
        return false;
    }
    if (!port.SetCommPort(qint16(m_g.comPort), why)) {
        Refuse(QStringLiteral("Error setting the portnumber: ") + why);
        return false;
    }
    if (!port.SetReadBufferSize(10240, why)) {
        Refuse(QStringLiteral("Error setting mode to binary: ") + why);
        return false;
    }
    if (m_g.debugFlag && !m_log.Open(m_g.debugFile, m_g.SettingsDir(), &why)) {
        Refuse(QStringLiteral("Error creating debugfile: '") + m_g.debugFile + QStringLiteral("'; ") + why);
        return false;
    }
    if (!port.SetPortOpen(true, why)) {
        Refuse(QStringLiteral("Error opening the port: ") + why);
        m_c.log.WriteDebugLine(QStringLiteral("Error opening the port"));
        m_log.Close();
        return false;
    }
    if (!port.OpenNote().isEmpty())
        m_c.log.WriteDebugLine(port.OpenNote());
    // Whatever waited in the driver belongs to an earlier session, and the
    // first block must start clean.
    port.DiscardInput();
    m_c.ui.UpdateControls(true);
    m_c.ui.SetStatus1(QStringLiteral("Status: Active"));
    return true;
}

void PortControl::ClosePort()
{
    m_c.session.SetWatchdogEnabled(false);
    StopTransfer();
    if (m_port.PortOpen()) {
        QString why;
        if (!m_port.SetPortOpen(false, why)) {
            ShowError(QStringLiteral("Error closing the port: ") + why);
            return;
        }
    }
    m_c.ui.UpdateControls(false);
    m_c.ui.SetStatus1(QStringLiteral("Status: Not active"));
}

void PortControl::StopTransfer()
{
    m_c.session.ResetRun();  // closes the run's files
    m_c.log.WriteDebugLine(QStringLiteral("Stop"));
    m_log.Close();
    ShowProgress(m_c.ui, 0, 100);
}

std::pair<QString, QString> PortControl::ClassifyEvent(PortEvent event)
{
    switch (event) {
    case PortEvent::Receive:
    case PortEvent::Send:
        return {};
    case PortEvent::CtsChanged: return {QStringLiteral("Change in CTS Detected"), {}};
    case PortEvent::DsrChanged: return {QStringLiteral("Change in DSR Detected"), {}};
    case PortEvent::CdChanged: return {QStringLiteral("Change in CD Detected"), {}};
    case PortEvent::Ring: return {QStringLiteral("The Phone is Ringing"), {}};
    case PortEvent::EndOfFile: return {QStringLiteral("End of File Detected"), {}};
    case PortEvent::Break: return {{}, QStringLiteral("Break Received")};
    case PortEvent::CdTimeout: return {{}, QStringLiteral("Carrier Detect Timeout")};
    case PortEvent::CtsTimeout: return {{}, QStringLiteral("CTS Timeout")};
    case PortEvent::ControlBlock: return {{}, QStringLiteral("Error retrieving DCB")};
    case PortEvent::DsrTimeout: return {{}, QStringLiteral("DSR Timeout")};
    case PortEvent::Framing: return {{}, QStringLiteral("Framing Error")};
    case PortEvent::Overrun: return {{}, QStringLiteral("Overrun Error")};
    case PortEvent::ReceiveOverflow: return {{}, QStringLiteral("Receive Buffer Overflow")};
    case PortEvent::Parity: return {{}, QStringLiteral("Parity Error")};
    case PortEvent::TransmitFull: return {{}, QStringLiteral("Transmit Buffer Full")};
    default: return {{}, QStringLiteral("Unknown error or event")};
    }
}

void PortControl::HandlePortEvent()
{
    CommPort& port = m_port;
    const PortEvent event = port.LastEvent();
    if (event == PortEvent::Receive) {
        const int waiting = port.BytesWaiting();
        m_c.log.WriteDebugLine(QStringLiteral("Event comEvReceive, MSComm1.InBufferCount=") + QString::number(waiting));
        if (waiting > 0)
            m_c.rx.HandleReceivedBytes(port.Input());
        return;
    }
    const auto [eventText, errorText] = ClassifyEvent(event);
    if (!eventText.isEmpty()) {
        m_c.ui.SetStatus2(eventText);
        return;
    }
    if (errorText.isEmpty())
        return;
    m_c.ui.SetStatus2(errorText);
    m_c.log.WriteDebugLine(QStringLiteral("ERROR: CommError: ") + errorText);
    ++m_c.s.countCommErr;
    if (m_c.cfg.IsReceiver() && m_c.s.stage == Stage::InFile && automaticRestart
        && automaticRestart(errorText))
        return;
    if (!m_c.cfg.IsReceiver() && senderWaits && senderWaits(errorText))
        return;
    m_errors.ReportLocalError(ErrorNr::PortError);
    ShowError(QStringLiteral("COMPORT-ERROR: ") + errorText);
}
