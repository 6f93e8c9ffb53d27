#pragma once
#include "TransferMeter.h"
#include "UserInterface.h"
#include <QElapsedTimer>
#include <QString>
#include <functional>

// "name  42%  1234/5678 bytes  11.2 kB/s  0:03 left"; a negative rate is not known yet.
QString FormatProgressLine(const QString& name, qint64 done, qint64 total, double bytesPerSecond);

// The user interface on a console: status texts and boxes go to standard
// error, questions are answered by the options, the file choice comes from the
// command line, and a progress line follows the file that is moving.
class ConsoleUi : public UserInterface {
public:
    using Sink = std::function<void(const QString&)>;
    // sink receives everything written (standard error if empty); terminal:
    // the progress line redraws itself in place instead of adding lines.
    explicit ConsoleUi(Sink sink = {}, bool terminal = false);

    void SetStatus1(const QString& text) override;
    void SetStatus2(const QString& text) override;
    QString Status1() const override { return m_status1; }
    QString Status2() const override { return m_status2; }
    void SetProgress(float percent) override;
    void Alert(const QString& text, MsgIcon icon) override;
    // Answered at once from the options below.
    void Ask(Question question, const QString& text, std::function<void(bool yes)> reply) override;
    void RunEnded(const RunOutcome& outcome) override;
    void UpdateControls(bool portOpen) override;
    bool ChooseFilesToSend(const QString& title, bool multiSelect, const QString& initialFolder,
                           QString& dialogResult) override;
    QString ReceivePathText() const override { return m_receivePath; }
    void SetReceivePathText(const QString& text) override { m_receivePath = text; }
    bool SenderSelected() const override { return m_sender; }
    void SetSenderSelected(bool sender) override { m_sender = sender; }

    // A line of the console program itself.
    void Note(const QString& text);
    // Ends a progress line that is on screen, so the next output starts afresh.
    void BreakProgressLine();

    // Answers: OK to the "no listener" question this many times, then Cancel;
    // Yes or No to deleting a temp file.
    int okRetries = 5;
    bool deleteTemp = false;
    bool showProgress = false;
    bool crlf = false;  // line ends as CR LF, for a terminal another program keeps raw
    bool verbose = false;
    qint64 drawIntervalMs = 200;  // about five redraws a second
    QString filesToSend;  // the file "dialog" result

    std::function<void(const RunOutcome&)> onRunEnded;
    std::function<void(bool portOpen)> onUpdateControls;
    std::function<FileProgress()> progressSource;

private:
    bool SendAgain();
    void Write(const QString& text);
    void Line(const QString& text);
    void Track(bool force);
    void Draw(const QString& name, qint64 done, qint64 total, bool final);
    // "  file 2 of 3; run … bytes, … left" for the file last seen moving; nothing where unknown.
    QString RunPart(qint64 done) const;

    Sink m_sink;
    bool m_terminal;
    QString m_status1, m_status2;
    QString m_receivePath;
    bool m_sender = false;
    int m_okAnswers = 0;

    // The progress line.
    bool m_lineOnScreen = false;   // a redrawn line without its newline yet
    bool m_tracking = false;       // m_file* describe a file seen moving
    QString m_fileName;
    qint64 m_fileTotal = 0;
    qint64 m_drawnDone = -1;      // bytes the last drawn line showed
    qint32 m_completed = 0;
    RateMeter m_rate;
    FileProgress m_run;           // the moving file as last seen, for its run
    QElapsedTimer m_drawClock;
};
