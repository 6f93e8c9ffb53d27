#include "ExtendedReceiver.h"
#include "ErrorNumbers.h"
#include "Frame.h"
#include "FileCrc.h"
#include "Negotiation.h"
#include "Offsets.h"
#include <algorithm>

bool ExtendedReceiver::Begin(const Capabilities& caps, qint64 held, qint32 headerNr)
{
    m_c.s.caps = caps;
    m_run.extendedReady = true;
    m_held = held;
    m_ahead.clear();
    m_aheadBytes = 0;
    m_reference.Clear();
    m_lastGoodNr = headerNr;
    m_headerNr = headerNr;
    m_highestNr = headerNr;
    m_c.log.WriteDebugLine(QStringLiteral("extended mode: largest payload ") + QString::number(caps.largestPayload)
                           + (caps.compression ? QStringLiteral(", compression") : QString()));
    // The kept bytes must be there to be proved or extended.
    return held == 0 || (m_run.receiving && m_run.receiving->Size() >= held);
}

qint32 ExtendedReceiver::RestartValue() const
{
    return qint32(m_c.s.caps.wide ? m_held / kWideRestartUnit + 1 : m_held + 1);
}

void ExtendedReceiver::Answer(qint32 code, qint32 value)
{
    m_c.tx.SendAnswerValue(code, value);
    m_c.acceptance.FrameReset();
}

void ExtendedReceiver::AnswerOk(qint32 nr)
{
    TransferState& s = m_c.s;
    s.lastSequenceNr = qMax(s.lastSequenceNr, nr);
    s.resendCount = 0;
    Answer(ANSWER_OK, nr);
    m_c.log.WriteDebugLine(QStringLiteral("sent: answer: received ok: ") + QString::number(nr));
}

bool ExtendedReceiver::Plausible(qint32 nr) const
{
    return nr > m_headerNr && qint64(nr) <= qint64(m_highestNr) + Negotiation::kMostNumbersAhead;
}

void ExtendedReceiver::Refuse(qint32 nr)
{
    const qint32 value = Plausible(nr) ? nr : m_lastGoodNr + 1;
    m_c.tx.SendAnswerValue(ANSWER_NOT_OK, value);
    m_c.log.WriteDebugLine(QStringLiteral("sent: answer: received NOT ok: ") + QString::number(value));
}

void ExtendedReceiver::RefuseAndGoOn(qint32 nr)
{
    Refuse(nr);
    m_c.acceptance.FrameReset();
}

ExtendedReceiver::Step ExtendedReceiver::Take(qint32 type, qint32 nr, const quint8* payload, qint32 n)
{
    if (!m_run.extendedReady && !Begin(m_c.s.caps, m_c.s.FileReceivingPos - 1, m_c.s.lastSequenceNr)) {
        m_errors.ReportLocalError(ErrorNr::RestartTempFileNotOpened);
        return Step::Failed;
    }
    // Two copies damaged alike pass the payload's CRC: such a number is never taken.
    if (!Plausible(nr)) {
        ++m_c.s.countIncorrectSeqnr;
        m_c.log.WriteDebugLine(QStringLiteral("block number ") + QString::number(nr)
                               + QStringLiteral(" cannot be one of this file's: refused"));
        RefuseAndGoOn(0);
        return Step::Going;
    }
    m_lastGoodNr = nr;
    m_highestNr = qMax(m_highestNr, nr);
    if (type == BLOCK_VERIFY) {
        Verify(nr, payload, n);
        return Step::Going;
    }
    const qint32 head = m_c.s.caps.OffsetBytes();
    if (n < head) {
        RefuseAndGoOn(nr);
        return Step::Going;
    }
    const qint64 offset = GetOffset(payload, m_c.s.caps);
    if (type == BLOCK_FILE_END)
        return FileEnd(nr, payload, n);
    const char* bytes = reinterpret_cast<const char*>(payload + head);
    qint32 count = n - head;
    if (type == BLOCK_DATA_COMPRESSED) {
        if (!m_c.s.caps.compression || !Inflate(payload + head, n - head)) {
            m_c.log.WriteDebugLine(QStringLiteral("compressed block does not decompress: refused"));
            RefuseAndGoOn(nr);
            return Step::Going;
        }
        bytes = m_inflated.constData();
        count = qint32(m_inflated.size());
    } else if (type == BLOCK_DATA_REFERENCED) {
        if (!m_c.s.caps.reference || !InflateReferenced(offset, payload + head, n - head)) {
            RefuseAndGoOn(nr);
            return Step::Going;
        }
        bytes = m_inflated.constData();
        count = qint32(m_inflated.size());
    } else if (type != BLOCK_DATA) {
        ++m_c.s.countIncorrectBlockType;
        RefuseAndGoOn(nr);
        return Step::Going;
    }
    return Data(nr, offset, bytes, count);
}

