#pragma once
#include "Block.h"
#include "Line.h"
#include "DebugLines.h"
#include "LinkConfig.h"
#include "LinkRecord.h"

// Why the gatherer could not make a block of what it gathered.
enum class BadBlock {
    NotDataOrAnswer,  // byte 1 neither 'H' nor 'A'
    NegativeLength,   // a data block announcing fewer than 0 payload bytes
    Truncated,        // extended mode: the next write's lead byte came inside the block
};

// Where the frame receiver hands its blocks on to: the session rules above it.
class FrameReceiverHooks {
public:
    virtual ~FrameReceiverHooks() = default;
    // True when a data block is gathered whole; otherwise its first
    // DATA_BLOCK_HEAD bytes are taken as the block.
    virtual bool GathersWholeDataBlocks() const = 0;
    // A block is complete; its views point into the gatherer's buffer.
    virtual void BlockComplete(const Block& block) = 0;
    virtual void BlockBad(BadBlock why) = 0;
    // More bytes than the receive buffer holds; nothing more is gathered from the chunk.
    virtual void BufferOverflow() = 0;
};

// First stage of every receive event: unstuff and gather one block, parse it
// and hand it on. Knows bytes and blocks, not roles.
class FrameReceiver {
public:
    FrameReceiver(const LinkConfig& cfg, LinkRecord& r, Line& line, DebugLines& log, FrameReceiverHooks& hooks)
        : m_cfg(cfg), m_r(r), m_s(r.gather), m_line(line), m_log(log), m_hooks(hooks) {}

    void HandleReceivedBytes(const QByteArray& chunk);

    // The next byte starts a new block.
    void StartNextBlock();
    // Nothing is gathered until the lead byte of the next write.
    void SkipToNextWrite() { m_s.awaitLeadByte = true; }

    // True while part of a block has arrived and the rest is awaited.
    bool BlockIncomplete() const { return m_s.receiveBufCount > 0; }
    const GatherState& State() const { return m_s; }

private:
    enum class Gathered { Incomplete, Complete, NegativeLength, Truncated, Overflow };
    // Unstuffs from chunk[next] on until a block is complete; next moves past what was taken.
    Gathered Gather(const QByteArray& chunk, qsizetype& next);
    // Learns the block's length from its first bytes, as far as they are there.
    Gathered Measure();
    void HandleBlock(Gathered gathered);
    void DumpChunk(const QByteArray& chunk, qsizetype from, qsizetype to, qint32 countBefore);
    QByteArrayView GatheredBytes() const;
    quint8 KindByte() const { return quint8(m_s.receiveBuf[0]); }

    const LinkConfig& m_cfg;
    LinkRecord& m_r;
    GatherState& m_s;
    Line& m_line;
    DebugLines& m_log;
    FrameReceiverHooks& m_hooks;
};
