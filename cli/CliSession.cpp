#include "CliSession.h"
#include "ErrorNumbers.h"
#include "ErrorReasons.h"
#include "Fso.h"
#include "StdioCommPort.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

namespace {
constexpr int kReopenPollMs = 200;

std::unique_ptr<CommPort> MakeLine(const CliOptions& o, const QString& programFolder, SerialCommPort*& serial)
{
    if (o.stdio)
        return std::make_unique<StdioCommPort>(0, 1);
    auto port = std::make_unique<SerialCommPort>(programFolder);
    if (!o.device.isEmpty())
        port->SetDevicePath(o.device);
    serial = port.get();
    return port;
}
}  // namespace

CliSession::CliSession(const CliOptions& options, const QString& programFolder, ConsoleUi::Sink sink, bool terminal)
    : m_o(options),
      m_programFolder(programFolder),
      m_runDir(QDir(QDir::tempPath()).filePath(QStringLiteral("velotrax-cli-XXXXXX"))),
      m_ui(std::move(sink), terminal),
      m_line(MakeLine(options, programFolder, m_serial)),
      m_port(*m_line),
      m_station(m_g, m_port, m_ui)
{
    m_g.programDir = m_runDir.path();

    if (!m_runDir.isValid())
        return;  // never start up on some other folder's qrn.ini or restart file
    // A fresh program folder: defaults, no restart file to resume.
    m_station.StartUp();
    m_g.comPort = m_o.comPort;
    m_g.speed = m_o.speed;
    m_g.waitBeforeSend = m_o.waitMs;
    m_g.classicOnly = m_o.classic;
    m_g.compress = m_o.compress;
    m_g.compressReference = m_o.reference;
    m_g.debugFlag = !m_o.logFile.isEmpty();
    if (m_g.debugFlag)
        m_g.debugFile = m_o.logFile;
    m_g.debugLevel = m_o.logLevel;
    m_station.Disk().UseQrnstampFrom(m_programFolder);

    m_ui.SetReceivePathText(m_o.receiveDir);
    m_ui.SetSenderSelected(m_o.IsSender());
    m_ui.okRetries = m_o.retries;
    m_ui.deleteTemp = m_o.deleteTemp;
    // Inside a terminal program (--stdio) standard error is what the user watches.
    m_ui.showProgress = (m_o.progress || terminal || m_o.stdio) && !m_o.quiet;
    // The terminal program that runs us keeps its terminal raw, without CR before LF.
    m_ui.crlf = m_o.stdio && terminal;
    m_ui.verbose = m_o.verbose;
    m_ui.filesToSend = m_o.FileDialogResult();
    m_ui.onRunEnded = [this](const RunOutcome& outcome) { OnRunEnded(outcome); };
    // Every end of a run but the automatic restart goes through ClosePort.
    m_ui.onUpdateControls = [this](bool open) {
        if (open || !m_active || m_reopening)
            return;
        if (ListensOn())
            QueueRelisten();
        else
            QueueConclude();
    };
    m_ui.progressSource = [this] { return m_station.Progress(); };

    // The automatic restart resumes in this process instead of starting a new one;
    // standard input does not come back, so there a port failure ends the run.
    m_station.startOwnProgram = [this] {
        if (m_o.stdio)
            return false;
        ScheduleReopen();
        return true;
    };
    m_station.endProgramNow = [] {};
    // A Sender waits for its port in the station; standard input does not come back.
    m_station.reopenTimeoutMs = m_o.stdio ? 0 : m_o.reopenTimeoutMs;

    m_reopenTimer.setInterval(kReopenPollMs);
    connect(&m_reopenTimer, &QTimer::timeout, this, [this] { TryReopen(); });
    if (!m_o.IsSender()) {
        m_idleTimer.setInterval(std::min(1000, m_o.idleTimeoutMs));
        connect(&m_idleTimer, &QTimer::timeout, this, [this] { CheckIdle(); });
        m_idleTimer.start();
    }
}

CliSession::~CliSession()
{
    m_ui.onRunEnded = nullptr;
    m_ui.onUpdateControls = nullptr;
    m_ui.progressSource = nullptr;
}