bool ExtendedReceiver::Inflate(const quint8* p, qint32 n)
{
    if (n < 3)
        return false;
    const qint32 raw = quint16(GetLE16(p));
    return raw > 0 && m_zstd.Decompress(p + 2, n - 2, raw, m_c.s.caps.LargestData(), m_inflated);
}

bool ExtendedReceiver::InflateReferenced(qint64 offset, const quint8* p, qint32 n)
{
    // Raw length (2), reference end (a position) and length (4), then the frame.
    const qint32 head = 6 + m_c.s.caps.OffsetBytes();
    if (n < head + 1)
        return false;
    const qint32 raw = quint16(GetLE16(p));
    const qint64 end = GetOffset(p + 2, m_c.s.caps);
    const qint64 length = quint32(GetLE32(p + head - 4));
    if (end > m_held) {
        // A block it leans on was lost: it comes again, and so does this one.
        m_c.log.WriteDebugLine(QStringLiteral("block compressed against bytes up to ") + QString::number(end)
                               + QStringLiteral(", ") + QString::number(m_held) + QStringLiteral(" held: refused"));
        return false;
    }
    const std::optional<QByteArrayView> reference
        = end <= offset && m_run.receiving ? m_reference.Bytes(*m_run.receiving, end, length) : std::nullopt;
    if (raw > 0 && reference
        && m_zstd.Decompress(p + head, n - head, raw, m_c.s.caps.LargestData(), *reference, m_inflated))
        return true;
    m_c.log.WriteDebugLine(QStringLiteral("block compressed against a reference does not decompress: refused"));
    return false;
}

namespace {
// Blocks kept beyond a gap: bounded whatever the Sender does.
constexpr qint64 kMostBytesAhead = 512 * 1024;
constexpr size_t kMostBlocksAhead = 256;
}  // namespace

bool ExtendedReceiver::KeepAhead(qint64 offset, const char* bytes, qint32 n)
{
    const auto it = m_ahead.find(offset);
    if (it != m_ahead.end() && it->second.size() >= n)
        return true;
    if (m_aheadBytes + n > kMostBytesAhead || m_ahead.size() >= kMostBlocksAhead)
        return false;
    if (it != m_ahead.end()) {
        m_aheadBytes -= it->second.size();
        m_ahead.erase(it);
    }
    m_ahead.emplace(offset, QByteArray(bytes, n));
    m_aheadBytes += n;
    return true;
}

namespace {
bool AllZero(const char* bytes, qint64 n)
{
    return std::all_of(bytes, bytes + n, [](char c) { return c == 0; });
}
}  // namespace

bool ExtendedReceiver::WriteFrom(qint64 offset, const char* bytes, qint32 n)
{
    TransferState& s = m_c.s;
    const qint64 skip = m_held - offset;
    if (skip >= n)
        return true;
    const qint64 fresh = n - skip;
    if (!m_run.receiving) {
        m_errors.ReportLocalError(ErrorNr::CreateTempFileFailed);
        return false;
    }
    DiskFile& f = *m_run.receiving;
    // Zeros at the end of the file stay a hole: a sparse image arrives sparse.
    const bool hole = f.Size() == m_held && AllZero(bytes + skip, fresh);
    if (!(hole ? f.Resize(m_held + fresh) : f.WriteAt(m_held, bytes + skip, fresh))) {
        const QString text = TempWriteFailedText(m_run.tempFile, f);
        m_errors.ReportLocalError(ErrorNr::CreateTempFileFailed);
        m_c.ui.Alert(text, MsgIcon::Critical);
        return false;
    }
    m_held += fresh;
    s.FileReceivingPos = m_held + 1;
    return true;
}

