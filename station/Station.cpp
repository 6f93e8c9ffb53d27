#include "Station.h"
#include "CommonRoutines.h"
#include "ErrorNumbers.h"
#include "Fso.h"
#include "LineTimes.h"
#include "Locations.h"
#include "SendTree.h"
#include "SettingsFile.h"
#include <QCoreApplication>
#include <QProcess>
#include <cstdlib>

Station::Station(Globals& g, CommPort& port, UserInterface& ui, Clock& clock, QObject* parent)
    : QObject(parent),
      m_g(g),
      m_port(port),
      m_time(clock),
      m_ui(ui, port, [this] { StartSilenceTimers(); }, [this] { Stamp(); }),
      m_tx(m_cfg, m_s, port, m_log),
      m_acceptance(m_cfg, m_s, port, m_log, m_tx, m_rx, *this),
      m_rx(m_cfg, m_s, port, m_log, m_acceptance),
      m_ctx{m_cfg, m_s, port, m_log, m_tx, m_rx, m_acceptance, m_ui, *this, m_disk},
      m_errors(m_ctx),
      m_receiver(m_ctx, m_errors),
      m_sender(m_ctx, m_errors),
      m_portControl(m_ctx, port, m_log, m_errors, g)
{
    m_port.SetEventHandler([this] { OnPortEvent(); });
    // While a box is open the silence rules wait; closing it starts them again.
    m_silence = NewAlarm([this] {
        if (!m_ui.BoxOpen())
            m_acceptance.IncompleteBlockTimedOut();
    });
    m_answerSilence = NewAlarm([this] {
        if (!AwaitingAnswer() || m_ui.BoxOpen())
            return;
        // No silence while our own bytes still wait to go out: it counts from the line.
        if (m_port.BytesUnsent() > 0) {
            StartSilenceTimers();
            return;
        }
        m_sender.AnswerSilence();
        StartSilenceTimers();
    });
    m_portControl.automaticRestart = [this](const QString& errorText) { return AutomaticRestart(errorText); };
    m_portControl.senderWaits = [this](const QString& errorText) { return SenderWaits(errorText); };
    m_reopen = NewAlarm([this] { TryReopen(); });
    m_watchdog = NewAlarm([this] {
        m_watchdog->Start(m_watchdogMs);  // ticks on until the rule turns it off
        if (!m_ui.BoxOpen())
            m_sender.WatchdogTick();
    });
    startOwnProgram = [] { return QProcess::startDetached(QCoreApplication::applicationFilePath(), {}); };
    endProgramNow = [] { std::_Exit(0); };
}

Station::~Station()
{
    m_port.SetEventHandler(nullptr);
}

void Station::Stamp()
{
    m_s.nowMs = m_time.NowMs();
}

std::unique_ptr<Alarm> Station::NewAlarm(std::function<void()> ring)
{
    return m_time.NewAlarm([this, ring = std::move(ring)] {
        Stamp();
        ring();
    });
}

void Station::OnPortEvent()
{
    Stamp();
    if (m_port.LastEvent() == PortEvent::Receive) {
        m_receiver.BytesArrive(m_lastHeardMs < 0 ? -1 : m_s.nowMs - m_lastHeardMs);
        m_lastHeardMs = m_s.nowMs;
    }
    m_portControl.HandlePortEvent();
    StartSilenceTimers();
}

bool Station::AwaitingAnswer() const
{
    return !m_cfg.IsReceiver() && m_port.PortOpen() && !m_watchdog->Active();
}

void Station::StartSilenceTimers()
{
    if (m_rx.BlockIncomplete() && m_port.PortOpen())
        m_silence->Start(ReceiverSilenceMs(m_cfg.speed));
    else
        m_silence->Stop();
    if (AwaitingAnswer())
        m_answerSilence->Start(SenderSilenceMs(m_sender.AwaitedLineBytes(), m_cfg.speed));
    else
        m_answerSilence->Stop();
}

void Station::ResetRun()
{
    ResetTransferState(m_s);
    m_receiver.ResetRun();
    m_sender.ResetRun();
    m_s.stage = m_cfg.IsReceiver() ? Stage::Listening : m_sender.FirstStage();
}

FileProgress Station::Progress() const
{
    FileProgress p;
    if (!m_cfg.IsReceiver()) {
        const SenderRun& run = m_sender.Run();
        p.completed = std::max(0, run.fileIndex - 1);
        p.count = run.FilesToSendUpperBound();
        if (run.InRun() && run.sending) {
            p.moving = true;
            p.name = run.CurrentEntry();
            p.total = run.sendFileSize;
            p.done = m_sender.BytesDone();
        }
    } else {
        p.completed = m_s.filesReceivedCounter;
        if (m_s.stage == Stage::InFile) {
            p.moving = true;
            p.name = m_receiver.Run().file.RelativePath();
            p.total = m_receiver.Run().file.size;
            p.done = std::max<qint64>(0, m_s.FileReceivingPos - 1);
        }
        // Only what a Velotrax Sender told: the original program says nothing of its run.
        p.count = m_s.runTotals.count;
    }
    if (p.moving && m_s.runTotals.Known()) {
        p.index = m_s.runTotals.index;
        p.runTotal = m_s.runTotals.bytes;
        p.runDone = std::min(m_s.runTotals.bytesBefore + p.done, p.runTotal);
    }
    return p;
}