bool CliSession::Usable(QString& why) const
{
    if (m_runDir.isValid())
        return true;
    why = QStringLiteral("cannot create a temporary folder: ") + m_runDir.errorString();
    return false;
}

void CliSession::Start()
{
    QMetaObject::invokeMethod(this, [this] { Activate(); }, Qt::QueuedConnection);
}

void CliSession::Activate()
{
    if (m_concluding)
        return;
    if (!ReceiveFolderWritable()) {
        QueueConclude();
        return;
    }
    m_active = true;
    m_station.Activate(m_o.restart);
    // Refused before the port opened (folder missing, port busy): nothing more will happen.
    if (!m_station.PortOpen() && !m_reopening) {
        QueueConclude();
        return;
    }
    if (!m_o.IsSender())
        m_ui.Note(QStringLiteral("velotrax-cli: listening on %1 at %2 baud, receiving into %3")
                      .arg(LineName())
                      .arg(m_o.speed)
                      .arg(m_o.receiveDir));
}

bool CliSession::ReceiveFolderWritable()
{
#ifdef Q_OS_UNIX
    // A missing folder is refused by the station itself, with the desktop program's text.
    if (m_o.IsSender() || m_o.receiveDir.isEmpty() || !FolderExists(m_o.receiveDir))
        return true;
    if (::access(QFile::encodeName(m_o.receiveDir).constData(), W_OK | X_OK) == 0)
        return true;
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    m_ui.Alert(QStringLiteral("Path '%1': cannot write into it: %2").arg(m_o.receiveDir, reason), MsgIcon::Exclamation);
    return false;
#else
    return true;
#endif
}

QString CliSession::LineName() const
{
    return m_serial ? m_serial->DevicePath(qint16(m_o.comPort)) : QStringLiteral("standard input and output");
}

void CliSession::Interrupt()
{
    if (m_concluding)
        return;
    m_interrupted = true;
    m_reopenTimer.stop();
    m_reopening = false;
    m_ui.Note(QStringLiteral("velotrax-cli: interrupted, stopping"));
    if (m_active)
        m_station.StopByUser();
    QueueConclude();
}

void CliSession::QueueConclude()
{
    if (m_concluding)
        return;
    m_concluding = true;
    // After the handler that ended the run has returned.
    QMetaObject::invokeMethod(this, [this] { Conclude(); }, Qt::QueuedConnection);
}

void CliSession::Conclude()
{
    m_reopenTimer.stop();
    if (m_station.PortOpen())
        m_station.ClosePort();
    m_exitCode = Outcome();
    m_ui.BreakProgressLine();
    ExitWhenWritten();
}

void CliSession::ExitWhenWritten()
{
    // The last answer (a Stop, an error) is still going out; the port bounds how long.
    if (m_port.Flushing()) {
        QTimer::singleShot(10, this, [this] { ExitWhenWritten(); });
        return;
    }
    QCoreApplication::exit(m_exitCode);
}

bool CliSession::ListensOn() const
{
    // A line that failed under a run is not there to listen on.
    const bool portFailed = m_outcome && m_outcome->kind == RunOutcome::Kind::Error && m_outcome->errorNr == ErrorNr::PortError;
    return !m_o.IsSender() && !m_o.once && !m_interrupted && !m_concluding && !portFailed;
}

void CliSession::QueueRelisten()
{
    if (m_relistenQueued)
        return;
    m_relistenQueued = true;
    QMetaObject::invokeMethod(this, [this] {
        m_relistenQueued = false;
        if (!ListensOn()) {
            QueueConclude();
            return;
        }
        if (m_outcome && m_outcome->kind == RunOutcome::Kind::Error)
            m_ui.Note(QStringLiteral("velotrax-cli: the run ended with error %1; listening again").arg(m_outcome->errorNr));
        else
            m_ui.Note(QStringLiteral("velotrax-cli: the run ended early; listening again"));
        m_outcome.reset();
        m_senderSilent = false;
        Activate();
    }, Qt::QueuedConnection);
}

