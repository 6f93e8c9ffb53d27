#include "ErrorReport.h"
#include "ErrorNumbers.h"

void ErrorReport::ReportLocalError(qint32 nr)
{
    if (onError)
        onError(nr, true);
    m_c.log.WriteDebugLine(QStringLiteral("ERROR from this side; nr=") + QString::number(nr));
    m_c.ui.SetStatus2(ErrorNr::Text(nr));
    m_c.tx.DropUnsent(false);
    m_c.tx.SendAnswer(ANSWER_ERROR, nr);
    m_c.session.ClosePort();
    m_c.session.SetWatchdogEnabled(false);
    m_c.ui.RunEnded(RunOutcome::Failed(nr, RunOutcome::Side::Here));
}

bool ErrorReport::OneMoreResend(const QString& givingUp)
{
    if (m_c.s.OneMoreResend())
        return true;
    if (!givingUp.isEmpty())
        m_c.log.WriteDebugLine(givingUp);
    ReportLocalError(ErrorNr::TooManyResends);
    return false;
}

void ErrorReport::ReportRemoteError(qint32 nr)
{
    if (onError)
        onError(nr, false);
    m_c.log.WriteDebugLine(QStringLiteral("ERROR from other side; nr=") + QString::number(nr));
    m_c.session.ClosePort();
    if (nr >= 0 && nr <= ErrorNr::Last)
        m_c.ui.Alert(QStringLiteral("ERROR from other side: ") + ErrorNr::Text(nr), MsgIcon::Critical);
    else
        m_c.ui.Alert(QStringLiteral("ERROR from other side; strange errornr=") + QString::number(nr),
                      MsgIcon::Critical);
    m_c.session.SetWatchdogEnabled(false);
    m_c.ui.RunEnded(RunOutcome::Failed(nr, RunOutcome::Side::Other));
}

void ShowProgress(UserInterface& ui, qint64 done, qint64 total)
{
    if (total < 1)
        return;
    ui.SetProgress(float(double(done) * 100.0 / double(total)));
}

QString TempWriteFailedText(const QString& path, const DiskFile& file)
{
    const QString why = file.Failure();
    return QStringLiteral("Error writing file '%1': %2; it keeps %3 bytes for 'Restart a file'")
        .arg(path, why)
        .arg(file.Size());
}