void Station::StartUp()
{
    LoadSettings(m_g);
    SettingsToControls();
    m_disk.UseQrnstampFrom(m_g.programDir);
    m_helpFile = FindHelpFile(m_g.programDir);
    m_ui.UpdateControls(PortOpen());
    Resume();
}

void Station::TakeSettings()
{
    m_cfg.speed = m_g.speed;
    m_cfg.waitBeforeSend = m_g.waitBeforeSend;
    m_cfg.dumpBytes = m_g.DumpsWanted();
    m_cfg.role = m_g.role;
    m_cfg.receivePath = m_g.receivePath;
    m_cfg.sendPath = m_g.sendPath;
    m_cfg.restartDir = m_g.RestartDir();
    m_cfg.classicOnly = m_g.classicOnly;
    m_cfg.compress = m_g.compress;
    m_cfg.compressReference = m_g.compressReference;
}

void Station::SaveSettingsOnClose()
{
    if (!m_settingsSaved)
        SaveSettings();
}

void Station::ControlsToSettings()
{
    m_g.receivePath = TrimBlanks(m_ui.ReceivePathText());
    m_g.role = m_ui.SenderSelected() ? Role::Sender : Role::Receiver;
}

void Station::SettingsToControls()
{
    m_ui.SetReceivePathText(TrimBlanks(m_g.receivePath));
    m_ui.SetSenderSelected(!m_g.IsReceiver());
}

void Station::SaveSettings()
{
    ControlsToSettings();
    if (!SaveSettingsFile(m_g))
        m_ui.Alert(QStringLiteral("Could not save settings in ") + SettingsFilePath(m_g), MsgIcon::Exclamation);
}

void Station::SetWatchdogEnabled(bool enabled)
{
    if (!enabled) {
        m_watchdog->Stop();
        return;
    }
    m_watchdogMs = std::max(0, m_cfg.waitBeforeSend) + 2000;
    m_watchdog->Start(m_watchdogMs);
}

void Station::Activate(bool restart)
{
    Stamp();
    ControlsToSettings();
    m_ui.SetStatus1(QStringLiteral("Status: Not active"));
    m_ui.SetStatus2(QString());
    if (m_g.IsReceiver())
        m_g.receivePath = UsableReceivePath(m_g.receivePath);
    TakeSettings();
    m_sender.Choose(restart, {}, {});
    ResetRun();

    if (m_cfg.IsReceiver()) {
        if (const QString why = ReceivePathRefusal(m_cfg.receivePath); !why.isEmpty()) {
            m_ui.Alert(why, MsgIcon::Exclamation);
            m_ui.RunEnded(RunOutcome::Of(RunOutcome::Kind::Refused));
            return;
        }
    }
    if (!OpenPort())
        return;
    if (m_cfg.IsReceiver()) {
        m_ui.SetStatus1(QStringLiteral("listening ..."));
        return;
    }

    QString dialogResult;
    const QString title = restart ? QStringLiteral("Restart sending one file (other side must have the .tmp):") : QString();
    if (!m_ui.ChooseFilesToSend(title, !restart, m_g.sendPath, dialogResult) || dialogResult.isEmpty()) {
        ClosePort();
        m_ui.RunEnded(RunOutcome::Of(RunOutcome::Kind::Refused));
        return;
    }
    Stamp();  // the dialog may have been open for minutes
    std::vector<QString> chosen;
    SplitFileList(m_g.sendPath, chosen, dialogResult);
    m_cfg.sendPath = m_g.sendPath;
    SendTree tree = WalkSendList(m_cfg.sendPath, chosen);
    if (const QString skipped = tree.SkippedText(); !skipped.isEmpty())
        m_ui.Alert(skipped, MsgIcon::Exclamation);
    m_sender.Choose(restart, std::move(tree.files), std::move(tree.emptyFolders));
    const QString refusal = tree.refusal.isEmpty() ? m_sender.CheckFilesToSend() : tree.refusal;
    if (!refusal.isEmpty()) {
        m_ui.Alert(refusal, MsgIcon::Critical);
        ClosePort();
        m_ui.RunEnded(RunOutcome::Of(RunOutcome::Kind::Refused));
        return;
    }
    m_sender.StartRun();
    if (!m_sender.SendNextFile())
        return;
    SetWatchdogEnabled(true);
}

QString Station::UsableReceivePath(const QString& setting)
{
    QString path = TrimBlanks(setting);
    while (!path.isEmpty() && IsPathSeparator(path.back()))
        path.chop(1);
    return path;
}