void CliSession::CheckIdle()
{
    if (m_reopening || !m_station.PortOpen() || m_station.SilentForMs() < m_o.idleTimeoutMs)
        return;
    const FileProgress p = m_station.Progress();
    if (!p.moving)
        return;
    m_ui.Note(QStringLiteral("velotrax-cli: the sender has been silent for %1 s inside '%2'; the file is given up and "
                             "its temp file keeps %3 of %4 bytes for send --restart")
                  .arg(m_o.idleTimeoutMs / 1000)
                  .arg(p.name)
                  .arg(p.done)
                  .arg(p.total));
    m_senderSilent = true;
    m_station.ClosePort();  // the temp file stays
}

int CliSession::Outcome() const
{
    if (m_interrupted)
        return CliExit::Interrupted;
    if (m_senderSilent)
        return CliExit::SenderSilent;
    if (!m_outcome)
        return CliExit::Failed;
    switch (m_outcome->kind) {
    case RunOutcome::Kind::FilesDone:
        return CliExit::Ok;
    case RunOutcome::Kind::Error:
        return m_outcome->errorNr >= ErrorNr::BufferOverflow && m_outcome->errorNr <= ErrorNr::Last ? m_outcome->errorNr : CliExit::Failed;
    case RunOutcome::Kind::Stopped:
        return m_outcome->raisedBy == RunOutcome::Side::Other ? CliExit::OtherStopped : CliExit::Failed;
    case RunOutcome::Kind::PortFailed:
    case RunOutcome::Kind::NoListener:
    case RunOutcome::Kind::Refused:
        return CliExit::Failed;
    }
    return CliExit::Failed;
}

void CliSession::OnRunEnded(const RunOutcome& outcome)
{
    if (outcome.kind == RunOutcome::Kind::Error)
        m_ui.Note(ErrorLine(outcome));
    // The first numbered error is the one that ended it; what follows is its aftermath.
    if (!m_outcome || m_outcome->kind != RunOutcome::Kind::Error)
        m_outcome = outcome;
    // A receiver listens on after each run unless told to end after one.
    const bool runOfFilesOver = outcome.kind == RunOutcome::Kind::FilesDone || outcome.kind == RunOutcome::Kind::Stopped;
    if (!m_o.IsSender() && m_o.once && runOfFilesOver)
        QueueConclude();
}

// ---- resumption after a port failure inside a received file ----

void CliSession::ScheduleReopen()
{
    // The port layer has just shown the failure here.
    m_portErrorText = m_ui.Status2();
    m_outcome.reset();  // an earlier run's end says nothing about this one
    m_reopening = true;
    m_reopenClock.start();
    m_ui.Note(QStringLiteral("velotrax-cli: the port failed inside a file; waiting up to %1 s for it to come back")
                  .arg(m_o.reopenTimeoutMs / 1000));
    m_reopenTimer.start();
}

void CliSession::TryReopen()
{
    if (!m_reopening || m_concluding) {
        m_reopenTimer.stop();
        return;
    }
    QString why;
    // The port keeps its number and settings; opening it is the test that it is back,
    // and the resumption's own open then finds it open already.
    if (m_port.SetPortOpen(true, why)) {
        m_reopenTimer.stop();
        m_reopening = false;
        Resume();
        return;
    }
    m_reopenWhy = why;
    if (m_reopenClock.elapsed() < m_o.reopenTimeoutMs)
        return;
    m_reopenTimer.stop();
    m_reopening = false;
    m_ui.Note(QStringLiteral("velotrax-cli: the port did not come back: ") + m_reopenWhy);
    // What the desktop program does when it cannot start again.
    m_station.Errors().ReportLocalError(ErrorNr::PortError);
    m_ui.Alert(QStringLiteral("COMPORT-ERROR: ") + m_portErrorText, MsgIcon::Critical);
}

void CliSession::Resume()
{
    if (m_station.Resume() == Resumption::Result::Resumed) {
        m_ui.Note(QStringLiteral("velotrax-cli: continuing '%1' at byte %2")
                      .arg(m_station.Receiver().Run().file.name)
                      .arg(m_station.State().FileReceivingPos - 1));
        return;
    }
    // It has said why; closing ends the run.
    m_station.ClosePort();
    QueueConclude();
}
