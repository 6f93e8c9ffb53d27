#include "SenderSide.h"
#include "ErrorNumbers.h"
#include "CommonRoutines.h"
#include "Fso.h"
#include "Negotiation.h"
#include "RelativeFolder.h"
#include "Windows1252.h"

namespace {
// The header is "size|date|name": a "|" in the name would cut it short.
bool NameFitsHeader(const QString& name)
{
    return !name.contains(u'|');
}
}  // namespace

QString SenderSide::SendFilePath(qint32 index) const
{
    return BuildPath(m_c.cfg.sendPath, m_run.filesToSend[size_t(index)]);
}

void SenderSide::Choose(bool restart, std::vector<QString> filesToSend, std::vector<QString> emptyFolders)
{
    m_run.restart = restart;
    m_run.filesToSend = std::move(filesToSend);
    m_run.emptyFolders = std::move(emptyFolders);
}

QString SenderSide::CheckFilesToSend() const
{
    for (qint32 i = 1; i <= m_run.FilesToSendUpperBound(); ++i) {
        const QString& name = m_run.filesToSend[size_t(i)];
        if (!FitsWindows1252(name))
            return QStringLiteral("Cannot send '") + name
                   + QStringLiteral("': its name has characters that a file header cannot carry "
                                    "(only Windows-1252 characters can be sent)");
        if (!NameFitsHeader(name))
            return QStringLiteral("Cannot send '") + name
                   + QStringLiteral("': its name contains '|', which a file header cannot carry");
        const FileFacts file = m_c.disk.Look(SendFilePath(i));
        if (file.exists && file.size > LargestFile())
            return QStringLiteral("Cannot send '") + name + QStringLiteral("': it has ") + QString::number(file.size)
                   + (m_c.cfg.classicOnly ? QStringLiteral(" bytes; files of 2147483647 bytes or more cannot be sent")
                                          : QStringLiteral(" bytes; files of more than %1 bytes cannot be sent")
                                                .arg(Negotiation::kLargestWideSize));
    }
    return m_folders.Check();
}

bool SenderSide::SendNextFile()
{
    TransferState& s = m_c.s;
    m_run.sending.reset();
    m_run.sendPos = 0;
    s.caps = Capabilities::Classic();  // headers and "END" always go in the classic form
    m_offered = false;
    if (m_run.fileIndex >= m_run.FilesToSendUpperBound() && m_folders.EmptyFolderWaits())
        return m_folders.SendEmptyFolder();
    ++m_run.fileIndex;
    if (m_run.fileIndex > m_run.FilesToSendUpperBound()) {
        m_c.tx.SendString(s.BlockTypeToSend(), QStringLiteral("END"));
        s.stage = Stage::Ending;
        return true;
    }
    const QString path = SendFilePath(m_run.fileIndex);
    const QString& name = m_run.filesToSend[size_t(m_run.fileIndex)];
    if (!m_folders.MayGo(name))
        return false;
    m_run.sending = m_c.disk.OpenToRead(path, nullptr);
    // A file that grew past the limit since the selection, or whose name cannot travel, is refused too.
    if (!m_run.sending || m_run.sending->Size() > LargestFile() || !FitsWindows1252(name) || !NameFitsHeader(name)) {
        m_run.sending.reset();
        m_c.ui.Alert(QStringLiteral("Error opening file '") + path + u'\'', MsgIcon::Critical);
        m_errors.ReportLocalError(ErrorNr::OpenForReadFailed);
        return false;
    }
    NextFileOfTheRun();
    m_run.sendFileSize = m_run.sending->Size();
    m_offered = !m_c.cfg.classicOnly;
    m_c.tx.SendString(s.BlockTypeToSend(), HeaderText());
    s.stage = Stage::InFile;
    return true;
}

QString SenderSide::HeaderText() const
{
    const TransferState& s = m_c.s;
    const QString path = SendFilePath(m_run.fileIndex);
    const QString& entry = m_run.filesToSend[size_t(m_run.fileIndex)];
    // The name field holds the plain name; its folder rides with the offer.
    QString header = QString::number(m_run.sendFileSize) + u'|' + DoubleToText(m_c.disk.ModifiedDate(path)) + u'|'
                     + RelativeFolder::NameOf(entry);
    // The offer rides in fields the original Receiver drops.
    if (m_offered)
        header += u'|' + Negotiation::OfferFields(OfferedFlags()) + u'|' + Negotiation::RunFields(s.runTotals)
                  + m_folders.FolderField(entry);
    return header;
}

