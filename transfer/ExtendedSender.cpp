#include "ExtendedSender.h"
#include "Offsets.h"
#include "ErrorNumbers.h"
#include "Frame.h"
#include "FileCrc.h"

namespace {
// Refusals in a row, no block taken between, after which the Sender asks
// where the Receiver is rather than send the same bytes again.
constexpr int kAskAfterRefusals = 3;
}  // namespace

void ExtendedSender::Begin(const Capabilities& caps, qint64 fileSize, bool restart)
{
    m_c.s.caps = caps;
    m_size = fileSize;
    m_fileCrc = Crc32Start();
    m_crcUpTo = 0;
    m_lineShare = 1;
    m_c.s.resendCount = 0;
    m_run.silenceAsked = false;
    m_askedInRow = false;
    m_streamed = false;
    m_packer.Start(caps, qMax(1, m_c.cfg.speed / 10));
    m_reference.Clear();
    m_c.log.WriteDebugLine(QStringLiteral("extended mode: largest payload ") + QString::number(caps.largestPayload)
                           + (caps.compression ? QStringLiteral(", compression") : QString())
                           + (caps.reference ? QStringLiteral(" against the bytes before") : QString()));
    if (restart) {
        m_phase = Phase::Asking;
        SendVerify({});
        return;
    }
    StartStreaming(0);
}

void ExtendedSender::StartStreaming(qint64 from)
{
    m_phase = Phase::Streaming;
    // Going on after asking where the Receiver is: a bad line stays known as one.
    if (m_streamed) {
        m_window.GoOnFrom(from);
    } else {
        m_window.Start(m_size, from, m_c.s.caps.LargestData(), qMax(1, m_c.cfg.speed / 10));
        m_window.SetLineShare(m_lineShare);
        m_streamed = true;
    }
    Pump();
}

qint32 ExtendedSender::SendBlock(quint8 type, const QByteArray& payload)
{
    m_c.tx.SendDataBlock(type, payload);
    m_lastWriteLine = m_c.tx.LastWriteBytes();
    return m_c.s.sequenceNr;
}

void ExtendedSender::SendVerify(const QByteArray& payload)
{
    m_verifyNr = SendBlock(BLOCK_VERIFY, payload);
    m_c.log.WriteDebugLine(payload.isEmpty() ? QStringLiteral("sent: verify: where are you?")
                                             : QStringLiteral("sent: verify of ") + QString::number(m_provenAt)
                                                   + QStringLiteral(" bytes"));
}

bool ExtendedSender::ReadAt(qint64 offset, qint32 length, QByteArray& out)
{
    if (!m_run.sending)
        return false;
    out = m_run.sending->ReadAt(offset, length);
    return out.size() == length;
}

bool ExtendedSender::SendRange(SendWindow::Block b)
{
    QByteArray payload;
    quint8 type = BLOCK_DATA;
    if (b.fileEnd) {
        type = BLOCK_FILE_END;
        PutOffset(payload, m_c.s.caps, m_size);
        payload += Le32Bytes(m_fileCrc);
    } else {
        QByteArray data;
        if (!ReadAt(b.offset, b.length, data)) {
            const QString path = m_run.sending ? m_run.sending->Path() : QString();
            m_c.ui.Alert(QStringLiteral("Error reading file '") + path + u'\'', MsgIcon::Critical);
            m_errors.ReportLocalError(ErrorNr::OpenForReadFailed);
            return false;
        }
        // The whole-file check grows with every byte sent for the first time.
        if (b.offset + b.length > m_crcUpTo && b.offset <= m_crcUpTo) {
            m_fileCrc = Crc32Add(m_fileCrc, QByteArrayView(data).sliced(m_crcUpTo - b.offset));
            m_crcUpTo = b.offset + b.length;
        }
        const qint64 end = m_c.s.caps.reference ? ReferenceEnd(b) : 0;
        std::optional<QByteArrayView> reference;
        if (end > 0)
            reference = m_reference.Bytes(*m_run.sending, end, qMin(end, ReferenceWindow::kMostBytes));
        const int level = m_packer.Level();
        BlockPacker::Packed packed = m_packer.Pack(b.offset, data, end, reference.value_or(QByteArrayView()));
        type = packed.type;
        payload = std::move(packed.payload);
        b.leansOnFlight = b.leansOnFlight && type == BLOCK_DATA_REFERENCED;
        if (m_c.s.caps.compression) {
            // Blocks are sized by their bytes on the line: compressed ones carry more of the file.
            const qint32 head = m_c.s.caps.OffsetBytes();
            m_lineShare = (m_lineShare + double(payload.size() - head) / double(data.size())) / 2;
            m_window.SetLineShare(m_lineShare);
            m_c.log.WriteDebugLine(QStringLiteral("block of ") + QString::number(data.size())
                                   + QStringLiteral(" bytes sent as ") + QString::number(payload.size() - head)
                                   + (type == BLOCK_DATA              ? QStringLiteral(" (not compressed)")
                                      : type == BLOCK_DATA_COMPRESSED ? QStringLiteral(" (zstd ")
                                                                      : QStringLiteral(" (zstd, reference ")
                                                                            + QString::number(end) + u' ')
                                   + (type == BLOCK_DATA ? QString() : QStringLiteral("level %1)").arg(level)));
        }
    }
    const qint32 nr = SendBlock(type, payload);
    b.lineBytes = m_lastWriteLine;
    m_window.Sent(nr, b, NowMs());
    return true;
}

