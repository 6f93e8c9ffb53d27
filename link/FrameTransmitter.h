#pragma once
#include "Line.h"
#include "DebugLines.h"
#include "LinkConfig.h"
#include "LinkRecord.h"

// Builds data and answer blocks from the link record, keeps the last of
// each for resending, stuffs, paces and writes them to the port.
class FrameTransmitter {
public:
    FrameTransmitter(const LinkConfig& cfg, LinkRecord& s, Line& line, DebugLines& log)
        : m_cfg(cfg), m_s(s), m_line(line), m_log(log) {}

    // payload holds n bytes (0 to 32767); takes the next sequence number.
    void SendDataBlock(quint8 type, const QByteArray& payload);
    // value is used only for ANSWER_ERROR; other codes carry their own value.
    void SendAnswer(qint32 code, qint32 value);
    // Any code with the value given (extended mode: answers carry block numbers).
    void SendAnswerValue(qint32 code, qint32 value);
    void SendString(quint8 type, const QString& text);
    // Stuffs the block and queues it as one write (nothing for an empty block).
    void SendBytes(const QByteArray& block);
    // Throws away what is queued and not yet on the line, before a Stop or an
    // error. The write on the line is cut short only where the peer finds the
    // next block behind a cut one (the extended mode), or is gone anyway; the
    // original program would take the next block as the rest of the cut one.
    void DropUnsent(bool peerGone);
    // The next write waits this much longer than the usual pause.
    void DelayNextWrite(int ms) { m_extraPause = ms; }

    // Bytes of the last write on the line, lead byte included: what the
    // silence rules measure their time from.
    qsizetype LastWriteBytes() const { return m_lastWriteBytes; }
    // True while the last write cannot have reached the other side yet.
    bool LastWriteOnTheLine() const;

    static QByteArray StringToBytes(const QString& text);
    static QString BytesToString(QByteArrayView bytes);

private:
    void DumpBlock(const QByteArray& block, const QByteArray& out);

    const LinkConfig& m_cfg;
    LinkRecord& m_s;
    Line& m_line;
    DebugLines& m_log;
    qsizetype m_lastWriteBytes = 0;
    int m_extraPause = 0;
    qint64 m_lastWriteAt = -1;  // the input time it was queued at
};
