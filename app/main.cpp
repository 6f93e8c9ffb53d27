#include "Globals.h"
#include "SerialCommPort.h"
#include "Station.h"
#include "VelotraxVersion.h"
#include "frmMain.h"
#include "frmPath.h"
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {
// Lets the event loop lay out and paint, and folder trees fill, before a grab.
void Settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool SaveGrab(QWidget& widget, const QString& file)
{
    Settle(400);
    const bool ok = widget.grab().save(file);
    std::fprintf(stderr, "velotrax: screenshot %s %s\n", qPrintable(file), ok ? "saved" : "FAILED");
    return ok;
}

// Developer option for the documentation pictures: VELOTRAX_SCREENSHOT=look:file.png
// shows one look of the window or one dialog, saves a grab of it and ends the
// program without saving the settings. Looks: idle-receiver, idle-sender,
// active, settings, general, path, about; and close (see below).
void TakeScreenshot(frmMain& w, const QString& request)
{
    const qsizetype colon = request.indexOf(u':');
    const QString look = request.left(colon);
    const QString file = colon < 0 ? look + QStringLiteral(".png") : request.mid(colon + 1);
    bool ok = false;
    const auto click = [&w](const char* name) {
        if (auto* button = w.findChild<QAbstractButton*>(QLatin1String(name)))
            button->click();
    };
    const auto trigger = [&w](const char* name) {
        if (auto* action = w.findChild<QAction*>(QLatin1String(name)))
            action->trigger();
    };
    w.execDialog = [&ok, &file, &w](QDialog& dialog) {
        dialog.show();
        if (auto* path = qobject_cast<frmPath*>(&dialog)) {
            // The folder tree fills in the background; show the selection once it has.
            Settle(1500);
            path->SelectFolder(w.station().G().pathToChoose);
        }
        ok = SaveGrab(dialog, file);
        return int(QDialog::Rejected);
    };

    if (look == u"idle-receiver" || look == u"idle-sender") {
        click(look == u"idle-sender" ? "optSender" : "optReceiver");
        ok = SaveGrab(w, file);
    } else if (look == u"active") {
        click("optReceiver");
        click("cmdActivate");
        ok = w.station().PortOpen() && SaveGrab(w, file);
    } else if (look == u"settings") {
        trigger("mnuCommSettings");
    } else if (look == u"general") {
        trigger("mnuGeneralSettings");
    } else if (look == u"path") {
        click("optReceiver");
        click("btnPath");
    } else if (look == u"about") {
        trigger("mnuAbout");
    } else if (look == u"close") {
        // No picture: closes the window as a user would, so the settings are saved.
        w.close();
        return;
    } else {
        std::fprintf(stderr, "velotrax: unknown screenshot look '%s'\n", qPrintable(look));
    }
    QCoreApplication::exit(ok ? 0 : 1);
}
}  // namespace

// What the command line asks for before a window can be made (which needs a
// display): --help and --version print and end; anything unknown is refused.
// Returns the exit status when the program ends here.
std::optional<int> CommandLineAnswer(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::printf("Usage: velotrax [--listen]\n"
                        "Copies files over a serial line; the window lets you choose Sender or Receiver.\n\n"
                        "  --listen    start as Receiver and listen at once (a station nobody attends);\n"
                        "              without a usable receive path it says why and exits with 1\n"
                        "  --help      show this text\n"
                        "  --version   show the version\n\n"
                        "Settings live in qrn.ini (see the manual page velotrax(1)); velotrax-cli does\n"
                        "the same job without a desktop.\n");
            return 0;
        }
        if (std::strcmp(a, "--version") == 0) {
            std::printf("velotrax %s\n", VELOTRAX_VERSION);
            return 0;
        }
        // Qt's own options (-platform, -style, ...) come with a single dash.
        if (std::strncmp(a, "--", 2) == 0 && std::strcmp(a, "--listen") != 0) {
            std::fprintf(stderr, "velotrax: unknown option '%s'; see velotrax --help\n", a);
            return 2;
        }
    }
    return std::nullopt;
}

int main(int argc, char** argv)
{
    if (const std::optional<int> answered = CommandLineAnswer(argc, argv))
        return *answered;
    QApplication app(argc, argv);
    // One look on every desktop, including a bare X server without a theme.
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setApplicationName(QStringLiteral("Velotrax"));
    QApplication::setApplicationVersion(QStringLiteral(VELOTRAX_VERSION));

    Globals g;
    g.programDir = QCoreApplication::applicationDirPath();
    SerialCommPort port(g.programDir);
    frmMain w(g, port);
    QApplication::setWindowIcon(w.windowIcon());
    const QString screenshot = qEnvironmentVariable("VELOTRAX_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        // Nobody is there to answer a box: say what it was and carry on.
        w.showMessageBox = [](const QString& text, MsgIcon, MsgButtons buttons, std::function<void(MsgAnswer)> done) {
            std::fprintf(stderr, "velotrax: box: %s\n", qPrintable(text));
            if (done)
                done(buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok);
        };
        QTimer::singleShot(0, &w, [&w, screenshot] { TakeScreenshot(w, screenshot); });
    }
    const bool listen = QCoreApplication::arguments().contains(QStringLiteral("--listen"));
    w.show();
    w.StartUp();
    // --listen: a Receiver that starts listening by itself (a station without
    // anyone at the screen); a resumed reception is listening already. Nobody
    // may be there to answer a box, so an unusable path is said and ends it.
    if (listen && !w.station().PortOpen()) {
        const QString path = Station::UsableReceivePath(g.receivePath);
        if (const QString why = Station::ReceivePathRefusal(path); !why.isEmpty()) {
            std::fprintf(stderr, "velotrax: --listen: %s\n", qPrintable(why));
            return 1;
        }
        QTimer::singleShot(0, &w, [&w] {
            w.SetSenderSelected(false);
            w.station().Activate(false);
        });
    }
    return app.exec();
}