qint64 ExtendedSender::ReferenceEnd(SendWindow::Block& b) const
{
    // The bytes right before the block while the line is clean and they are
    // all taken or on their way: if one of them fails, so does this block.
    // After a failure only the bytes the Receiver is known to hold.
    const qint64 known = qMin(b.offset, m_window.Taken());
    b.leansOnFlight = !m_window.FailedLately() && b.offset <= m_window.SentUpTo() && b.offset > known;
    return b.leansOnFlight ? b.offset : known;
}

bool ExtendedSender::OverResendLimit()
{
    return !m_errors.OneMoreResend();
}

bool ExtendedSender::Pump()
{
    while (m_window.CanSend() && m_c.line.PortOpen())
        if (!SendRange(m_window.Next()))
            return false;
    return true;
}

ExtendedSender::Step ExtendedSender::HandleAnswer(qint32 code, qint32 value)
{
    TransferState& s = m_c.s;
    if (m_phase != Phase::Streaming) {
        if (code == ANSWER_RESTART_POS && m_phase == Phase::Locating)
            return GoOnWhereAnswered(value);
        if (code == ANSWER_RESTART_POS) {
            const qint64 held = HeldAt(value);
            // A Receiver holding more than the file, or less than nothing, holds another file.
            if (held < 0 || held > m_size) {
                m_c.log.WriteDebugLine(QStringLiteral("restart position ") + QString::number(value)
                                       + QStringLiteral(" outside 1 to ") + QString::number(m_size + 1));
                m_errors.ReportLocalError(ErrorNr::RestartWeirdPosition);
                return Step::Failed;
            }
            if (held == 0) {
                if (m_phase == Phase::Proving)
                    m_c.ui.SetStatus2(QStringLiteral("the bytes kept on the other side differ: sending the file from its first byte"));
                StartStreaming(0);
                return Step::Going;
            }
            const std::optional<quint32> crc
                = m_run.sending ? Crc32OfFirst(*m_run.sending, held) : std::nullopt;
            if (!crc) {
                m_errors.ReportLocalError(ErrorNr::OpenForReadFailed);
                return Step::Failed;
            }
            m_provenAt = held;
            m_fileCrc = *crc;
            m_crcUpTo = held;
            m_phase = Phase::Proving;
            QByteArray proof;
            PutOffset(proof, m_c.s.caps, held);
            SendVerify(proof + Le32Bytes(*crc));
            return Step::Going;
        }
        if (code == ANSWER_OK && m_phase == Phase::Proving && value == m_verifyNr) {
            m_c.log.WriteDebugLine(QStringLiteral("verify ok: going on from byte ") + QString::number(m_provenAt + 1));
            StartStreaming(m_provenAt);
            return Step::Going;
        }
        if (code == ANSWER_NOT_OK && value == m_verifyNr) {
            if (OverResendLimit())
                return Step::Failed;
            if (m_phase == Phase::Proving)
                m_phase = Phase::Asking;
            SendVerify({});
        }
        return Step::Going;
    }
    switch (code) {
    case ANSWER_OK:
        switch (m_window.Ok(value, NowMs())) {
        case SendWindow::Answer::Ignored:
            m_c.log.WriteDebugLine(QStringLiteral("stale answer ignored: ok ") + QString::number(value));
            return Step::Going;
        case SendWindow::Answer::FileTaken:
            s.resendCount = 0;
            return Step::FileDone;
        case SendWindow::Answer::Taken:
            s.resendCount = 0;
            m_askedInRow = false;
            m_run.silenceAsked = false;
            ShowProgress();
            return Pump() ? Step::Going : Step::Failed;
        }
        return Step::Going;
    case ANSWER_NOT_OK:
        if (!m_window.NotOk(value)) {
            m_c.log.WriteDebugLine(QStringLiteral("stale answer ignored: not ok ") + QString::number(value));
            return Step::Going;
        }
        if (m_window.RefusalFollowed()) {
            m_c.log.WriteDebugLine(QStringLiteral("not ok ") + QString::number(value)
                                   + QStringLiteral(": it leaned on bytes that failed; sending again"));
            return Pump() ? Step::Going : Step::Failed;
        }
        if (OverResendLimit())
            return Step::Failed;
        // The Receiver may lack bytes this side counted as taken: answers carry
        // no check, so a refusal damaged into an acceptance (91 and 90 differ
        // in one bit) leaves a gap that nothing sent from here would fill. It
        // then refuses every block compressed against those bytes, once its
        // room beyond the gap is full every other block, and the file end.
        if (m_window.FileEndRefused() || (!m_askedInRow && s.resendCount >= kAskAfterRefusals)) {
            m_askedInRow = true;
            const QString why = m_window.FileEndRefused() ? QStringLiteral("file end refused")
                                                           : QStringLiteral("not ok %1, refusals in a row").arg(value);
            m_c.log.WriteDebugLine(why + QStringLiteral(": asking where the other side is"));
            m_phase = Phase::Locating;
            SendVerify({});
            return Step::Going;
        }
        m_c.log.WriteDebugLine(QStringLiteral("not ok ") + QString::number(value) + QStringLiteral(": sending again; ")
                               + QString::number(m_window.Taken()) + QStringLiteral(" bytes taken, blocks of ")
                               + QString::number(m_window.BlockSize()));
        return Pump() ? Step::Going : Step::Failed;
    case ANSWER_RESEND_BLOCK:
        // A Receiver resumed after a port failure: it says where it is.
        m_phase = Phase::Asking;
        SendVerify({});
        return Step::Going;
    default:
        return Step::Going;
    }
}

