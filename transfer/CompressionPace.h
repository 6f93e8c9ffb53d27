#pragma once
#include <QtGlobal>

// The zstd level of the Sender's next block: the highest the CPU affords while
// the line carries the blocks before it. A slow line gets the highest level, a
// fast one a level it never waits for. Measured block by block, so a slower
// machine or costlier data moves it down and spare time moves it up. Pure: the
// caller times the compression.
class CompressionPace {
public:
    // The share of a block's line time its compression may take: the rest of
    // the half core a side may use goes to the rest of the work.
    static constexpr double kShare = 0.4;

    // lineBytesPerSecond: what the line carries (baud / 10).
    void Start(qint64 lineBytesPerSecond);
    int Level() const;
    // One block compressed at Level(): its file bytes, its bytes on the line
    // and the time the compression took.
    void Compressed(qint64 rawBytes, qint64 lineBytes, qint64 nanoseconds);

private:
    int m_rung = 0;
    qint64 m_lineBytesPerSecond = 1;
};
