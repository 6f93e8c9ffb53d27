#pragma once
#include <QtGlobal>
#include <algorithm>
#include <deque>
#include <map>

// The Sender's data phase in the extended mode: which byte range goes next,
// what is in flight, and what an answer means for it. Every block sent has a
// number of its own, so an answer names exactly one copy: a refused or lost
// block's bytes alone go again (selective repeat). Pure: the caller reads the
// file, builds and writes the blocks, and says what it did.
class SendWindow {
public:
    struct Block {
        qint32 nr = 0;
        qint64 offset = 0;
        qint32 length = 0;      // file bytes; 0 for the file-end block
        bool fileEnd = false;
        qint64 lineBytes = 0;   // the write on the line, lead byte and stuffing included
        qint64 lineEndMs = 0;   // when its last byte leaves the line, as far as known
        // Compressed against bytes still in flight: it fails with any of them.
        bool leansOnFlight = false;
        qint32 flightFloor = 0;  // the oldest block in flight when it was sent
    };
    enum class Answer { Ignored, Taken, FileTaken };

    static constexpr qint32 kFirstBlockSize = 1024;
    static constexpr qint32 kSmallestBlock = 128;
    static constexpr int kGrowAfter = 8;
    static constexpr int kMostBlocksInFlight = 64;
    static constexpr int kTrustAfter = 16;

    void Start(qint64 fileSize, qint64 fromOffset, qint32 largestData, qint32 bytesPerSecond);
    // The Receiver said where it is: nothing in flight or queued counts any
    // more, and sending goes on from there with what was learnt of the line.
    void GoOnFrom(qint64 offset);

    bool Done() const { return m_done; }
    // Room in the window and something left to send.
    bool CanSend() const;
    // The range of the next block (no number yet): bytes to send again first,
    // then new ones, and the file end once every byte is taken.
    Block Next() const;
    void Sent(qint32 nr, const Block& b, qint64 nowMs);

    // Blocks sent before the one answered whose answers never came were lost
    // (the line does not reorder): they go again too.
    Answer Ok(qint32 nr, qint64 nowMs);
    // True when nr is a block in flight: its bytes go again. A refused file end
    // returns true with FileEndRefused() set.
    bool NotOk(qint32 nr);
    bool FileEndRefused() const { return m_fileEndRefused; }
    // The last refusal was of a block that leaned on one that failed since it
    // was sent: a consequence, not a failure of its own.
    bool RefusalFollowed() const { return m_refusalFollowed; }
    // Nothing came back: everything in flight goes again.
    void GoBack();

    // File bytes the Receiver holds: all before the first byte still pending.
    qint64 Taken() const;
    // Every byte before this one is taken or in flight, so a block from here
    // on reaches a Receiver holding them unless one of those fails.
    qint64 SentUpTo() const;
    // A failure within the last kTrustAfter blocks taken.
    bool FailedLately() const { return m_takenSinceFailure < kTrustAfter; }
    qint64 LineBytesInFlight() const { return m_lineInFlight; }
    // Line bytes a block aims at; compression lets it carry more file bytes.
    qint32 BlockSize() const { return m_blockSize; }
    // Line bytes per file byte of the blocks sent lately (below 1 when compressed).
    void SetLineShare(double share) { m_lineShare = std::clamp(share, 0.001, 1.0); }
    qint64 WindowBytes() const;
    // The block size the failures seen so far make best: a block's overhead
    // against the share of it lost with each failure (none seen: the largest).
    qint32 BestBlockSize() const;

private:
    // Takes the blocks sent before it out of flight and queues their bytes again.
    void Lost(std::deque<Block>::iterator upTo, bool failure = true);
    // Line bytes of the next block: compressed blocks carry up to m_largest file bytes.
    qint64 LineBlock() const;
    void Failure();

    qint64 m_size = 0;
    qint64 m_next = 0;                  // first byte never sent
    std::map<qint64, qint32> m_again;   // ranges to send again: offset -> length
    bool m_fileEndSent = false;
    bool m_fileEndRefused = false;
    bool m_refusalFollowed = false;
    qint32 m_lastFailedNr = 0;   // the newest block whose bytes went again
    bool m_done = false;
    qint32 m_largest = kFirstBlockSize;
    qint32 m_blockSize = kFirstBlockSize;
    qint32 m_bytesPerSecond = 0;
    int m_streak = 0;
    int m_takenSinceFailure = kTrustAfter;
    qint64 m_rttMs = 0;
    qint64 m_lineEndMs = 0;
    qint64 m_lineInFlight = 0;
    std::deque<Block> m_inFlight;
    double m_failures = 0;   // refusals and losses, fading with the line bytes sent
    double m_lineSent = 0;
    double m_lineShare = 1;
};