void SenderSide::NextFileOfTheRun()
{
    TransferState& s = m_c.s;
    RunTotals& run = s.runTotals;
    if (m_run.fileIndex == 1) {
        run = RunTotals();
        run.count = m_run.FilesToSendUpperBound();
        for (qint32 i = 1; i <= run.count; ++i)
            run.bytes += m_c.disk.Look(SendFilePath(i)).size;
    } else {
        run.bytesBefore += m_run.sendFileSize;  // the file before this one
    }
    run.index = m_run.fileIndex;
    run.bytes = std::max(run.bytes, run.bytesBefore + m_run.sending->Size());
}

SentBlock SenderSide::LastSent() const
{
    const TransferState& s = m_c.s;
    const std::optional<Block> block = ParseBlockHead(s.lastBlock);
    return SentBlock{s.sequenceNr, block ? block->type : 0, s.stage == Stage::Ending,
                     m_watchdogRestarted, m_offered};
}

bool SenderSide::InExtendedData() const
{
    return m_c.s.caps.extended && m_c.s.stage == Stage::InFile;
}

qint64 SenderSide::AwaitedLineBytes() const
{
    return InExtendedData() ? m_extended.LineBytesAwaited() : m_c.tx.LastWriteBytes();
}

qint64 SenderSide::BytesDone() const
{
    if (InExtendedData())
        return m_extended.BytesTaken();
    return m_run.sending ? m_run.sendPos : 0;
}

void SenderSide::HandleExtendedAnswer(const Block& b)
{
    const ExtendedSender::Step step = m_extended.HandleAnswer(b.type, b.Value());
    if (step == ExtendedSender::Step::Failed)
        return;
    if (step == ExtendedSender::Step::FileDone) {
        // The next header skips a number: its answer (OK number - 1) then differs
        // from a repeat of the file-end answer (OK number), as after a lost header.
        ++m_c.s.sequenceNr;
        m_c.s.stage = Stage::Header;
        GoOn();
        return;
    }
    m_c.acceptance.FrameReset();
}

void SenderSide::HandleAnswer(const Block& b)
{
    TransferState& s = m_c.s;
    m_c.session.SetWatchdogEnabled(false);
    if (InExtendedData() && b.type != ANSWER_STOP) {
        HandleExtendedAnswer(b);
        return;
    }
    if (ContinuationAnswer(b))
        return;
    switch (MatchAnswer(b.type, b.sequenceNrA, LastSent())) {
    case AnswerFit::Accepted: {
        QString why;
        const std::optional<Capabilities> caps
            = Negotiation::Honour(b.Value(), OfferedFlags(), why);
        if (!caps) {
            // Guessing at terms that were never offered could only fail later, or use what the user refused.
            const QString text = QStringLiteral("The other side answered the extended-mode offer with %1: %2")
                                     .arg(QStringLiteral("0x%1").arg(quint32(b.Value()), 8, 16, QLatin1Char('0')), why);
            m_c.log.WriteDebugLine(text);
            m_errors.ReportLocalError(ErrorNr::AcceptanceNotHonoured);
            m_c.ui.Alert(text, MsgIcon::Critical);
            return;
        }
        if (!caps->wide && TooLargeForTheReceiver())
            return;
        m_c.log.WriteDebugLine(QStringLiteral("the other side accepts the extended mode"));
        if (!m_folders.Answered(caps->folders, CurrentEntry()))
            return;
        m_c.acceptance.FrameReset();
        s.stage = Stage::InFile;
        m_extended.Begin(*caps, m_run.sendFileSize, LastSent().type == BLOCK_RESTART_HEADER);
        return;
    }
    case AnswerFit::Stale:
        m_c.log.WriteDebugLine(QStringLiteral("stale answer ignored: ") + QString::number(b.type)
                               + QStringLiteral(", value ") + QString::number(b.sequenceNrA));
        m_c.acceptance.FrameReset();
        return;
    case AnswerFit::HeldAlready:
        // Its lost answer alone says whether a file inside a folder may go on.
        if (LastSent().type != BLOCK_DATA && !LastSent().end && m_folders.MustAskAgain(CurrentEntry())) {
            Resend();
            return;
        }
        m_c.log.WriteDebugLine(QStringLiteral("answer NOT ok, but the other side holds block ")
                               + QString::number(s.sequenceNr) + QStringLiteral(": going on"));
        if (s.stage == Stage::Ending)
            AllReceived();
        else
            GoOn();
        return;
    case AnswerFit::Fits:
        break;
    }
    // The header of a file of 2 GiB or more answered in the classic way.
    if ((b.type == ANSWER_OK || b.type == ANSWER_RESTART_POS) && s.stage == Stage::InFile
        && TooLargeForTheReceiver())
        return;
    switch (b.type) {
    case ANSWER_RESTART_POS: {
        if (m_offered && !m_folders.Answered(false, CurrentEntry()))
            return;
        const qint32 p = b.sequenceNrA;
        if (p < 1) {
            m_errors.ReportLocalError(ErrorNr::RestartWeirdPosition);
            return;
        }
        if (!m_run.sending) {
            m_errors.ReportLocalError(ErrorNr::RestartFileNotOpen);
            return;
        }
        if (p > m_run.sending->Size()) {
            m_errors.ReportLocalError(ErrorNr::RestartWeirdPosition);
            return;
        }
        m_run.sendPos = p - 1;
        s.stage = Stage::InFile;
        GoOn();
        return;
    }
    case ANSWER_OK:
        // The classic answer to an offering header: no folders there.
        if (m_offered && LastSent().type == BLOCK_HEADER && !m_folders.Answered(false, CurrentEntry()))
            return;
        GoOn();
        return;
    case ANSWER_NOT_OK:
        // A Receiver without a lead-byte rule answers the tail of a damaged
        // write with more refusals; one that comes before the block just sent
        // could have arrived is about those bytes, not about that block.
        if (m_c.tx.LastWriteOnTheLine()) {
            m_c.log.WriteDebugLine(QStringLiteral("answer NOT ok to bytes sent before the last block: ignored"));
            m_c.acceptance.FrameReset();
            return;
        }
        Resend();
        return;
    case ANSWER_RESEND_BLOCK:
        Resend();
        return;
    case ANSWER_ALL_RECEIVED:
        AllReceived();
        return;
    case ANSWER_STOP:
        m_c.session.ClosePort();
        m_c.ui.SetStatus2(QStringLiteral("other side pressed Stop"));
        m_c.ui.RunEnded(RunOutcome::StoppedBy(RunOutcome::Side::Other));
        return;
    default:
        ++s.countIncorrectBlockType;
        m_c.acceptance.Reject();
        return;
    }
}

