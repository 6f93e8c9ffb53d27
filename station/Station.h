#pragma once
#include "BlockAcceptance.h"
#include "ErrorReport.h"
#include "FrameReceiver.h"
#include "FrameTransmitter.h"
#include "ModalGuardUi.h"
#include "PortControl.h"
#include "RealDisk.h"
#include "ReceiverSide.h"
#include "Resumption.h"
#include "SenderSide.h"
#include "TransferContext.h"
#include "TransferMeter.h"
#include <QObject>
#include "Clock.h"
#include <functional>

// One Velotrax station: the transfer record and every part that works on it,
// wired together, without any widget. The window, the console front end and
// the tests each drive one through the user-interface interface.
class Station : public QObject, public PortSession, private AcceptanceHooks {
public:
    // clock: where the protocol's rules take their time from.
    Station(Globals& g, CommPort& port, UserInterface& ui, Clock& clock = SystemClock(), QObject* parent = nullptr);
    ~Station() override;

    // Start-up: settings, tables, and the resumption of a broken reception.
    void StartUp();
    // Closing the window: saves the settings unless the automatic restart did.
    void SaveSettingsOnClose();

    void Activate(bool restart);
    // The receive path as a run uses it (no blanks around, no trailing separator),
    // and why a Receiver cannot use it; empty when it can.
    static QString UsableReceivePath(const QString& setting);
    static QString ReceivePathRefusal(const QString& path);
    // Stop; while the Sender waits for its port, gives the wait up.
    void StopByUser();
    // Asks whether the temp file of a file left unfinished goes; the answer
    // comes back as DeleteTempFile.
    void OfferTempFileDelete() override;
    void DeleteTempFile(const QString& path);

    void SaveSettings();
    void ControlsToSettings();
    void SettingsToControls();

    bool OpenPort() override { return m_portControl.OpenPort(); }
    void ClosePort() override { m_portControl.ClosePort(); }
    void StopTransfer() override { m_portControl.StopTransfer(); }
    void ResetRun() override;
    bool PortOpen() const { return m_port.PortOpen(); }

    void SetWatchdogEnabled(bool enabled) override;
    bool WatchdogActive() const { return m_watchdog->Active(); }

    // Resumes the reception that the restart file describes, if there is one;
    // a new instance does at start-up, the console program once its port is back.
    Resumption::Result Resume()
    {
        Stamp();
        TakeSettings();
        return m_receiver.Resume(endProgramNow);
    }

    // How long nothing has come in on the line (since the start when nothing has).
    qint64 SilentForMs() const { return m_time.NowMs() - std::max<qint64>(0, m_lastHeardMs); }

    // The file that is moving, if any, for progress displays.
    FileProgress Progress() const;

    TransferState& State() { return m_s; }
    bool DebugLogOpen() const { return m_log.IsOpen(); }
    Globals& G() { return m_g; }
    const SessionConfig& Config() const { return m_cfg; }
    // The run takes what it uses of the settings: at activation, start-up and resumption.
    void TakeSettings();
    QString HelpFile() const { return m_helpFile; }
    // The disk the runs use, with qrnstamp to date received files.
    RealDisk& Disk() { return m_disk; }
    ReceiverSide& Receiver() { return m_receiver; }
    SenderSide& Sender() { return m_sender; }
    FrameTransmitter& Transmitter() { return m_tx; }
    FrameReceiver& Frames() { return m_rx; }
    PortControl& Port() { return m_portControl; }
    ErrorReport& Errors() { return m_errors; }

    bool m_settingsSaved = false;

    // How the automatic restart starts this program again and ends this
    // instance; the console front end and tests put their own here.
    std::function<bool()> startOwnProgram;
    std::function<void()> endProgramNow;
    int restartDelayMs = 1000;
    // How long a Sender whose port failed inside a file waits for it to come
    // back; 0: not at all (the run ends with error 11 at once).
    int reopenTimeoutMs = 60000;
    bool WaitingForPort() const { return m_reopen->Active(); }

private:
    // Every input reaches the protocol with its time (see LinkRecord::nowMs):
    // the port's events, the alarms made here, the commands and the answers.
    void Stamp();
    std::unique_ptr<Alarm> NewAlarm(std::function<void()> ring);
    bool AutomaticRestart(const QString& errorText);
    // The Sender's port failed: true when it waits for the port to come back.
    bool SenderWaits(const QString& errorText);
    void TryReopen();
    void GoOnSending();
    // The wait timed out or was cancelled: the run ends as at the failure.
    void GiveUpWaiting(bool cancelled);
    void OnPortEvent();

    // AcceptanceHooks
    void ReportLocalError(qint32 nr) override { m_errors.ReportLocalError(nr); }
    void ReportRemoteError(qint32 nr) override { m_errors.ReportRemoteError(nr); }
    void ShowCritical(const QString& text) override { m_ui.Alert(text, MsgIcon::Critical); }
    void HandOverToReceiver(const Block& b) override { m_receiver.HandleBlock(b); }
    void HandOverToSender(const Block& b) override { m_sender.HandleAnswer(b); }
    void ReceiverGotStop() override { m_receiver.HandleStop(); }
    bool ReceiverTakesOutOfTurn(const Block& b) override { return m_receiver.TakeOutOfTurn(b); }
    void ReceiverRefusesExtended(qint32 nr) override { m_receiver.RefuseExtended(nr); }
    bool ReceiverAfterExtended() const override { return m_receiver.AfterExtended(); }
    bool ReceiverAwaitsLostBlock() const override { return m_receiver.AwaitsLostBlock(); }
    void ReceiverTookGoodBlock() override { m_receiver.TookGoodBlock(); }
    const AnnouncedFile& ReceiverFile() const override { return m_receiver.Run().file; }
    // The Sender waits for an answer: after the first one, the watchdog is off.
    bool AwaitingAnswer() const;
    void StartSilenceTimers();

    Globals& m_g;
    SessionConfig m_cfg;
    RealDisk m_disk;  // what the run in progress (or the next) works with
    CommPort& m_port;
    Clock& m_time;
    ModalGuardUi m_ui;  // every part talks to the front end through it
    TransferState m_s;
    DebugLog m_log;
    FrameTransmitter m_tx;
    BlockAcceptance m_acceptance;
    FrameReceiver m_rx;
    TransferContext m_ctx;
    ErrorReport m_errors;
    ReceiverSide m_receiver;
    SenderSide m_sender;
    PortControl m_portControl;
    std::unique_ptr<Alarm> m_watchdog;       // rings every m_watchdogMs while enabled
    std::unique_ptr<Alarm> m_silence;        // a block left incomplete by lost bytes
    std::unique_ptr<Alarm> m_answerSilence;  // the Sender heard nothing after its last write
    std::unique_ptr<Alarm> m_restart;        // the automatic restart's wait
    std::unique_ptr<Alarm> m_reopen;         // the Sender's next try to open its port again
    qint64 m_portFailedMs = 0;               // on m_time
    QString m_portErrorText;                 // the failure the wait is for
    QString m_reopenWhy;                     // why the last try failed
    qint64 m_watchdogMs = 0;
    QString m_helpFile;
    qint64 m_lastHeardMs = -1;  // on m_time; -1: nothing heard yet
};
