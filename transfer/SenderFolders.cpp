#include "SenderFolders.h"
#include "CommonRoutines.h"
#include "ErrorNumbers.h"
#include "Fso.h"
#include "Negotiation.h"
#include "RelativeFolder.h"
#include "Windows1252.h"

namespace {
QString FolderRefusal(const QString& what, const QString& folder)
{
    for (const QString& c : folder.split(u'/'))
        if (!RelativeFolder::ComponentOk(c))
            return QStringLiteral("Cannot send '%1': its folder '%2' cannot be received (a folder may not be named "
                                  "'.', '..' or like a drive, nor hold '\\' or control characters)")
                .arg(what, c);
    if (!FitsWindows1252(folder))
        return QStringLiteral("Cannot send '") + what
               + QStringLiteral("': its name has characters that a file header cannot carry "
                                "(only Windows-1252 characters can be sent)");
    if (folder.contains(u'|'))
        return QStringLiteral("Cannot send '") + what
               + QStringLiteral("': its name contains '|', which a file header cannot carry");
    return {};
}
}  // namespace

bool SenderFolders::RunHasFolders() const
{
    if (!m_run.emptyFolders.empty())
        return true;
    for (qint32 i = 1; i <= m_run.FilesToSendUpperBound(); ++i)
        if (m_run.filesToSend[size_t(i)].contains(u'/'))
            return true;
    return false;
}

quint32 SenderFolders::WithFolders(quint32 flags) const
{
    return RunHasFolders() ? flags | Negotiation::kFlagFolders : flags;
}

QString SenderFolders::Check() const
{
    QStringList paths;
    for (qint32 i = 1; i <= m_run.FilesToSendUpperBound(); ++i)
        paths << m_run.filesToSend[size_t(i)];
    for (const QString& folder : m_run.emptyFolders)
        paths << folder + u'/';
    for (const QString& path : paths) {
        const QString folder = RelativeFolder::FolderOf(path);
        if (folder.isEmpty())
            continue;
        if (m_c.cfg.classicOnly)
            return QStringLiteral("Cannot send '%1': files in folders go only in the extended mode, and the "
                                  "classic protocol only is set")
                .arg(path);
        if (const QString why = FolderRefusal(path, folder); !why.isEmpty())
            return why;
    }
    return {};
}

QString SenderFolders::FolderField(const QString& entry) const
{
    return RunHasFolders() ? u'|' + RelativeFolder::FolderOf(entry) : QString();
}

bool SenderFolders::Answered(bool taken, const QString& entry)
{
    m_run.receiverFolders = taken ? FolderTaking::Taken : FolderTaking::NotTaken;
    if (taken || !entry.contains(u'/'))
        return true;
    EndRun(m_run.fileIndex - 1);
    return false;
}

bool SenderFolders::MayGo(const QString& entry)
{
    if (m_run.receiverFolders != FolderTaking::NotTaken || !entry.contains(u'/'))
        return true;
    EndRun(m_run.fileIndex - 1);
    return false;
}

bool SenderFolders::MustAskAgain(const QString& entry) const
{
    return entry.contains(u'/') && m_run.receiverFolders != FolderTaking::Taken;
}

bool SenderFolders::EmptyFolderWaits() const
{
    return m_run.emptyFoldersSent < qint32(m_run.emptyFolders.size());
}

bool SenderFolders::SendEmptyFolder()
{
    TransferState& s = m_c.s;
    // Only a Receiver that took the folders flag on a file of this run reads
    // the name "." as the folder itself: nobody else ever sees one.
    if (m_run.receiverFolders != FolderTaking::Taken) {
        EndRun(m_run.fileIndex);
        return false;
    }
    const QString folder = m_run.emptyFolders[size_t(m_run.emptyFoldersSent++)];
    RunTotals done = s.runTotals;
    done.index = done.count;
    done.bytesBefore = done.bytes;
    const double date = m_c.disk.ModifiedDate(BuildPath(m_c.cfg.sendPath, folder));
    const quint32 flags = WithFolders(Negotiation::OfferedFlags(m_c.cfg.compress, m_c.cfg.compressReference));
    const QString header = QStringLiteral("0|") + DoubleToText(date) + QStringLiteral("|.|")
                           + Negotiation::OfferFields(flags) + u'|' + Negotiation::RunFields(done) + u'|' + folder;
    // Its answer is that of a file header (OK k - 1), after which the next header goes.
    s.stage = Stage::Header;
    m_c.tx.SendString(s.BlockTypeToSend(), header);
    m_c.ui.SetStatus1(QStringLiteral("sending ") + folder + QStringLiteral("/..."));
    return true;
}

void SenderFolders::EndRun(qint32 sent)
{
    const QString text = QStringLiteral("The receiving program takes no folders (the original program, or Velotrax "
                                        "with the classic protocol only or of an earlier version): no file from a "
                                        "subfolder was sent; files sent: %1 of %2")
                             .arg(sent)
                             .arg(m_run.FilesToSendUpperBound());
    m_c.log.WriteDebugLine(text);
    m_errors.ReportLocalError(ErrorNr::NoFolders);
    m_c.ui.Alert(text, MsgIcon::Critical);
}
