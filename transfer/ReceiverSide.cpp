#include "ReceiverSide.h"
#include "ErrorNumbers.h"
#include "CommonRoutines.h"
#include "Fso.h"
#include "LineTimes.h"
#include "Negotiation.h"
#include "RelativeFolder.h"
#include "ResendReasons.h"

namespace {
QString Parenthesised(const QString& text)
{
    return text.isEmpty() ? text : QStringLiteral(" (") + text + u')';
}
}  // namespace

void ReceiverSide::HandleBlock(const Block& b)
{
    if (m_c.s.caps.extended && m_c.s.stage == Stage::InFile)
        ExtendedData(b);
    else if (b.type == BLOCK_HEADER || b.type == BLOCK_RESTART_HEADER)
        HandleHeader(b);
    else if (m_c.s.stage == Stage::InFile)
        Data(b);
}

qint64 ReceiverSide::LargestSize(quint32 offer)
{
    return offer & Negotiation::kFlagWide ? Negotiation::kLargestWideSize : Negotiation::kLargestSize;
}

QString ReceiverSide::TempFilePath(const QString& receivePath, const QString& name)
{
    return BuildPath(receivePath, TempName(name));
}

QString ReceiverSide::TempFilePath(const QString& receivePath, const QString& folder, const QString& name)
{
    return BuildPath(receivePath, RelativeFolder::Join(folder, TempName(name)));
}

QString ReceiverSide::TempName(const QString& name)
{
    return u'_' + name + QStringLiteral(".tmp");
}

QString ReceiverSide::SafeFileName(const QString& received)
{
    qsizetype cut = received.size();
    while (cut > 0 && received[cut - 1] != u'/' && received[cut - 1] != u'\\')
        --cut;
    const QString name = received.mid(cut);
    if (name.isEmpty() || name == u"." || name == u"..")
        return QString();
    for (QChar ch : name)
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7f)
            return QString();
#ifdef Q_OS_WIN
    if (name.contains(u':'))
        return QString();
#endif
    return name;
}

HeaderKind ReceiverSide::ParseHeader(const QString& text, FileHeader& header)
{
    TextArray fields(11);
    SplitFields(fields, false, text, QStringLiteral("|"));
    if (fields[3].isEmpty())
        return fields[1] == u"END" && fields[2].isEmpty() ? HeaderKind::End : HeaderKind::Malformed;
    header.offer = Negotiation::ReadOffer({fields[4], fields[5]});
    header.sizeText = fields[1];
    bool number = false;
    const qlonglong size = fields[1].toLongLong(&number);
    header.sizeFits = number && size >= 0 && size <= LargestSize(header.offer);
    // Beyond 32 bits only with wide positions; the original program's headers keep the lenient reading.
    header.size = header.sizeFits ? size : ValLong(fields[1]);
    header.date = ValDouble(fields[2]);
    header.receivedName = fields[3];
    // A name that would leave the receive path is a malformed header.
    header.name = SafeFileName(fields[3]);
    if (header.offer)
        header.run = Negotiation::ReadRunTotals({fields[6], fields[7], fields[8], fields[9]});
    if (header.offer & Negotiation::kFlagFolders) {
        header.folder = fields[10];
        if (fields[3] == u".")
            return HeaderKind::Folder;
    }
    return header.name.isEmpty() ? HeaderKind::Malformed : HeaderKind::File;
}

