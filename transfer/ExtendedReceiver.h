#pragma once
#include "BlockCompression.h"
#include "Capabilities.h"
#include "ErrorReport.h"
#include "ReceiverRun.h"
#include "ReferenceWindow.h"
#include "TransferContext.h"
#include <map>

// The Receiver's data phase of a file in the extended mode: places each good
// block by its offset, answers by block number, proves kept bytes and checks
// the whole file before it may be renamed.
class ExtendedReceiver {
public:
    ExtendedReceiver(TransferContext& c, ErrorReport& errors, ReceiverRun& run)
        : m_c(c), m_errors(errors), m_run(run) {}

    // The offer was accepted; the temp file is open with held bytes in it.
    // False when those bytes cannot be read back. A resumption leaves it to
    // the first block, from the position it restored.
    // headerNr: the number of the header (or, resumed, of the last block answered).
    bool Begin(const Capabilities& caps, qint64 held, qint32 headerNr);

    enum class Step { Going, FileComplete, Failed };
    // A block whose check matched and whose two numbers agree.
    Step Take(qint32 type, qint32 nr, const quint8* payload, qint32 n);
    // A block that failed; nr is its number when both copies agreed, else 0.
    // The caller starts the next block.
    void Refuse(qint32 nr);
    // Answers a block by its own number.
    void AnswerOk(qint32 nr);

private:
    // A number the Sender can have used for this file: above the header's and
    // within what it can have sent since the highest one seen.
    bool Plausible(qint32 nr) const;
    Step Data(qint32 nr, qint64 offset, const char* bytes, qint32 n);
    // Writes what of the block lies beyond the held bytes; false on a write error (said so).
    bool WriteFrom(qint64 offset, const char* bytes, qint32 n);
    // Holds a block that came after a lost one; false when the bound is reached.
    bool KeepAhead(qint64 offset, const char* bytes, qint32 n);
    Step FileEnd(qint32 nr, const quint8* payload, qint32 n);
    void Verify(qint32 nr, const quint8* payload, qint32 n);
    void Answer(qint32 code, qint32 value);
    // ANSWER_RESTART_POS for the bytes held: held + 1, or with wide positions held's units + 1.
    qint32 RestartValue() const;
    void RefuseAndGoOn(qint32 nr);
    // A compressed block's bytes into m_inflated; false when they are not what it announces.
    bool Inflate(const quint8* p, qint32 n);
    // The same for a block compressed against the file bytes before offset;
    // false too while those bytes are not all held.
    bool InflateReferenced(qint64 offset, const quint8* p, qint32 n);

    TransferContext& m_c;
    ErrorReport& m_errors;
    ReceiverRun& m_run;
    qint64 m_held = 0;
    qint32 m_lastGoodNr = 0;   // number of the last block that passed its check
    qint32 m_headerNr = 0;
    qint32 m_highestNr = 0;    // highest plausible number taken
    QByteArray m_inflated;
    // Good blocks beyond a gap, by offset, until the bytes before them arrive.
    std::map<qint64, QByteArray> m_ahead;
    qint64 m_aheadBytes = 0;
    BlockCompressor m_zstd;
    ReferenceWindow m_reference;
};
