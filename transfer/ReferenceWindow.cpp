#include "ReferenceWindow.h"

std::optional<QByteArrayView> ReferenceWindow::Bytes(DiskFile& file, qint64 end, qint64 length)
{
    if (length < 1 || length > kMostBytes || length > end)
        return std::nullopt;
    const qint64 start = end - length;
    // Kept bytes are reused only where they run on into the ones asked for.
    if (start < m_start || start > m_start + m_bytes.size())
        Clear();
    if (m_bytes.isEmpty())
        m_start = start;
    m_bytes.remove(0, start - m_start);
    m_start = start;
    const qint64 have = m_start + m_bytes.size();
    if (end > have) {
        const QByteArray more = file.ReadAt(have, end - have);
        m_bytes += more;
        if (more.size() != end - have) {
            Clear();
            return std::nullopt;
        }
    }
    return QByteArrayView(m_bytes).first(length);
}

void ReferenceWindow::Clear()
{
    m_bytes.clear();
    m_start = 0;
}
