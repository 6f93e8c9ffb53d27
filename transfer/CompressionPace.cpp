#include "CompressionPace.h"
#include <array>

namespace {
// Levels where zstd's speed or ratio changes markedly, and what each costs per
// file byte with a reference of 1 MiB (ns, one core of a 2020s PC; only the
// steps between them matter once blocks are measured).
constexpr std::array<int, 7> kLevels{1, 3, 6, 9, 12, 16, 19};
constexpr std::array<double, 7> kNsPerByte{8, 15, 60, 170, 250, 2200, 2600};
// Ratio assumed before the first block is measured.
constexpr double kFirstRatio = 4;
// A step up is taken only with this much room left, so the level does not swing.
constexpr double kRoomToRise = 0.7;
constexpr int kTop = int(kLevels.size()) - 1;
}  // namespace

void CompressionPace::Start(qint64 lineBytesPerSecond)
{
    m_lineBytesPerSecond = qMax<qint64>(1, lineBytesPerSecond);
    const double lineNsPerByte = 1e9 / (double(m_lineBytesPerSecond) * kFirstRatio);
    m_rung = 0;
    while (m_rung < kTop && kNsPerByte[m_rung + 1] <= kShare * lineNsPerByte)
        ++m_rung;
}

int CompressionPace::Level() const
{
    return kLevels[m_rung];
}

void CompressionPace::Compressed(qint64 rawBytes, qint64 lineBytes, qint64 nanoseconds)
{
    if (rawBytes <= 0 || lineBytes <= 0)
        return;
    const double lineNs = double(lineBytes) * 1e9 / double(m_lineBytesPerSecond);
    const double share = double(nanoseconds) / lineNs;
    const int from = m_rung;
    const auto at = [&](int rung) { return share * kNsPerByte[rung] / kNsPerByte[from]; };
    // Down at once to a level that fits, so a slow block is never followed by
    // another; up one step at a time, as references grow and cost more.
    if (share > kShare)
        while (m_rung > 0 && at(m_rung) > kShare)
            --m_rung;
    else if (m_rung < kTop && at(m_rung + 1) < kShare * kRoomToRise)
        ++m_rung;
}
