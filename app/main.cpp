#include "Globals.h"
#include "frmMain.h"
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QIcon>
#include <QTimer>
#include <cstdio>

#include "SerialCommPort.h"

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
// active, settings, general, path, about.
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
    w.execDialog = [&ok, &file](QDialog& dialog) {
        dialog.show();
        ok = SaveGrab(dialog, file);
        return int(QDialog::Rejected);
    };

    if (look == u"idle-receiver" || look == u"idle-sender") {
        click(look == u"idle-sender" ? "optSender" : "optReceiver");
        ok = SaveGrab(w, file);
    } else if (look == u"active") {
        click("optReceiver");
        click("cmdActivate");
        ok = SaveGrab(w, file);
    } else if (look == u"settings") {
        trigger("mnuCommSettings");
    } else if (look == u"general") {
        trigger("mnuGeneralSettings");
    } else if (look == u"path") {
        click("optReceiver");
        click("btnPath");
    } else if (look == u"about") {
        trigger("mnuAbout");
    } else {
        std::fprintf(stderr, "velotrax: unknown screenshot look '%s'\n", qPrintable(look));
    }
    QCoreApplication::exit(ok ? 0 : 1);
}
}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // One look on every desktop, including a bare X server without a theme.
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setApplicationName(QStringLiteral("Velotrax"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));

    Globals g;
    g.programDir = QCoreApplication::applicationDirPath();
    SerialCommPort port(g.programDir);
    frmMain w(g, port);
    QApplication::setWindowIcon(w.windowIcon());
    w.show();
    w.Form_Load();

    const QString screenshot = qEnvironmentVariable("VELOTRAX_SCREENSHOT");
    if (!screenshot.isEmpty())
        QTimer::singleShot(0, &w, [&w, screenshot] { TakeScreenshot(w, screenshot); });
    return app.exec();
}
