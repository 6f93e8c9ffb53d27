#include "ConsoleUi.h"
#include <cstdio>

QString FormatProgressLine(const QString& name, qint64 done, qint64 total, double bytesPerSecond)
{
    const qint64 percent = total > 0 ? done * 100 / total : 100;
    const double left = SecondsLeft(done, total, bytesPerSecond);
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

namespace {
// The temp file the delete question names: "Delete tempfile '<path>' ?...".
QString QuotedPath(const QString& text)
{
    const qsizetype from = text.indexOf(u'\'');
    const qsizetype to = text.indexOf(QLatin1String("' ?"), from + 1);
    return from >= 0 && to > from ? text.mid(from + 1, to - from - 1) : text;
}
}  // namespace

void ConsoleUi::Alert(const QString& text, MsgIcon icon)
{
    Track(false);
    // The resend report is a table for whoever studies the line: -v only.
    if (verbose || icon != MsgIcon::Information || !text.startsWith(QLatin1String("Resend-reasons:")))
        Line(text);
}

void ConsoleUi::Ask(Question question, const QString& text, std::function<void(bool yes)> reply)
{
    Track(false);
    switch (question) {
    case Question::DeleteTempFile:
        Line(deleteTemp ? QStringLiteral("velotrax-cli: deleting the temp file '%1' (--delete-temp)").arg(QuotedPath(text))
                        : QStringLiteral("velotrax-cli: the temp file '%1' is kept for send --restart "
                                         "(--delete-temp deletes it)")
                              .arg(QuotedPath(text)));
        reply(deleteTemp);
        return;
    case Question::NoListener:
        reply(SendAgain());
        return;
    }
}

bool ConsoleUi::SendAgain()
{
    if (m_okAnswers < okRetries) {
        ++m_okAnswers;
        Line(m_okAnswers == 1 ? QStringLiteral("velotrax-cli: no receiver answers; sending again, up to %1 times (--retries)")
                                    .arg(okRetries)
                              : QStringLiteral("velotrax-cli: still no receiver; sending again (%1 of %2)")
                                    .arg(m_okAnswers)
                                    .arg(okRetries));
        return true;
    }
    Line(okRetries == 0 ? QStringLiteral("velotrax-cli: no receiver answers; giving up (--retries 0)")
                        : QStringLiteral("velotrax-cli: still no receiver after %1 tries; giving up").arg(okRetries));
    return false;
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
    m_run = p;
    if (!m_tracking || p.name != m_fileName || p.total != m_fileTotal) {
        BreakProgressLine();  // a file that broke off keeps its last line
        m_tracking = true;
        m_fileName = p.name;
        m_fileTotal = p.total;
        m_drawnDone = -1;
        m_rate.Start(p.done);
        m_drawClock.invalidate();
    }
    if (!force && m_drawClock.isValid() && m_drawClock.elapsed() < drawIntervalMs)
        return;
    Draw(p.name, p.done, p.total, false);
}

QString ConsoleUi::RunPart(qint64 done) const
{
    if (m_run.count <= 0)
        return {};
    FileProgress p = m_run;
    p.runDone = std::min(p.runTotal, p.runDone - p.done + done);
    p.done = done;
    return QStringLiteral("  file %1 of %2").arg(p.Index()).arg(p.count) + RunText(p, m_rate.BytesPerSecond(done));
}

void ConsoleUi::Draw(const QString& name, qint64 done, qint64 total, bool final)
{
    const QString text = FormatProgressLine(name, done, total, m_rate.BytesPerSecond(done)) + RunPart(done);
    m_drawClock.start();
    m_drawnDone = done;
    if (!m_terminal) {
        Write(text + u'\n');
        return;
    }
    Write(u'\r' + text + QStringLiteral("\x1b[K") + (final ? QStringLiteral("\n") : QString()));
    m_lineOnScreen = !final;
}
