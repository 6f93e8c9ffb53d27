#pragma once
#include "TransferMeter.h"
#include "UserInterface.h"
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>

class CommPort;
class QDialog;
class QTimer;
class QUrl;
class Station;
struct Globals;
namespace Ui {
class frmMain;
}

// The program's main window: the role choice, activation and Stop, the status
// lines, and the menus. It owns the station that does the work and shows what
// the station asks for; every modal window goes through a replaceable hook so
// tests can answer it without a real box.
class frmMain : public QMainWindow, public UserInterface {
    Q_OBJECT

public:
    frmMain(Globals& g, CommPort& port, QWidget* parent = nullptr);
    ~frmMain() override;

    Station& station() { return *m_station; }

    // Start-up; may go straight into listening when a broken reception waits.
    void StartUp();
    // Closing the window; the Exit menu item skips it.
    void SaveSettingsOnClose();

    // UserInterface
    void SetStatus1(const QString& text) override;
    void SetStatus2(const QString& text) override;
    QString Status1() const override;
    QString Status2() const override;
    void SetProgress(float percent) override;
    void Alert(const QString& text, MsgIcon icon) override;
    void Ask(Question question, const QString& text, std::function<void(bool yes)> reply) override;
    void UpdateControls(bool portOpen) override;
    bool ChooseFilesToSend(const QString& title, bool multiSelect, const QString& initialFolder,
                           QString& dialogResult) override;
    QString ReceivePathText() const override;
    void SetReceivePathText(const QString& text) override;
    bool SenderSelected() const override;
    void SetSenderSelected(bool sender) override;

    // Full paths chosen in a file dialog in the form the station splits:
    // one file as its full path, several as the folder, NUL, name, NUL, name ...
    static QString FileListToDialogResult(const QStringList& paths);

    // Hooks with the real behaviour as default.
    // A message box with the program's title. It returns at once and hands
    // the answer to done (which may be empty) when the user has given it.
    std::function<void(const QString& text, MsgIcon icon, MsgButtons buttons, std::function<void(MsgAnswer)> done)>
        showMessageBox;
    // The open-file dialog; false when cancelled, else the chosen full paths.
    std::function<bool(const QString& title, bool multiSelect, const QString& initialFolder, QStringList& chosen)>
        showOpenFileDialog;
    // The folder dialog of "Send a folder..."; false when cancelled, else the chosen folder's full path.
    std::function<bool(const QString& initialFolder, QString& chosen)> showOpenFolderDialog;
    // Runs a dialog modally and returns its result code.
    std::function<int(QDialog& dialog)> execDialog;
    // Hands a file to the desktop's viewer; false when that failed.
    std::function<bool(const QUrl& url)> openUrl;
    // Ends the program at once, without the unload handling.
    std::function<void()> exitProgram;

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void OnActivate();
    void OnSendFolder();
    void OnRestart();
    void StopByUser();
    void ChooseReceivePath();
    void OnSenderChosen();
    void OnReceiverChosen();
    void OnExit();
    void ShowCommSettings();
    void ShowGeneralSettings();
    void ShowHelp();
    void ShowAbout();

private:
    bool ShowAboutBox();
    void ShowMoving();

    std::unique_ptr<Ui::frmMain> ui;
    Globals& m_g;
    CommPort& m_port;
    std::unique_ptr<Station> m_station;
    bool m_folderWanted = false;  // the activation under way chooses a folder, not files

    // The line about the moving file, refreshed while the port is open.
    QTimer* m_movingTimer = nullptr;
    RateMeter m_rate;
    QString m_movingName;
    qint64 m_movingTotal = -1;
};