void ReceiverSide::HandleHeader(const Block& b)
{
    TransferState& s = m_c.s;
    const QString text = FrameTransmitter::BytesToString(b.payload);
    m_c.log.WriteDebugLine(QStringLiteral("Expecting size|date|filename: received: '") + text + u'\'');

    FileHeader h;
    const HeaderKind kind = ParseHeader(text, h);
    switch (kind) {
    case HeaderKind::End:
        EndOfTransfer();
        return;
    case HeaderKind::Malformed:
        RefuseHeader(h.receivedName.isEmpty() ? QString() : QStringLiteral("file name: '") + h.receivedName + u'\'');
        return;
    case HeaderKind::File:
    case HeaderKind::Folder:
        break;
    }
    if (!TakeFolderField(kind, h))
        return;
    if (kind == HeaderKind::Folder) {
        MakeFolder(b, h.folder);
        return;
    }
    // A Velotrax Sender says at once what it cannot send; the original
    // program's headers keep the lenient reading.
    if (h.offer && !m_c.cfg.classicOnly && !h.sizeFits) {
        m_run.file.name = h.name;
        m_errors.ReportLocalError(ErrorNr::SizeNotReceivable);
        m_c.ui.Alert(QStringLiteral("Cannot receive '%1': its size '%2' is not a number of bytes up to %3")
                          .arg(h.name, h.sizeText)
                          .arg(LargestSize(h.offer)),
                      MsgIcon::Critical);
        return;
    }
    m_run.file.size = h.size;
    m_run.file.date = h.date;
    s.runTotals = h.run;
    m_run.file.name = h.name;
    m_run.file.folder = h.folder;
    s.FileReceivingPos = 1;
    m_run.tempFile = TempFilePath(m_c.cfg.receivePath, m_run.file.folder, m_run.file.name);
    m_run.afterExtended = false;
    const Capabilities caps = h.offer && !m_c.cfg.classicOnly
                                  ? Negotiation::Agreed(h.offer, m_c.cfg.compress, m_c.cfg.compressReference,
                                                        Negotiation::kLargestPayload)
                                  : Capabilities::Classic();
    if (b.type == BLOCK_RESTART_HEADER)
        RestartFile(b, caps);
    else {
        NewFile();
        if (s.stage != Stage::InFile)
            return;
        if (caps.extended)
            AcceptExtended(b, caps);
        else
            AnswerOk(b);
    }
}

void ReceiverSide::RefuseHeader(const QString& what)
{
    if (!what.isEmpty())
        m_c.log.WriteDebugLine(QStringLiteral("Refused ") + what);
    ++m_c.s.countIncorrectSizDateFname;
    m_c.acceptance.Reject();
}

bool ReceiverSide::TakeFolderField(HeaderKind kind, FileHeader& h)
{
    // Without folders the file goes at the top, as the original program puts
    // it: its Sender learns from the answer and sends no file of a folder.
    const bool folders = (h.offer & Negotiation::kFlagFolders) && !m_c.cfg.classicOnly;
    if (!folders) {
        h.folder.clear();
        if (kind == HeaderKind::Folder)
            RefuseHeader(QStringLiteral("file name: '.'"));
        return kind != HeaderKind::Folder;
    }
    if (RelativeFolder::Valid(h.folder) && (kind != HeaderKind::Folder || !h.folder.isEmpty()))
        return true;
    RefuseHeader(QStringLiteral("folder: '") + h.folder + u'\'');
    return false;
}

void ReceiverSide::MakeFolder(const Block& b, const QString& folder)
{
    QString why;
    if (!m_c.disk.MakeFolders(m_c.cfg.receivePath, folder, &why)) {
        m_errors.ReportLocalError(ErrorNr::CreateTempFileFailed);
        m_c.ui.Alert(QStringLiteral("Error creating folder '") + BuildPath(m_c.cfg.receivePath, folder)
                         + QStringLiteral("': ") + why,
                     MsgIcon::Critical);
        return;
    }
    m_c.log.WriteDebugLine(QStringLiteral("folder made: ") + folder);
    m_run.afterExtended = false;
    AnswerOk(b);
}

void ReceiverSide::AcceptExtended(const Block& b, const Capabilities& caps)
{
    TransferState& s = m_c.s;
    if (!m_extended.Begin(caps, s.FileReceivingPos - 1, b.sequenceNrA)) {
        m_errors.ReportLocalError(ErrorNr::RestartTempFileNotOpened);
        return;
    }
    s.lastSequenceNr = b.sequenceNrA;
    s.resendCount = 0;
    m_c.tx.SendAnswerValue(ANSWER_OK, Negotiation::AcceptanceValue(caps));
    m_c.log.WriteDebugLine(QStringLiteral("sent: answer: extended mode accepted."));
    m_repeats.RememberAccepted(b);
    m_c.acceptance.FrameReset();
}

void ReceiverSide::ExtendedData(const Block& b)
{
    const auto* payload = reinterpret_cast<const quint8*>(b.payload.data());
    if (m_extended.Take(b.type, b.sequenceNrA, payload, b.length) != ExtendedReceiver::Step::FileComplete)
        return;
    if (!FinishFile())
        return;
    m_run.afterExtended = true;
    m_extended.AnswerOk(b.sequenceNrA);
}

void ReceiverSide::CreateFailed(const QString& why)
{
    m_errors.ReportLocalError(ErrorNr::CreateTempFileFailed);
    m_c.ui.Alert(QStringLiteral("Error creating file '") + m_run.tempFile + QStringLiteral("': ") + why,
                  MsgIcon::Critical);
}

