// A click on the Stop button of a velotrax window in the middle of a file.
// Each window runs alone on its own Xvfb display from a folder of its own
// (the program, qrn.ini and COM1, the cable's end). A window has shown the
// Stop once the Stop button is painted disabled again, as before the run, or
// once it shows a box (the temp-file question): what the user sees. A window
// that does not get back to its event loop paints neither.
#include "Child.h"
#include "StopRun.h"
#include "XScreen.h"
#include "cable_process.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

namespace stopbench {

namespace {
constexpr int kWindowShownMs = 20000;
constexpr int kControlMs = 15000;
const QPoint kAway{700, 500};  // the pointer off the window: no hover, no tool tip
const QSize kStopSize{80, 18};                // inside the Stop button's frame

struct Side {
    QString folder;
    XScreen screen;
    Child program;
    std::uint32_t main = 0;
    QByteArray idleLook;  // the Stop button as it looks while no port is open
    QRect stopRect;

    bool ShowsStop()
    {
        return screen.Windows().size() > 1 || screen.Grab(main, stopRect) == idleLook;
    }
};

bool WriteFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

// Polls `done` every few milliseconds until it holds or `ms` have passed.
template <typename F>
bool WaitUntil(int ms, F done)
{
    const double until = NowMs() + ms;
    while (!done()) {
        if (NowMs() >= until)
            return false;
        SleepMs(5);
    }
    return true;
}

bool Prepare(Side& side, const Programs& p, const StopSetup& s, const StopCase& c, const QString& dir, bool sender,
             QString& why)
{
    const QString program = side.folder + QStringLiteral("/velotrax");
    // A copy in a folder of its own: the program keeps qrn.ini and COM1 beside itself.
    if (!QDir().mkpath(side.folder) || !QFile::copy(p.window, program)
        || !QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        why = QStringLiteral("cannot copy ") + p.window;
        return false;
    }
    const QString log = s.logDir.isEmpty() ? QString()
                                           : QStringLiteral("%1/%2-%3.log")
                                                 .arg(s.logDir, QString(c.Name()).replace(u' ', u'_').remove(u','),
                                                      sender ? u"tx" : u"rx");
    QStringList ini{QStringLiteral("COM: 1"),
                    QStringLiteral("SPEED: %1").arg(c.baud),
                    QStringLiteral("I_AM: %1").arg(sender ? 0 : 1),
                    QStringLiteral("SENDPATH: ") + dir,
                    QStringLiteral("RECEIVEPATH: ") + dir + QStringLiteral("/in"),
                    QStringLiteral("CLASSIC: %1").arg(c.classic ? 1 : 0),
                    QStringLiteral("DBGFLAG: %1").arg(log.isEmpty() ? 0 : 1)};
    if (!log.isEmpty())
        ini << QStringLiteral("DEBUGFILE: ") + log;
    if (!WriteFile(side.folder + QStringLiteral("/qrn.ini"), (ini.join(QStringLiteral("\r\n")) + "\r\n").toUtf8())) {
        why = QStringLiteral("cannot write qrn.ini");
        return false;
    }
    if (!side.screen.Start(why))
        return false;
    if (!side.program.Start({program}, {QStringLiteral("DISPLAY=") + side.screen.Display(), QStringLiteral("QT_QPA_PLATFORM=xcb"),
                                        QStringLiteral("XDG_CONFIG_HOME=") + dir + QStringLiteral("/config")})) {
        why = QStringLiteral("the window did not start");
        return false;
    }
    if (!WaitUntil(kWindowShownMs, [&] { return side.program.Poll() && side.screen.Windows().size() == 1; })) {
        why = QStringLiteral("no window shown: ") + side.program.Text().simplified().left(200);
        return false;
    }
    side.main = side.screen.Windows().front();
    side.stopRect = QRect(s.stopAt - QPoint(kStopSize.width() / 2, kStopSize.height() / 2), kStopSize);
    side.screen.Pointer(kAway);
    // Painted and at rest: the same pixels three times in a row.
    int same = 0;
    if (!WaitUntil(kControlMs, [&] {
            SleepMs(100);
            const QByteArray look = side.screen.Grab(side.main, side.stopRect);
            same = !look.isEmpty() && look == side.idleLook ? same + 1 : 0;
            side.idleLook = look;
            return same >= 2;
        })) {
        why = QStringLiteral("the window does not come to rest");
        return false;
    }
    return true;
}

// A click on "Send files" (then f.bin in the file dialog) or "Listen"; the
// Stop button must come alive, which also proves where it is.
bool Activate(Side& side, const StopSetup& s, bool sender, QString& why)
{
    XScreen& x = side.screen;
    x.Pointer(x.OnScreen(side.main, s.activateAt), true);
    if (sender) {
        if (!WaitUntil(kControlMs, [&] { return x.Windows().size() == 2; })) {
            why = QStringLiteral("no file dialog after a click at %1,%2").arg(s.activateAt.x()).arg(s.activateAt.y());
            return false;
        }
        SleepMs(500);  // the dialog's name field takes the keys once it has focus
        // "type" takes every word after it as text: the key goes on its own.
        x.Xdotool({QStringLiteral("type"), QStringLiteral("f.bin")});
        x.Xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    }
    x.Pointer(kAway);
    if (!WaitUntil(kControlMs, [&] {
            return x.Windows().size() == 1 && x.Grab(side.main, side.stopRect) != side.idleLook;
        })) {
        why = QStringLiteral("the Stop button at %1,%2 did not come alive").arg(s.stopAt.x()).arg(s.stopAt.y());
        return false;
    }
    return true;
}
}  // namespace

StopResult RunWindow(const Programs& p, const StopSetup& s, const StopCase& c)
{
    StopResult r;
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in"));
    if (!dir.isValid() || !QDir().mkpath(in) || !WriteFile(dir.filePath(QStringLiteral("f.bin")), s.content)) {
        r.note = QStringLiteral("no temp folder");
        return r;
    }
    auto tx = std::make_unique<Side>(), rx = std::make_unique<Side>();
    tx->folder = dir.filePath(QStringLiteral("tx"));
    rx->folder = dir.filePath(QStringLiteral("rx"));
    QDir().mkpath(tx->folder);
    QDir().mkpath(rx->folder);
    vnm::CableProcess cable;
    if (!cable.start(p.cable.toStdString(), {"--baud", std::to_string(c.baud), "--link-a",
                                             (tx->folder + "/COM1").toStdString(), "--link-b",
                                             (rx->folder + "/COM1").toStdString()})) {
        r.note = QStringLiteral("cable: ") + QString::fromStdString(cable.error());
        return r;
    }
    if (!Prepare(*rx, p, s, c, dir.path(), false, r.note) || !Activate(*rx, s, false, r.note)
        || !Prepare(*tx, p, s, c, dir.path(), true, r.note) || !Activate(*tx, s, true, r.note))
        return r;
    const auto alive = [&] { return tx->program.Poll() && rx->program.Poll(); };
    if (!WaitForStopPoint(c, s, in, alive, r.note))
        return r;
    r.stoppedAtBytes = double(TempFileBytes(in));

    Side& stopper = c.senderStops ? *tx : *rx;
    Side& other = c.senderStops ? *rx : *tx;
    if (stopper.ShowsStop() || other.ShowsStop()) {
        r.note = QStringLiteral("a box or a closed port before the Stop");
        return r;
    }
    const double t0 = NowMs();
    if (!stopper.screen.Pointer(stopper.screen.OnScreen(stopper.main, s.stopAt), true)) {
        r.note = QStringLiteral("the click did not reach the X server");
        return r;
    }
    stopper.screen.Pointer(kAway);
    WaitUntil(kAfterStopMs, [&] {
        if (r.stopperMs < 0 && stopper.ShowsStop())
            r.stopperMs = NowMs() - t0;
        if (r.otherMs < 0 && other.ShowsStop())
            r.otherMs = NowMs() - t0;
        return (r.stopperMs >= 0 && r.otherMs >= 0) || !alive();
    });
    if (!alive())
        r.note = QStringLiteral("a window ended");
    return r;
}

}  // namespace stopbench
