#include "SendWindow.h"
#include "LineTimes.h"
#include <algorithm>

void SendWindow::Start(qint64 fileSize, qint64 fromOffset, qint32 largestData, qint32 bytesPerSecond)
{
    *this = SendWindow();
    m_size = fileSize;
    m_taken = m_next = std::clamp<qint64>(fromOffset, 0, fileSize);
    m_largest = std::max(kSmallestBlock, largestData);
    m_blockSize = std::min(kFirstBlockSize, m_largest);
    m_bytesPerSecond = bytesPerSecond;
}

qint64 SendWindow::WindowBytes() const
{
    const qint64 roundTrip = m_bytesPerSecond * m_rttMs * 3 / 2000;
    return m_blockSize + std::max<qint64>(m_blockSize, roundTrip);
}

bool SendWindow::CanSend() const
{
    if (m_done || (m_next >= m_size && m_fileEndSent))
        return false;
    if (m_inFlight.empty())
        return true;
    return m_lineInFlight < WindowBytes() && m_inFlight.size() < size_t(kMostBlocksInFlight);
}

SendWindow::Block SendWindow::Next() const
{
    Block b;
    b.offset = m_next;
    if (m_next < m_size)
        b.length = qint32(std::min<qint64>(m_blockSize, m_size - m_next));
    else
        b.fileEnd = true;
    return b;
}

void SendWindow::Sent(qint32 nr, const Block& sent, qint64 nowMs)
{
    Block b = sent;
    b.nr = nr;
    // Writes queue behind each other: a block leaves the line after the one before.
    m_lineEndMs = std::max(m_lineEndMs, nowMs) + LineMs(b.lineBytes, m_bytesPerSecond * 10);
    b.lineEndMs = m_lineEndMs;
    m_inFlight.push_back(b);
    m_lineInFlight += b.lineBytes;
    m_highestNr = std::max(m_highestNr, nr);
    if (m_wentBack) {
        m_rewindNr = nr;
        m_wentBack = false;
    }
    if (b.fileEnd)
        m_fileEndSent = true;
    else
        m_next = b.offset + b.length;
}

SendWindow::Answer SendWindow::Ok(qint32 nr, qint64 nowMs)
{
    const auto it = std::find_if(m_inFlight.begin(), m_inFlight.end(), [nr](const Block& b) { return b.nr == nr; });
    if (it == m_inFlight.end())
        return Answer::Ignored;
    const Block b = *it;
    const auto count = int(std::distance(m_inFlight.begin(), it)) + 1;
    for (auto i = m_inFlight.begin(); i != it + 1; ++i)
        m_lineInFlight -= i->lineBytes;
    m_inFlight.erase(m_inFlight.begin(), it + 1);
    const qint64 sample = std::max<qint64>(0, nowMs - b.lineEndMs);
    m_rttMs = m_rttMs == 0 ? sample : (7 * m_rttMs + sample) / 8;
    if (b.fileEnd) {
        m_done = true;
        m_taken = m_size;
        return Answer::FileTaken;
    }
    m_taken = std::max(m_taken, b.offset + b.length);
    m_streak += count;
    if (m_streak >= kGrowAfter) {
        m_streak = 0;
        m_blockSize = std::min(m_largest, m_blockSize * 2);
    }
    return Answer::Taken;
}

bool SendWindow::NotOk(qint32 nr)
{
    if (m_inFlight.empty() || nr < m_rewindNr || nr > m_highestNr || m_wentBack)
        return false;
    GoBack();
    return true;
}

void SendWindow::GoBack()
{
    m_inFlight.clear();
    m_lineInFlight = 0;
    m_next = m_taken;
    m_fileEndSent = false;
    m_streak = 0;
    m_blockSize = std::max(kSmallestBlock, m_blockSize / 2);
    m_wentBack = true;
}
