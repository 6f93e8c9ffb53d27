#pragma once
#include "CliOptions.h"
#include "ConsoleUi.h"
#include "Globals.h"
#include "SerialCommPort.h"
#include "Station.h"
#include <QElapsedTimer>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <optional>

// One run of the console program: a station driven from the options, from
// activation to the exit status.
//
// The station's program folder is a temporary folder of this run: the restart
// file of a resumption lives there, and so does the qrn.ini that the
// automatic restart saves on its way; nothing is read from or written to a
// qrn.ini beside the program. qrnstamp is looked for beside programFolder's
// executable (then where the package installs it), COMn links in the settings
// folder that programFolder leads to (see SettingsFolder).
class CliSession : public QObject {
public:
    CliSession(const CliOptions& options, const QString& programFolder, ConsoleUi::Sink sink = {},
               bool terminal = false);
    ~CliSession() override;

    // Activates the station from the event loop; the loop then ends with the exit status.
    void Start();
    // Ctrl-C: Stop as the button does (the other side is told), then end with 130.
    void Interrupt();

    bool Usable(QString& why) const;
    Station& GetStation() { return m_station; }
    ConsoleUi& Ui() { return m_ui; }
    int ExitCode() const { return m_exitCode; }

private:
    void Activate();
    void Conclude();
    void ExitWhenWritten();
    void QueueConclude();
    // A receiver without --once listens on after a run that ended early.
    bool ListensOn() const;
    void QueueRelisten();
    // A Sender silent inside a file for --idle-timeout: the file is given up.
    void CheckIdle();
    int Outcome() const;
    void OnRunEnded(const RunOutcome& outcome);
    bool ReceiveFolderWritable();
    QString LineName() const;
    void ScheduleReopen();
    void TryReopen();
    void Resume();

    CliOptions m_o;
    QString m_programFolder;
    QTemporaryDir m_runDir;
    Globals m_g;
    ConsoleUi m_ui;
    SerialCommPort* m_serial = nullptr;  // the line when it is a serial port
    std::unique_ptr<CommPort> m_line;
    CommPort& m_port;
    Station m_station;

    bool m_active = false;
    bool m_concluding = false;
    bool m_interrupted = false;
    bool m_relistenQueued = false;
    bool m_senderSilent = false;
    QTimer m_idleTimer;
    std::optional<RunOutcome> m_outcome;  // of the last run, or the error that ended listening
    int m_exitCode = -1;

    QTimer m_reopenTimer;
    QElapsedTimer m_reopenClock;
    bool m_reopening = false;
    QString m_portErrorText;
    QString m_reopenWhy;
};
