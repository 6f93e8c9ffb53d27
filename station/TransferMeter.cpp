#include "TransferMeter.h"
#include <cmath>

namespace {
constexpr qint64 kRateAfterMs = 200;  // a rate from less time says nothing
}  // namespace

void RateMeter::Start(qint64 done)
{
    m_startDone = done;
    m_clock.start();
}

double RateMeter::BytesPerSecond(qint64 done) const
{
    const qint64 ms = m_clock.isValid() ? m_clock.elapsed() : 0;
    return ms >= kRateAfterMs ? double(done - m_startDone) * 1000.0 / double(ms) : -1;
}

double SecondsLeft(qint64 done, qint64 total, double bytesPerSecond)
{
    if (done >= total)
        return 0;
    return bytesPerSecond > 0 ? double(total - done) / bytesPerSecond : -1;
}

QString FormatRate(double bytesPerSecond)
{
    if (!(bytesPerSecond >= 0) || !std::isfinite(bytesPerSecond))
        return QStringLiteral("-- B/s");
    if (bytesPerSecond < 1000)
        return QString::number(qint64(bytesPerSecond)) + QStringLiteral(" B/s");
    if (bytesPerSecond < 1000000)
        return QString::number(bytesPerSecond / 1000, 'f', 1) + QStringLiteral(" kB/s");
    return QString::number(bytesPerSecond / 1000000, 'f', 1) + QStringLiteral(" MB/s");
}

QString FormatDuration(double seconds)
{
    if (!(seconds >= 0) || !std::isfinite(seconds) || seconds > 359999)
        return QStringLiteral("-:--");
    const qint64 s = qint64(std::ceil(seconds));
    const qint64 h = s / 3600, m = s % 3600 / 60, rest = s % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(rest, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(rest, 2, 10, QLatin1Char('0'));
}

QString MovingText(const FileProgress& p, double bytesPerSecond)
{
    const qint32 index = p.Index();
    const QString which = p.count > 0 ? QStringLiteral("File %1 of %2").arg(index).arg(p.count)
                                      : QStringLiteral("File %1").arg(index);
    return QStringLiteral("%1: %2  %3  %4 left")
               .arg(which, p.name, FormatRate(bytesPerSecond), FormatDuration(SecondsLeft(p.done, p.total, bytesPerSecond)))
           + RunText(p, bytesPerSecond);
}

QString RunText(const FileProgress& p, double bytesPerSecond)
{
    if (p.runTotal <= 0)
        return {};
    return QStringLiteral("; run %1 of %2 bytes, %3 left")
        .arg(p.runDone)
        .arg(p.runTotal)
        .arg(FormatDuration(SecondsLeft(p.runDone, p.runTotal, bytesPerSecond)));
}
