#pragma once
#include <QElapsedTimer>
#include <QString>

// Where one file stands, read from the transfer record.
struct FileProgress {
    bool moving = false;   // a file is between its header and its end
    QString name;
    qint64 done = 0;       // bytes
    qint64 total = 0;
    qint32 completed = 0;  // files finished in this run
    qint32 count = 0;      // files in this run; 0 where the side cannot know
    qint32 index = 0;      // the moving file's number in the run; 0: completed + 1
    qint64 runDone = 0;    // bytes of the run; runTotal 0 where not known
    qint64 runTotal = 0;

    qint32 Index() const { return index > 0 ? index : completed + 1; }
};

// The rate of one moving file, measured from where it started (or resumed).
class RateMeter {
public:
    void Start(qint64 done);
    bool Started() const { return m_clock.isValid(); }
    // Bytes per second up to done; negative while too little time has passed.
    double BytesPerSecond(qint64 done) const;

private:
    QElapsedTimer m_clock;
    qint64 m_startDone = 0;
};

// Seconds until total at that rate; 0 when done, negative when not known.
double SecondsLeft(qint64 done, qint64 total, double bytesPerSecond);
QString FormatRate(double bytesPerSecond);
QString FormatDuration(double seconds);
// "File 2 of 3: name  11.2 kB/s  0:03 left" (no "of n" when the count is
// unknown), then "; run 1.2 MB of 3.4 MB, 2:10 left" where the run is known.
QString MovingText(const FileProgress& p, double bytesPerSecond);
// "; run 1.2 MB of 3.4 MB, 2:10 left", or nothing where the run is not known.
QString RunText(const FileProgress& p, double bytesPerSecond);
