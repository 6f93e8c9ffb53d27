#include "Resumption.h"
#include "Frame.h"
#include "ReceiverSide.h"
#include "RelativeFolder.h"
#include "RestartFile.h"

bool Resumption::Prepare()
{
    if (!WriteRestartFile())
        return false;
    m_run.receiving.reset();
    return true;
}

bool Resumption::WriteRestartFile()
{
    const QString path = RestartFilePath(m_c.cfg.restartDir);
    // A restart file with missing lines would resume at a wrong place: every byte must reach the disk.
    if (m_c.disk.WriteWhole(path, RestartFileContent(m_c.s, m_run.file)))
        return true;
    m_c.ui.Alert(QStringLiteral("Could not create restartfile ") + path + QStringLiteral(" !"), MsgIcon::Critical);
    return false;
}

bool Resumption::ReadRestartFile(TransferState& s, AnnouncedFile& f, const std::function<void()>& endProgram)
{
    const QString path = RestartFilePath(m_c.cfg.restartDir);
    const std::optional<QByteArray> content = m_c.disk.ReadWhole(path);
    if (!content)
        return false;
    ParseRestartFile(*content, s, f);
    if (!m_c.disk.Remove(path)) {
        m_c.ui.Alert(QStringLiteral("FATAL SITUATION! Could not delete restartfile ") + path + QStringLiteral(" !!!"),
                      MsgIcon::Critical);
        endProgram();
        return false;  // never resume from a file that would be read again
    }
    return true;
}

Resumption::Result Resumption::Resume(const std::function<void()>& endProgram)
{
    // What a new instance has at start-up: a fresh record, filled from the restart file.
    TransferState read;
    AnnouncedFile file;
    if (!ReadRestartFile(read, file, endProgram))
        return Result::NothingToResume;
    TransferState& s = m_c.s;
    s = std::move(read);
    m_run = ReceiverRun();  // its files are closed: nothing of the old record stays open
    m_run.file = file;
    m_run.tempFile = ReceiverSide::TempFilePath(m_c.cfg.receivePath, m_run.file.folder, m_run.file.name);
    if (const QString why = Refusal(); !why.isEmpty())
        return Refuse(why);
    if (!ReopenTempFile())
        return Refuse(QStringLiteral("ERROR: Restarting: Could not open for write: ") + m_run.tempFile);
    if (!m_c.session.OpenPort())
        return Result::Refused;  // said so and ended the run
    m_c.log.WriteDebugLine(QStringLiteral("TRYING TO RESTART"));
    m_c.ui.SetStatus2(QString());  // as at an activation: nothing of before stays
    s.stage = Stage::InFile;
    m_c.rx.StartNextBlock();
    // The block lost with the port is asked for; the Sender may also repeat the one before it.
    m_run.repeatMayFollow = true;
    m_c.tx.SendAnswer(ANSWER_RESEND_BLOCK, 0);
    return Result::Resumed;
}

QString Resumption::Refusal() const
{
    const TransferState& s = m_c.s;
    const FileFacts temp = m_c.disk.Look(m_run.tempFile);
    const qint64 length = temp.exists ? temp.size : 0;
    // Resuming must never leave a gap in the file nor write past what was announced.
    const bool nameOk = (m_run.file.name.isEmpty() || ReceiverSide::SafeFileName(m_run.file.name) == m_run.file.name)
                        && RelativeFolder::Valid(m_run.file.folder);
    const qint64 pos = s.FileReceivingPos;
    if (nameOk && pos >= 1 && pos <= length + 1 && pos <= qint64(m_run.file.size) + 1 && !temp.link)
        return {};
    return QStringLiteral("ERROR: Restarting: the restart file does not match the temp file '") + m_run.tempFile
           + QStringLiteral("' (position ") + QString::number(pos) + QStringLiteral(", temp file has ")
           + QString::number(length) + QStringLiteral(" bytes); the temp file is kept for 'Restart a file'.");
}

Resumption::Result Resumption::Refuse(const QString& text)
{
    m_c.ui.Alert(text, MsgIcon::Critical);
    m_c.ui.RunEnded(RunOutcome::Of(RunOutcome::Kind::PortFailed));
    return Result::Refused;
}

bool Resumption::ReopenTempFile()
{
    // One that is gone held nothing (the position is 1): it starts anew.
    const QString& root = m_c.cfg.receivePath;
    const QString name = ReceiverSide::TempName(m_run.file.name);
    m_run.receiving = m_c.disk.Look(m_run.tempFile).exists ? m_c.disk.OpenTempIn(root, m_run.file.folder, name, nullptr)
                                                       : m_c.disk.CreateTempIn(root, m_run.file.folder, name, nullptr);
    return m_run.receiving != nullptr;
}

QByteArray Resumption::LostBlockAnswer(const Block& b) const
{
    const TransferState& s = m_c.s;
    if (!m_run.repeatMayFollow || b.sequenceNrA != s.lastSequenceNr)
        return {};
    const QByteArray ok = BuildAnswerBlock(ANSWER_OK, s.lastSequenceNr - 1);
    if (b.type == BLOCK_DATA)
        return s.FileReceivingPos > 1 && PayloadIsHeld(b) ? ok : QByteArray();
    const QString text = FrameTransmitter::BytesToString(b.payload);
    FileHeader h;
    if (ReceiverSide::ParseHeader(text, h) != HeaderKind::File || h.size != m_run.file.size || h.date != m_run.file.date
        || h.name != m_run.file.name || (m_c.cfg.classicOnly ? QString() : h.folder) != m_run.file.folder)
        return {};
    if (b.type == BLOCK_RESTART_HEADER)
        return BuildAnswerBlock(ANSWER_RESTART_POS, qint32(s.FileReceivingPos));
    return b.type == BLOCK_HEADER && s.FileReceivingPos == 1 ? ok : QByteArray();
}

// The block written last ends right before FileReceivingPos in the temp file.
bool Resumption::PayloadIsHeld(const Block& b) const
{
    const TransferState& s = m_c.s;
    const qint32 n = b.length;
    const qint64 start = qint64(s.FileReceivingPos) - 1 - n;
    if (n <= 0 || start < 0 || !m_run.receiving)
        return false;
    return QByteArrayView(m_run.receiving->ReadAt(start, n)) == b.payload;
}

Resumption::NewRun Resumption::EndOnNewRun(const Block& b)
{
    TransferState& s = m_c.s;
    const bool header = b.IsData() && (b.type == BLOCK_HEADER || b.type == BLOCK_RESTART_HEADER);
    // Headers always carry the sum, whatever the file before them used.
    if (!header || b.sequenceNrA != 1 || b.sequenceNrB != 1 || s.stage != Stage::InFile
        || !CheckMatches(b, CalcChecksum))
        return NewRun::No;
    if (!m_run.repeatMayFollow && !m_run.lineWasQuiet) {
        m_c.log.WriteDebugLine(QStringLiteral("header of a new run inside '") + m_run.file.name
                               + QStringLiteral("': not answered before the line has been quiet"));
        return NewRun::NotYet;
    }
    const QString left = QStringLiteral("'%1' was left unfinished at byte %2 of %3; its temp file is kept for 'Restart a file'")
                             .arg(m_run.file.name)
                             .arg(s.FileReceivingPos - 1)
                             .arg(m_run.file.size);
    m_c.log.WriteDebugLine(QStringLiteral("new run: ") + left);
    m_run.receiving.reset();
    // The block being handled lives in the gathering.
    const GatherState gather = s.gather;
    m_c.session.ResetRun();
    s.gather = gather;
    m_c.ui.Notice(left);
    return NewRun::Begun;
}