QString Station::ReceivePathRefusal(const QString& path)
{
    // Only separators means the root folder on Unix, but it is refused like an empty path.
    if (path.isEmpty())
        return QStringLiteral("Receiving: first, provide receivepath");
    if (!FolderExists(path))
        return QStringLiteral("Path '") + path + QStringLiteral("': not found");
    return {};
}

void Station::StopByUser()
{
    Stamp();
    if (WaitingForPort()) {
        GiveUpWaiting(true);
        return;
    }
    // Whatever waits behind the block on the line is not sent: the Stop goes next.
    m_tx.DropUnsent(false);
    m_tx.SendAnswer(ANSWER_STOP, 0);
    // The run is over on the line before the user is asked anything.
    ClosePort();
    OfferTempFileDelete();
    m_ui.RunEnded(RunOutcome::StoppedBy(RunOutcome::Side::Here));
}

void Station::OfferTempFileDelete()
{
    m_receiver.CloseTempFile();
    const QString path = m_receiver.Run().tempFile;
    if (!m_cfg.IsReceiver() || !FileExists(path))
        return;
    m_ui.Ask(Question::DeleteTempFile,
             QStringLiteral("Delete tempfile '") + path
                 + QStringLiteral("' ?\r\n(Note: this file is needed if you want to use 'restart a file.'"),
             [this, path](bool yes) {
                 if (yes)
                     DeleteTempFile(path);
             });
}

void Station::DeleteTempFile(const QString& path)
{
    if (!m_disk.Remove(path))
        m_ui.Alert(QStringLiteral("Could not delete file '") + path + u'\'', MsgIcon::Exclamation);
}

bool Station::AutomaticRestart(const QString& errorText)
{
    QString why;
    m_port.SetPortOpen(false, why);
    SaveSettings();
    m_settingsSaved = true;
    if (!m_receiver.PrepareResumption())
        return false;
    m_log.Close();
    if (!startOwnProgram)
        return false;
    // The new copy starts after a second, when the device has settled; this
    // one answers nothing meanwhile, its port closed.
    m_restart = NewAlarm([this, errorText] {
        if (startOwnProgram()) {
            endProgramNow();
            return;
        }
        // As if there had been no restart to try.
        m_errors.ReportLocalError(ErrorNr::PortError);
        m_ui.Alert(QStringLiteral("COMPORT-ERROR: ") + errorText, MsgIcon::Critical);
    });
    m_restart->Start(restartDelayMs);
    return true;
}

// ---- the Sender's port failed inside a file ----

namespace {
constexpr qint64 kReopenPollMs = 200;
}

bool Station::SenderWaits(const QString& errorText)
{
    // Before the first answer nobody may be listening: the run ends as before.
    if (reopenTimeoutMs <= 0 || m_watchdog->Active() || !m_sender.MayGoOnAfterPortFailure())
        return false;
    m_tx.DropUnsent(true);
    QString why;
    m_port.SetPortOpen(false, why);
    m_acceptance.FrameReset();
    m_silence->Stop();
    m_answerSilence->Stop();
    m_portErrorText = errorText;
    m_reopenWhy.clear();
    m_portFailedMs = m_time.NowMs();
    const QString text = QStringLiteral("waiting up to %1 s for %2 to come back...")
                             .arg(reopenTimeoutMs / 1000)
                             .arg(m_port.Identity());
    m_log.WriteDebugLine(text);
    m_ui.SetStatus2(text);
    m_ui.UpdateControls(true);  // Stop stays: it gives the wait up
    // Not before the Receiver has given up a block the failure cut short and
    // its refusal has come: the first block after the wait starts clean there.
    m_reopen->Start(std::min<qint64>(SenderSilenceMs(0, m_cfg.speed), reopenTimeoutMs));
    return true;
}

void Station::TryReopen()
{
    QString why;
    // The protocol goes on only once a box has closed.
    if (!m_ui.BoxOpen() && m_port.Reopen(why)) {
        GoOnSending();
        return;
    }
    m_reopenWhy = why;
    if (m_time.NowMs() - m_portFailedMs >= reopenTimeoutMs) {
        GiveUpWaiting(false);
        return;
    }
    m_reopen->Start(kReopenPollMs);
}

void Station::GoOnSending()
{
    // Whatever waited in the driver came before the failure.
    m_port.DiscardInput();
    if (!m_port.OpenNote().isEmpty())
        m_log.WriteDebugLine(m_port.OpenNote());
    const QString text = QStringLiteral("%1 is back; going on with '%2'")
                             .arg(m_port.Identity(), m_sender.Run().CurrentEntry());
    m_log.WriteDebugLine(text);
    m_ui.SetStatus2(text);
    m_sender.GoOnAfterPortFailure();
    StartSilenceTimers();
}

void Station::GiveUpWaiting(bool cancelled)
{
    m_reopen->Stop();
    if (!cancelled)
        m_ui.Notice(QStringLiteral("the port did not come back: ") + m_reopenWhy);
    m_errors.ReportLocalError(ErrorNr::PortError);
    m_ui.Alert(QStringLiteral("COMPORT-ERROR: ") + m_portErrorText, MsgIcon::Critical);
}