qint64 ExtendedSender::HeldAt(qint32 restartPos) const
{
    return (qint64(restartPos) - 1) * (m_c.s.caps.wide ? kWideRestartUnit : 1);
}

ExtendedSender::Step ExtendedSender::GoOnWhereAnswered(qint32 value)
{
    // The Receiver's bytes came from this run's checked blocks, and the
    // whole-file check is still to come: they need no proof, which would cost
    // them all were the answer damaged. A position it cannot hold is a damaged
    // answer: asked again.
    const qint64 held = HeldAt(value);
    if (held < 0 || held > m_crcUpTo) {
        m_c.log.WriteDebugLine(QStringLiteral("restart position ") + QString::number(value)
                               + QStringLiteral(" outside 1 to ") + QString::number(m_crcUpTo + 1)
                               + QStringLiteral(": asking again"));
        if (OverResendLimit())
            return Step::Failed;
        SendVerify({});
        return Step::Going;
    }
    m_c.log.WriteDebugLine(QStringLiteral("the other side holds ") + QString::number(held)
                           + QStringLiteral(" bytes: going on from there"));
    StartStreaming(held);
    return Step::Going;
}

void ExtendedSender::SendAgainAfterSilence()
{
    if (m_phase != Phase::Streaming) {
        // A verify is answered the same however often it comes.
        m_c.tx.SendBytes(m_c.s.lastBlock);
        m_c.log.WriteDebugLine(QStringLiteral("no answer: Resent: verify."));
        return;
    }
    m_c.log.WriteDebugLine(QStringLiteral("no answer: sending again what is in flight"));
    m_window.GoBack();
    Pump();
}

void ExtendedSender::GoOnAfterPortFailure()
{
    // A verify in progress, or a file end that may have been taken already
    // (a Receiver answers one it took as taken), goes again as after a silence.
    if (m_phase != Phase::Streaming || m_window.Taken() >= m_size) {
        SendAgainAfterSilence();
        return;
    }
    m_c.log.WriteDebugLine(QStringLiteral("port back: asking where the other side is"));
    m_phase = Phase::Asking;
    SendVerify({});
}

qint64 ExtendedSender::LineBytesAwaited() const
{
    return m_phase == Phase::Streaming ? qMax(m_window.LineBytesInFlight(), m_lastWriteLine) : m_lastWriteLine;
}

void ExtendedSender::ShowProgress()
{
    const qint64 done = m_window.Taken();
    m_c.ui.SetStatus2(QStringLiteral("bytes: ") + QString::number(done) + QStringLiteral(" of ")
                      + QString::number(m_size));
    ::ShowProgress(m_c.ui, done, m_size);
}