quint32 SenderSide::OfferedFlags() const
{
    return m_folders.WithFolders(Negotiation::OfferedFlags(m_c.cfg.compress, m_c.cfg.compressReference, NeedsWide()));
}

bool SenderSide::NeedsWide() const
{
    return m_run.sendFileSize > Negotiation::kLargestSize;
}

qint64 SenderSide::LargestFile() const
{
    return m_c.cfg.classicOnly ? Negotiation::kLargestSize : Negotiation::kLargestWideSize;
}

bool SenderSide::TooLargeForTheReceiver()
{
    if (!NeedsWide())
        return false;
    const QString text = QStringLiteral("Cannot send '%1': it has %2 bytes, and the receiving program takes no "
                                        "files of 2147483647 bytes or more")
                             .arg(m_run.filesToSend[size_t(m_run.fileIndex)])
                             .arg(m_run.sendFileSize);
    m_c.log.WriteDebugLine(text);
    m_errors.ReportLocalError(ErrorNr::SizeNotReceivable);
    m_c.ui.Alert(text, MsgIcon::Critical);
    return true;
}

void SenderSide::GoOn()
{
    TransferState& s = m_c.s;
    if (s.stage == Stage::Header) {
        if (!SendNextFile())
            return;
    } else if (s.stage == Stage::InFile) {
        if (!DataStep())
            return;
    }
    s.resendCount = 0;
    m_run.silenceAsked = false;
    m_c.acceptance.FrameReset();
}

void SenderSide::AllReceived()
{
    const qint32 files = m_run.fileIndex - 1;  // closing the port resets the count
    m_c.ui.SetStatus2(QStringLiteral("Files sent: ") + QString::number(files));
    m_c.session.ClosePort();
    m_c.ui.RunEnded(RunOutcome::Done(files));
}

void SenderSide::Resend()
{
    if (!m_errors.OneMoreResend())
        return;
    m_c.tx.SendBytes(m_c.s.lastBlock);
    m_c.log.WriteDebugLine(QStringLiteral("Resent: datablock."));
    m_run.silenceAsked = false;
    m_c.acceptance.FrameReset();
}