void ReceiverSide::NewFile()
{
    QString why;
    if (!m_run.file.folder.isEmpty() && !m_c.disk.MakeFolders(m_c.cfg.receivePath, m_run.file.folder, &why)) {
        CreateFailed(why);
        return;
    }
    m_run.receiving = m_c.disk.CreateTempIn(m_c.cfg.receivePath, m_run.file.folder, TempName(m_run.file.name), &why);
    if (!m_run.receiving) {
        CreateFailed(why);
        return;
    }
    m_c.s.stage = Stage::InFile;
}

void ReceiverSide::RestartFile(const Block& b, const Capabilities& caps)
{
    TransferState& s = m_c.s;
    m_run.receiving.reset();
    const auto failed = [this, &s] {
        m_errors.ReportLocalError(ErrorNr::RestartTempFileNotOpened);
        m_c.ui.Alert(QStringLiteral("Restart file: error opening tmpfile '") + m_run.tempFile + QStringLiteral("' "),
                      MsgIcon::Critical);
    };
    // Only a real file of ours is continued, never whatever a link points at.
    m_run.receiving = m_c.disk.OpenTempIn(m_c.cfg.receivePath, m_run.file.folder, TempName(m_run.file.name), nullptr);
    const qint64 largest = caps.extended && caps.wide ? Negotiation::kLargestWideSize : Negotiation::kLargestSize;
    if (!m_run.receiving || m_run.receiving->Size() > largest) {
        m_run.receiving.reset();
        failed();
        return;
    }
    s.FileReceivingPos = m_run.receiving->Size() + 1;
    s.stage = Stage::InFile;
    if (caps.extended) {
        AcceptExtended(b, caps);
        return;
    }
    s.lastSequenceNr = b.sequenceNrA;
    m_c.tx.SendAnswer(ANSWER_RESTART_POS, 0);
    m_c.log.WriteDebugLine(QStringLiteral("sent: restartsendpos: ") + QString::number(s.FileReceivingPos));
    m_repeats.RememberAccepted(b);
    m_c.acceptance.FrameReset();
}

void ReceiverSide::Data(const Block& b)
{
    TransferState& s = m_c.s;
    m_c.log.WriteDebugLine(QStringLiteral("Received: data, nrbytes = ") + QString::number(b.length));
    if (b.length == 0) {
        EndOfFile(b);
        return;
    }
    m_c.ui.SetStatus1(QStringLiteral("receiving ") + m_run.file.name + QStringLiteral("..."));
    m_c.ui.SetStatus2(QStringLiteral("bytes: ") + QString::number(s.FileReceivingPos - 1) + QStringLiteral(" of ")
                      + QString::number(m_run.file.size));
    ShowProgress(m_c.ui, s.FileReceivingPos - 1, m_run.file.size);

    // A position past the 32-bit range cannot be described; such a file is refused.
    if (qint64(s.FileReceivingPos) + b.length > 2147483647LL || !m_run.receiving) {
        m_errors.ReportLocalError(ErrorNr::IncorrectFileSize);
        return;
    }
    DiskFile& f = *m_run.receiving;
    if (!f.WriteAt(s.FileReceivingPos - 1, b.payload.data(), b.length)) {
        // Answering OK here would end in a complete-looking file with a hole in it.
        const QString text = TempWriteFailedText(m_run.tempFile, f);
        m_errors.ReportLocalError(ErrorNr::CreateTempFileFailed);
        m_c.ui.Alert(text, MsgIcon::Critical);
        return;
    }
    s.FileReceivingPos += b.length;
    m_c.log.WriteDebugLine(QStringLiteral("FileReceivingPos (1-based) is now ") + QString::number(s.FileReceivingPos)
                           + QStringLiteral("  totalsize to receive is ") + QString::number(m_run.file.size));
    AnswerOk(b);
}

void ReceiverSide::EndOfFile(const Block& b)
{
    if (FinishFile())
        AnswerOk(b);
}

