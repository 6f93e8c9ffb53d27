#pragma once
#include <QtGlobal>
#include <deque>

// The Sender's data phase in the extended mode: which byte range goes next,
// what is in flight, and what an answer means for it. Pure: the caller reads
// the file, builds and writes the blocks, and says what it did.
class SendWindow {
public:
    struct Block {
        qint32 nr = 0;
        qint64 offset = 0;
        qint32 length = 0;      // file bytes; 0 for the file-end block
        bool fileEnd = false;
        qint64 lineBytes = 0;   // the write on the line, lead byte and stuffing included
        qint64 lineEndMs = 0;   // when its last byte leaves the line, as far as known
    };
    enum class Answer { Ignored, Taken, FileTaken };

    static constexpr qint32 kFirstBlockSize = 4096;
    static constexpr qint32 kSmallestBlock = 256;
    static constexpr int kGrowAfter = 8;
    static constexpr int kMostBlocksInFlight = 64;

    void Start(qint64 fileSize, qint64 fromOffset, qint32 largestData, qint32 bytesPerSecond);

    bool Done() const { return m_done; }
    // Room in the window and something left to send.
    bool CanSend() const;
    // The range of the next block (no number yet).
    Block Next() const;
    void Sent(qint32 nr, const Block& b, qint64 nowMs);

    Answer Ok(qint32 nr, qint64 nowMs);
    // True when the Sender went back: nr was sent after the last go-back.
    bool NotOk(qint32 nr);
    // Everything after the last byte taken is sent again, in smaller blocks.
    void GoBack();

    qint64 Taken() const { return m_taken; }
    qint64 LineBytesInFlight() const { return m_lineInFlight; }
    bool InFlight() const { return !m_inFlight.empty(); }
    qint32 BlockSize() const { return m_blockSize; }
    qint64 WindowBytes() const;
    qint64 RoundTripMs() const { return m_rttMs; }

private:
    qint64 m_size = 0;
    qint64 m_taken = 0;
    qint64 m_next = 0;
    bool m_fileEndSent = false;
    bool m_done = false;
    qint32 m_largest = kFirstBlockSize;
    qint32 m_blockSize = kFirstBlockSize;
    qint32 m_bytesPerSecond = 0;
    int m_streak = 0;
    qint64 m_rttMs = 0;
    qint64 m_lineEndMs = 0;
    qint64 m_lineInFlight = 0;
    qint32 m_highestNr = 0;
    qint32 m_rewindNr = 0;   // first number sent since the last go-back
    bool m_wentBack = false;
    std::deque<Block> m_inFlight;
};