ExtendedReceiver::Step ExtendedReceiver::Data(qint32 nr, qint64 offset, const char* bytes, qint32 n)
{
    TransferState& s = m_c.s;
    if (offset + n > m_run.file.size || n <= 0) {
        ++s.countIncorrectSizDateFname;
        RefuseAndGoOn(nr);
        return Step::Going;
    }
    // A block before it was lost: it waits for those bytes.
    if (offset > m_held) {
        if (KeepAhead(offset, bytes, n)) {
            AnswerOk(nr);
            return Step::Going;
        }
        m_c.log.WriteDebugLine(QStringLiteral("no room beyond the gap at ") + QString::number(m_held)
                               + QStringLiteral(" (") + QString::number(m_ahead.size()) + QStringLiteral(" blocks, ")
                               + QString::number(m_aheadBytes) + QStringLiteral(" bytes kept): refused"));
        RefuseAndGoOn(nr);
        return Step::Going;
    }
    const qint64 before = m_held;
    if (!WriteFrom(offset, bytes, n))
        return Step::Failed;
    while (!m_ahead.empty() && m_ahead.begin()->first <= m_held) {
        const QByteArray kept = m_ahead.begin()->second;
        const qint64 at = m_ahead.begin()->first;
        m_aheadBytes -= kept.size();
        m_ahead.erase(m_ahead.begin());
        if (!WriteFrom(at, kept.constData(), qint32(kept.size())))
            return Step::Failed;
    }
    if (m_held > before) {
        m_c.ui.SetStatus1(QStringLiteral("receiving ") + m_run.file.name + QStringLiteral("..."));
        m_c.ui.SetStatus2(QStringLiteral("bytes: ") + QString::number(m_held) + QStringLiteral(" of ")
                          + QString::number(m_run.file.size));
        ShowProgress(m_c.ui, m_held, m_run.file.size);
    }
    AnswerOk(nr);
    return Step::Going;
}

ExtendedReceiver::Step ExtendedReceiver::FileEnd(qint32 nr, const quint8* payload, qint32 n)
{
    TransferState& s = m_c.s;
    const qint64 size = GetOffset(payload, s.caps);
    if (n != s.caps.OffsetBytes() + 4 || size != m_run.file.size) {
        ++s.countIncorrectSizDateFname;
        RefuseAndGoOn(nr);
        return Step::Going;
    }
    if (m_held < size) {
        RefuseAndGoOn(nr);
        return Step::Going;
    }
    // The file as it lies on the disk is what gets renamed: that is what is checked.
    const std::optional<quint32> onDisk
        = m_run.receiving ? Crc32OfFirst(*m_run.receiving, size) : std::nullopt;
    if (!onDisk || quint32(GetLE32(payload + s.caps.OffsetBytes())) != *onDisk) {
        m_c.log.WriteDebugLine(QStringLiteral("whole-file check failed: temp file kept"));
        m_errors.ReportLocalError(ErrorNr::FileCheckFailed);
        m_c.ui.Alert(QStringLiteral("File check failed: '") + m_run.tempFile
                          + QStringLiteral("' differs from the file sent; it is kept and nothing was renamed"),
                      MsgIcon::Critical);
        return Step::Failed;
    }
    return Step::FileComplete;
}

void ExtendedReceiver::Verify(qint32 nr, const quint8* payload, qint32 n)
{
    TransferState& s = m_c.s;
    const auto kept = [this] {
        return m_run.receiving ? Crc32OfFirst(*m_run.receiving, m_held) : std::nullopt;
    };
    const qint32 head = s.caps.OffsetBytes();
    if (n == head + 4 && GetOffset(payload, s.caps) == m_held && kept() == quint32(GetLE32(payload + head))) {
        m_c.log.WriteDebugLine(QStringLiteral("verify ok: ") + QString::number(m_held) + QStringLiteral(" bytes kept"));
            AnswerOk(nr);
        return;
    }
    if (n == 0 && s.caps.wide && m_held % kWideRestartUnit != 0) {
        // The answer names whole units: the bytes past the last whole one come again.
        m_held -= m_held % kWideRestartUnit;
        if (!m_run.receiving || !m_run.receiving->Resize(m_held)) {
            m_errors.ReportLocalError(ErrorNr::CreateTempFileFailed);
            return;
        }
        m_reference.Clear();
    }
    if (n != 0 && m_held > 0) {
        // The kept bytes are not the Sender's: the file starts again.
        if (!m_run.receiving || !m_run.receiving->Resize(0)) {
            m_errors.ReportLocalError(ErrorNr::CreateTempFileFailed);
            return;
        }
        m_held = 0;
        m_ahead.clear();
        m_aheadBytes = 0;
        m_reference.Clear();
        m_c.ui.SetStatus2(QStringLiteral("the bytes kept of '") + m_run.file.name
                          + QStringLiteral("' differ from the sender's file: receiving it from its first byte"));
        m_c.log.WriteDebugLine(QStringLiteral("verify failed: temp file emptied"));
    }
    s.FileReceivingPos = m_held + 1;
    s.lastSequenceNr = qMax(s.lastSequenceNr, nr);
    Answer(ANSWER_RESTART_POS, RestartValue());
    m_c.log.WriteDebugLine(QStringLiteral("sent: restartsendpos: ") + QString::number(s.FileReceivingPos));
}