bool ReceiverSide::FinishFile()
{
    TransferState& s = m_c.s;
    bool flushed = true;
    QString why;
    if (m_run.receiving) {
        flushed = m_run.receiving->Flush();
        if (!flushed)
            why = m_run.receiving->Failure();
    }
    m_run.receiving.reset();

    if (s.FileReceivingPos != qint64(m_run.file.size) + 1) {
        const QString text = QStringLiteral("Error receiving file '") + m_run.tempFile + QStringLiteral("' ")
                             + QStringLiteral(" expecting ") + QString::number(m_run.file.size) + QStringLiteral(" bytes,")
                             + QStringLiteral(" received ") + QString::number(s.FileReceivingPos - 1);
        m_errors.ReportLocalError(ErrorNr::IncorrectFileSize);
        m_c.ui.Alert(text, MsgIcon::Critical);
        return false;
    }

    // The finished file replaces an older one in one step: there is never a
    // moment with neither of them.
    const QString target = BuildPath(m_c.cfg.receivePath, RelativeFolder::Join(m_run.file.folder, m_run.file.name));
    const AnnouncedFile& file = m_run.file;
    if (!flushed || !m_c.disk.RenameIn(m_c.cfg.receivePath, file.folder, TempName(file.name), file.name, &why)) {
        const QString text = QStringLiteral("Error renaming file '") + m_run.tempFile + QStringLiteral("' ")
                             + QStringLiteral(" to '") + target + QStringLiteral("': ") + why;
        m_errors.ReportLocalError(ErrorNr::RenameTempFileFailed);
        m_c.ui.Alert(text, MsgIcon::Critical);
        return false;
    }
    SetModifiedDate(target);
    s.stage = Stage::Listening;
    s.caps = Capabilities::Classic();  // the next header comes in the classic form
    ++s.filesReceivedCounter;
    return true;
}

void ReceiverSide::SetModifiedDate(const QString& target)
{
    TransferState& s = m_c.s;
    if (!m_c.disk.SetModifiedDate(target, m_run.file.date)) {
        ++s.countModifiedDateErr;
        return;
    }
    m_c.log.WriteDebugLine(QStringLiteral("date ") + DoubleToText(m_run.file.date) + QStringLiteral(" set to file ")
                           + target);
}

void ReceiverSide::AnswerOk(const Block& b)
{
    // k - 1 of the block taken: a header after an extended file comes with a number skipped.
    m_c.tx.SendAnswerValue(ANSWER_OK, b.sequenceNrA - 1);
    m_c.log.WriteDebugLine(QStringLiteral("sent: answer: received ok."));
    m_c.s.lastSequenceNr = b.sequenceNrA;
    m_repeats.RememberAccepted(b);
    // Ten answer repeats in a row end the run; spread over a long run on a
    // noisy line they are no sign of a lost peer.
    m_c.s.resendCount = 0;
    m_c.acceptance.FrameReset();
}

void ReceiverSide::EndOfTransfer()
{
    TransferState& s = m_c.s;
    m_c.tx.SendAnswer(ANSWER_ALL_RECEIVED, 0);
    if (s.countModifiedDateErr > 0)
        m_c.ui.Alert(QStringLiteral("Could not set some modified-dates: ") + QString::number(s.countModifiedDateErr)
                          + u'x' + Parenthesised(m_c.disk.DatesUnavailable()),
                      MsgIcon::Exclamation);
    if (AnyResendReason(s))
        m_c.ui.Alert(ResendReasonsText(s), MsgIcon::Information);
    m_c.ui.SetStatus1(QStringLiteral("listening..."));
    m_c.ui.SetStatus2(QStringLiteral("Files received: ") + QString::number(s.filesReceivedCounter));
    ShowProgress(m_c.ui, 0, 100);
    m_c.log.WriteDebugLine(QStringLiteral("Files received: ") + QString::number(s.filesReceivedCounter));
    const qint32 files = s.filesReceivedCounter;
    m_c.session.ResetRun();
    m_c.acceptance.FrameReset();
    m_c.ui.RunEnded(RunOutcome::Done(files));
}

void ReceiverSide::BytesArrive(qint64 silentMs)
{
    if (!m_c.rx.BlockIncomplete())
        m_run.lineWasQuiet = silentMs < 0 || silentMs >= ReceiverSilenceMs(m_c.cfg.speed);
}

void ReceiverSide::HandleStop()
{
    m_c.session.StopTransfer();
    m_c.session.OfferTempFileDelete();
    m_c.ui.SetStatus1(QStringLiteral("listening..."));
    m_c.ui.SetStatus2(QStringLiteral("other side pressed Stop"));
    m_c.ui.RunEnded(RunOutcome::StoppedBy(RunOutcome::Side::Other));
}
