#include "ConsoleUi.h"
#include <cmath>
#include <cstdio>

namespace {
constexpr qint64 kRateAfterMs = 200;     // a rate from less time says nothing
}  // namespace

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

QString FormatProgressLine(const QString& name, qint64 done, qint64 total, double bytesPerSecond)
{
    const qint64 percent = total > 0 ? done * 100 / total : 100;
    double left = -1;
    if (done >= total)
        left = 0;
    else if (bytesPerSecond > 0)
        left = double(total - done) / bytesPerSecond;
    return QStringLiteral("%1  %2%  %3/%4 bytes  %5  %6 left")
        .arg(name)
        .arg(percent, 3)
        .arg(done)
        .arg(total)
        .arg(FormatRate(bytesPerSecond), FormatDuration(left));
}

ConsoleUi::ConsoleUi(Sink sink, bool terminal) : m_sink(std::move(sink)), m_terminal(terminal) {}

void ConsoleUi::Write(const QString& text)
{
    QString out = text;
    if (crlf)
        out.replace(u'\n', QLatin1String("\r\n"));
    if (m_sink) {
        m_sink(out);
        return;
    }
    std::fputs(out.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

void ConsoleUi::BreakProgressLine()
{
    if (!m_lineOnScreen)
        return;
    m_lineOnScreen = false;
    Write(QStringLiteral("\n"));
}

void ConsoleUi::Line(const QString& text)
{
    BreakProgressLine();
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    Write(out + u'\n');
}

void ConsoleUi::Note(const QString& text)
{
    Track(false);
    Line(text);
}

void ConsoleUi::SetStatus1(const QString& text)
{
    const bool changed = text != m_status1;
    m_status1 = text;
    Track(false);
    if (verbose && changed && !text.isEmpty())
        Line(text);
}

void ConsoleUi::SetStatus2(const QString& text)
{
    m_status2 = text;
    Track(false);
    // The byte counts are what the progress line shows.
    if (!text.isEmpty() && !text.startsWith(QLatin1String("bytes: ")))
        Line(text);
}

void ConsoleUi::SetProgress(float)
{
    Track(false);
}

MsgAnswer ConsoleUi::MsgBox(const QString& text, MsgIcon, MsgButtons buttons)
{
    Track(false);
    Line(text);
    switch (buttons) {
    case MsgButtons::Ok:
        return MsgAnswer::Ok;
    case MsgButtons::OkCancel:
        Line(QStringLiteral("answered Cancel"));
        return MsgAnswer::Cancel;
    case MsgButtons::YesNo:
        // The one Yes/No question of the core: deleting the temp file after a Stop.
        Line(deleteTemp ? QStringLiteral("answered Yes: --delete-temp") : QStringLiteral("answered No: --delete-temp deletes it"));
        return deleteTemp ? MsgAnswer::Yes : MsgAnswer::No;
    }
    return MsgAnswer::Ok;
}

MsgAnswer ConsoleUi::AskNoListener(const QString& text)
{
    Track(false);
    // Asked again at every retry; the question is shown the first time only.
    if (m_okAnswers == 0)
        Line(text);
    if (m_okAnswers < okRetries) {
        if (m_okAnswers == 0)
            Line(QStringLiteral("answered OK: sending again, up to %1 times (--retries)").arg(okRetries));
        ++m_okAnswers;
        return MsgAnswer::Ok;
    }
    Line(okRetries == 0 ? QStringLiteral("answered Cancel: --retries 0")
                        : QStringLiteral("answered Cancel: still no listener after %1 retries").arg(okRetries));
    return MsgAnswer::Cancel;
}

void ConsoleUi::RunEnded(const RunOutcome& outcome)
{
    if (onRunEnded)
        onRunEnded(outcome);
}

void ConsoleUi::UpdateControls(bool portOpen)
{
    Track(false);
    if (onUpdateControls)
        onUpdateControls(portOpen);
}

bool ConsoleUi::ChooseFilesToSend(const QString&, bool, const QString&, QString& dialogResult)
{
    dialogResult = filesToSend;
    return !filesToSend.isEmpty();
}

void ConsoleUi::Track(bool force)
{
    if (!showProgress || !progressSource)
        return;
    const FileProgress p = progressSource();
    if (p.completed < m_completed)
        m_completed = p.completed;  // a new run counts from 0 again
    if (p.completed > m_completed) {
        if (m_tracking && m_drawnDone == m_fileTotal)
            BreakProgressLine();  // its last line showed it complete already
        else if (m_tracking)
            Draw(m_fileName, m_fileTotal, m_fileTotal, true);
        m_tracking = false;
        m_completed = p.completed;
    }
    if (!p.moving)
        return;
    if (!m_tracking || p.name != m_fileName || p.total != m_fileTotal) {
        BreakProgressLine();  // a file that broke off keeps its last line
        m_tracking = true;
        m_fileName = p.name;
        m_fileTotal = p.total;
        m_fileStartDone = p.done;
        m_drawnDone = -1;
        m_fileClock.start();
        m_drawClock.invalidate();
    }
    if (!force && m_drawClock.isValid() && m_drawClock.elapsed() < drawIntervalMs)
        return;
    Draw(p.name, p.done, p.total, false);
}

void ConsoleUi::Draw(const QString& name, qint64 done, qint64 total, bool final)
{
    const qint64 ms = m_fileClock.isValid() ? m_fileClock.elapsed() : 0;
    const double rate = ms >= kRateAfterMs ? double(done - m_fileStartDone) * 1000.0 / double(ms) : -1;
    const QString text = FormatProgressLine(name, done, total, rate);
    m_drawClock.start();
    m_drawnDone = done;
    if (!m_terminal) {
        Write(text + u'\n');
        return;
    }
    Write(u'\r' + text + QStringLiteral("\x1b[K") + (final ? QStringLiteral("\n") : QString()));
    m_lineOnScreen = !final;
}
