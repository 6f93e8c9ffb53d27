#include "SendWindow.h"
#include "LineTimes.h"
#include <algorithm>
#include <cmath>

void SendWindow::Start(qint64 fileSize, qint64 fromOffset, qint32 largestData, qint32 bytesPerSecond)
{
    *this = SendWindow();
    m_size = fileSize;
    m_next = std::clamp<qint64>(fromOffset, 0, fileSize);
    m_largest = std::max(kSmallestBlock, largestData);
    m_blockSize = std::min(kFirstBlockSize, m_largest);
    m_bytesPerSecond = bytesPerSecond;
}

void SendWindow::GoOnFrom(qint64 offset)
{
    m_inFlight.clear();
    m_again.clear();
    m_lineInFlight = 0;
    m_fileEndSent = m_fileEndRefused = m_refusalFollowed = m_done = false;
    m_next = std::clamp<qint64>(offset, 0, m_size);
}

qint32 SendWindow::BestBlockSize() const
{
    if (m_failures < 0.5)
        return m_largest;
    // Efficiency (1 - overhead/b) * (1 - failures per byte * b): each failure
    // costs the failed block. A clean stretch of 64 kB is assumed before the
    // first failure, so that one early failure does not count as a bad line.
    constexpr double kOverhead = 17;
    const double perByte = m_failures / (m_lineSent + 65536);
    const double best = std::sqrt(kOverhead / perByte);
    return qint32(std::clamp<double>(best, kSmallestBlock, m_largest));
}

qint64 SendWindow::LineBlock() const
{
    // Never below the first block size, so that blocks of a few bytes (zeros)
    // still stream rather than wait for each answer.
    const qint64 compressed = std::max<qint64>(qint64(m_largest * m_lineShare), kFirstBlockSize);
    return std::min<qint64>(m_blockSize, compressed);
}

qint64 SendWindow::WindowBytes() const
{
    // One block on the line, two behind it (the next is compressed meanwhile
    // and the process may be held up), and the answers' way back.
    const qint64 roundTrip = m_bytesPerSecond * m_rttMs * 3 / 2000;
    return LineBlock() + std::max<qint64>(2 * LineBlock(), roundTrip);
}

qint64 SendWindow::Taken() const
{
    if (m_done)
        return m_size;
    qint64 first = m_next;
    if (!m_again.empty())
        first = std::min(first, m_again.begin()->first);
    for (const Block& b : m_inFlight)
        if (!b.fileEnd)
            first = std::min(first, b.offset);
    return first;
}

qint64 SendWindow::SentUpTo() const
{
    return m_again.empty() ? m_next : std::min(m_next, m_again.begin()->first);
}

bool SendWindow::CanSend() const
{
    if (m_done)
        return false;
    const bool data = !m_again.empty() || m_next < m_size;
    // The file end goes alone, once every byte is taken.
    if (!data && (m_fileEndSent || !m_inFlight.empty()))
        return false;
    if (m_inFlight.empty())
        return true;
    return m_lineInFlight < WindowBytes() && m_inFlight.size() < size_t(kMostBlocksInFlight);
}

SendWindow::Block SendWindow::Next() const
{
    Block b;
    const auto fileBytes = qint32(std::clamp<double>(m_blockSize / m_lineShare, kSmallestBlock, m_largest));
    if (!m_again.empty()) {
        b.offset = m_again.begin()->first;
        b.length = std::min(m_again.begin()->second, fileBytes);
    } else if (m_next < m_size) {
        b.offset = m_next;
        b.length = qint32(std::min<qint64>(fileBytes, m_size - m_next));
    } else {
        b.offset = m_size;
        b.fileEnd = true;
    }
    return b;
}

void SendWindow::Sent(qint32 nr, const Block& sent, qint64 nowMs)
{
    Block b = sent;
    b.nr = nr;
    b.flightFloor = m_inFlight.empty() ? nr : m_inFlight.front().nr;
    // Writes queue behind each other: a block leaves the line after the one before.
    m_lineEndMs = std::max(m_lineEndMs, nowMs) + LineMs(b.lineBytes, m_bytesPerSecond * 10);
    b.lineEndMs = m_lineEndMs;
    m_inFlight.push_back(b);
    m_lineInFlight += b.lineBytes;
    // Old failures fade, so a line that got better is used better.
    m_lineSent += double(b.lineBytes);
    if (m_lineSent > 1024.0 * 1024) {
        m_lineSent /= 2;
        m_failures /= 2;
    }
    if (b.fileEnd) {
        m_fileEndSent = true;
        m_fileEndRefused = false;
        return;
    }
    const auto again = m_again.find(b.offset);
    if (again != m_again.end()) {
        const qint32 rest = again->second - b.length;
        m_again.erase(again);
        if (rest > 0)
            m_again.emplace(b.offset + b.length, rest);
    } else {
        m_next = std::max(m_next, b.offset + b.length);
    }
}

void SendWindow::Lost(std::deque<Block>::iterator upTo, bool failure)
{
    for (auto i = m_inFlight.begin(); i != upTo; ++i) {
        m_lastFailedNr = std::max(m_lastFailedNr, i->nr);
        m_lineInFlight -= i->lineBytes;
        if (i->fileEnd)
            m_fileEndSent = false;
        else
            m_again.emplace(i->offset, i->length);
    }
    if (upTo != m_inFlight.begin() && failure)
        Failure();
    m_inFlight.erase(m_inFlight.begin(), upTo);
}

void SendWindow::Failure()
{
    m_failures += 1;
    m_streak = 0;
    m_takenSinceFailure = 0;
    m_blockSize = std::max(kSmallestBlock, std::min(m_blockSize, BestBlockSize()));
}

SendWindow::Answer SendWindow::Ok(qint32 nr, qint64 nowMs)
{
    auto it = std::find_if(m_inFlight.begin(), m_inFlight.end(), [nr](const Block& b) { return b.nr == nr; });
    if (it == m_inFlight.end())
        return Answer::Ignored;
    const Block b = *it;
    Lost(it);
    m_inFlight.pop_front();  // the block answered
    m_lineInFlight -= b.lineBytes;
    const qint64 sample = std::max<qint64>(0, nowMs - b.lineEndMs);
    m_rttMs = m_rttMs == 0 ? sample : (7 * m_rttMs + sample) / 8;
    if (b.fileEnd) {
        m_done = true;
        return Answer::FileTaken;
    }
    ++m_takenSinceFailure;
    if (++m_streak >= kGrowAfter) {
        m_streak = 0;
        m_blockSize = std::min({m_largest, m_blockSize * 2, BestBlockSize()});
    }
    return Answer::Taken;
}

bool SendWindow::NotOk(qint32 nr)
{
    auto it = std::find_if(m_inFlight.begin(), m_inFlight.end(), [nr](const Block& b) { return b.nr == nr; });
    if (it == m_inFlight.end())
        return false;
    const bool fileEnd = it->fileEnd;
    m_refusalFollowed = it->leansOnFlight && m_lastFailedNr >= it->flightFloor;
    Lost(it + 1, !m_refusalFollowed);
    m_fileEndRefused = fileEnd;
    return true;
}

void SendWindow::GoBack()
{
    Lost(m_inFlight.end());
}
