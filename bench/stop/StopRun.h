// One measured Stop: a file goes between two velotrax-cli processes or two
// velotrax windows over the virtual cable, one side is stopped in the middle
// of it (SIGINT, or a click on the window's Stop button), and the times until
// that side is done and until the other side reports the Stop are taken.
#pragma once
#include <QByteArray>
#include <QPoint>
#include <QString>
#include <functional>

namespace stopbench {

struct Programs {
    QString cli, window, cable;
};

struct StopSetup {
    QByteArray content;     // the file sent, f.bin
    qint32 block = 32763;   // extended mode: Stop once blocks of this size are on the line
    qint32 classicAt = 10240;  // classic mode: Stop once the Receiver holds this much
    QPoint activateAt{69, 160};  // "Send files" / "Listen" inside the window
    QPoint stopAt{500, 160};     // "Stop"
    QString logDir;  // not empty: each side's debug log of each run goes there
};

struct StopCase {
    int baud = 9600;
    bool classic = false;
    bool window = false;
    bool senderStops = true;
    QString Name() const;
};

struct StopResult {
    double stopperMs = -1;  // until the stopping side has exited or its window is idle
    double otherMs = -1;    // until the other side reported the Stop
    QString otherInstead;   // what the other side did instead of reporting it
    double stoppedAtBytes = 0;  // what the Receiver held when Stop was pressed
    QString note;           // why there are no figures, or what was odd
};

// Bytes the Receiver holds once data blocks of the wanted size are on the line.
qint64 StopPoint(const StopCase& c, const StopSetup& s);

StopResult RunStopCase(const Programs& p, const StopSetup& s, const StopCase& c);

// For the runners: how long a side may take to show the Stop before it counts as hung.
constexpr int kAfterStopMs = 240000;
// Size of the Receiver's temp file (-1 while there is none).
qint64 TempFileBytes(const QString& receiveDir);
// Waits until the Receiver's temp file holds StopPoint's bytes and, in the
// classic mode, until the next block is half on the line; all while `alive`
// holds. The note says why not.
bool WaitForStopPoint(const StopCase& c, const StopSetup& s, const QString& receiveDir,
                      const std::function<bool()>& alive, QString& note);

StopResult RunConsole(const Programs& p, const StopSetup& s, const StopCase& c);
StopResult RunWindow(const Programs& p, const StopSetup& s, const StopCase& c);

}  // namespace stopbench