void SenderSide::AnswerSilence()
{
    if (!m_errors.OneMoreResend(QStringLiteral("no answer: giving up")))
        return;
    // Whatever part of an answer came before the silence is lost for good.
    m_c.acceptance.FrameReset();
    // The short request first: it brings a lost answer back, and a Receiver
    // still waiting for lost bytes takes it as those bytes, fails the block and
    // asks for it, where a whole block would leave it a tail of garbage.
    if (!m_run.silenceAsked) {
        m_run.silenceAsked = true;
        m_c.tx.SendAnswer(ANSWER_RESEND_ANSWER, 0);
        m_c.log.WriteDebugLine(QStringLiteral("no answer: sent: answer: please resend answer."));
        return;
    }
    m_run.silenceAsked = false;
    if (InExtendedData()) {
        m_extended.SendAgainAfterSilence();
        return;
    }
    m_c.tx.SendBytes(m_c.s.lastBlock);
    m_c.log.WriteDebugLine(QStringLiteral("no answer: Resent: datablock."));
}

bool SenderSide::DataStep()
{
    TransferState& s = m_c.s;
    const qint64 p = m_run.sendPos + 1;
    const qint64 n = std::min<qint64>(qint64(m_run.sendFileSize) - p + 1, s.caps.largestPayload);
    QByteArray block;
    if (n > 0) {
        block = m_run.sending ? m_run.sending->ReadAt(m_run.sendPos, n) : QByteArray();
        if (block.size() != n) {
            // A file that shrank or cannot be read must not go out with a hole in it.
            const QString path = SendFilePath(m_run.fileIndex);
            m_c.ui.Alert(QStringLiteral("Error reading file '") + path + u'\'', MsgIcon::Critical);
            m_errors.ReportLocalError(ErrorNr::OpenForReadFailed);
            return false;
        }
    }
    m_c.tx.SendDataBlock(BLOCK_DATA, block);
    if (n > 0)
        m_run.sendPos += n;
    else
        s.stage = Stage::Header;
    m_c.ui.SetStatus1(QStringLiteral("sending ") + m_run.filesToSend[size_t(m_run.fileIndex)] + QStringLiteral("..."));
    m_c.ui.SetStatus2(QStringLiteral("bytes: ") + QString::number(p - 1) + QStringLiteral(" of ")
                      + QString::number(m_run.sendFileSize));
    ShowProgress(m_c.ui, p - 1, m_run.sendFileSize);
    return true;
}

void SenderSide::WatchdogTick()
{
    m_c.session.SetWatchdogEnabled(false);
    m_c.ui.Ask(Question::NoListener,
               QStringLiteral("There seems no Velotrax-listener at other side activated;\r\n"
                              "activate listener at other side and press OK to restart sending selected files."),
               [this](bool sendAgain) { NoListenerAnswered(sendAgain); });
}

void SenderSide::NoListenerAnswered(bool sendAgain)
{
    // A run ended meanwhile (the port failed) is not started again.
    if (!m_c.line.PortOpen())
        return;
    if (sendAgain) {
        m_c.session.ResetRun();
        m_watchdogRestarted = true;
        if (!SendNextFile())
            return;
        m_c.session.SetWatchdogEnabled(true);
    } else {
        m_c.session.ClosePort();
        m_c.ui.RunEnded(RunOutcome::Of(RunOutcome::Kind::NoListener));
    }
}

// ---- going on after the port failed ----

void SenderSide::GoOnAfterPortFailure()
{
    TransferState& s = m_c.s;
    m_run.silenceAsked = false;
    m_c.acceptance.FrameReset();
    if (InExtendedData()) {
        m_extended.GoOnAfterPortFailure();
        return;
    }
    const std::optional<Block> last = ParseDataBlock(s.lastBlock);
    if (last && last->type == BLOCK_DATA && last->length > 0 && s.stage == Stage::InFile) {
        SendContinuationHeader();
        return;
    }
    // A header or a file's end: the Receiver placed it or not, and takes it again either way.
    m_c.tx.SendBytes(s.lastBlock);
    m_c.log.WriteDebugLine(QStringLiteral("port back: Resent: datablock."));
}

void SenderSide::SendContinuationHeader()
{
    TransferState& s = m_c.s;
    // Whether the last data block arrived is unknown: the Receiver's temp file
    // says where it is. Numbered on, not 1: the same run goes on.
    m_c.tx.SendString(BLOCK_RESTART_HEADER, HeaderText());
    m_continuation = s.lastBlock;
}

bool SenderSide::ContinuationAnswer(const Block& b)
{
    TransferState& s = m_c.s;
    if (m_continuation.isEmpty() || s.lastBlock != m_continuation || b.type != ANSWER_RESTART_POS || !m_run.sending
        || b.sequenceNrA != m_run.sending->Size() + 1)
        return false;
    // Every byte arrived before the port failed: only the file's end is missing.
    m_run.sendPos = m_run.sending->Size();
    GoOn();
    return true;
}
