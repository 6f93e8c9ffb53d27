#include "MemoryCommPort.h"
#include "WindowHarness.h"
#include "frmAbout.h"
#include "frmPath.h"
#include "frmSettGeneral.h"
#include "frmSettings.h"
#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>

namespace {

const QString kNul(QChar(0));

class MainWindow : public ::testing::Test {
protected:
    MemoryCommPort port;
    MemoryCommPort far;
    WindowHarness h{port};
    QString inbox;   // an existing receive path
    QString outbox;  // a folder with files to send

    void SetUp() override
    {
        ASSERT_TRUE(h.dir.isValid());
        MemoryCommPort::Connect(port, far);
        QString why;
        far.SetPortOpen(true, why);
        inbox = h.Path("in");
        outbox = h.Path("out");
        QDir().mkpath(inbox);
        QDir().mkpath(outbox);
        WindowHarness::WriteFile(outbox + "/a.txt", "alpha");
        WindowHarness::WriteFile(outbox + "/b c.txt", "bravo");
    }
    void LoadReceiver(const QString& path) { h.Load({"I_AM: 1", "RECEIVEPATH: " + path, "WAITBEFORESEND: 0"}); }
    void LoadSender() { h.Load({"I_AM: 0", "SENDPATH: " + outbox, "WAITBEFORESEND: 0"}); }

    // Which controls can be used; the three looks of the window.
    struct Look {
        bool activate, roles, menus, stop, path, restart;
        const char* caption;
    };
    void ExpectLook(const Look& l)
    {
        EXPECT_EQ(h.Enabled("cmdActivate"), l.activate);
        EXPECT_EQ(h.Enabled("optSender"), l.roles);
        EXPECT_EQ(h.Enabled("optReceiver"), l.roles);
        for (const char* menu : {"mnuExit", "mnuHelp", "mnuMnuSettings", "mnuCommSettings", "mnuGeneralSettings",
                                 "mnuMnuHelp", "mnuAbout"})
            EXPECT_EQ(h.Enabled(menu), l.menus) << menu;
        EXPECT_EQ(h.Enabled("cmdStop"), l.stop);
        for (const char* control : {"lblReceivePath", "txtReceivePath", "btnPath"})
            EXPECT_EQ(h.Enabled(control), l.path) << control;
        EXPECT_EQ(h.Enabled("btnRestart"), l.restart);
        EXPECT_EQ(h.Button("cmdActivate")->text(), QString::fromLatin1(l.caption));
    }
    static constexpr Look kIdleReceiver{true, true, true, false, true, false, "Listen"};
    static constexpr Look kIdleSender{true, true, true, false, false, true, "Send files"};
    static constexpr Look kListening{false, false, false, true, false, false, "Listen"};
    static constexpr Look kSending{false, false, false, true, false, false, "Send files"};
};

TEST_F(MainWindow, ShowsEveryControlWithItsTextAndToolTip)
{
    struct Expected {
        const char* name;
        const char* text;
        const char* tip;
    };
    const Expected buttons[] = {
        {"optSender", "Sender", "other side must listen; I select the files to send"},
        {"optReceiver", "Receiver", "I will listen and write the files sent in the receivepath"},
        {"btnPath", "......", "Browse for receivepath"},
        {"cmdActivate", "Activate", "Start"},
        {"btnRestart", "Restart a file", "... other side must have the broken tempfile"},
        {"cmdStop", "Stop", "Stop and close comport"},
    };
    for (const auto& e : buttons) {
        EXPECT_EQ(h.Button(e.name)->text(), e.text) << e.name;
        EXPECT_EQ(h.Button(e.name)->toolTip(), e.tip) << e.name;
    }
    const QString pathTip = "Received files will be written in this path; will be overwritten if existent";
    EXPECT_EQ(h.Label("lblReceivePath"), "Receivepath:");
    EXPECT_EQ(h.Find<QLabel>("lblReceivePath")->toolTip(), pathTip);
    EXPECT_EQ(h.PathBox()->toolTip(), pathTip);
    EXPECT_EQ(h.Find<QGroupBox>("framIam")->title(), "I am the");
    EXPECT_EQ(h.Label("lblStatus1"), "Status: Not active");
    EXPECT_EQ(h.Label("lblStatus2"), "***");
    EXPECT_FALSE(h.Find<QLabel>("Image1")->pixmap().isNull());
    auto* bar = h.Find<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(h.w->windowTitle(), "Velotrax 1.00");

    const Expected menus[] = {{"mnuFile", "&File", ""}, {"mnuMnuSettings", "&Settings", ""}, {"mnuHelp", "&Help", ""}};
    for (const auto& e : menus)
        EXPECT_EQ(h.Find<QMenu>(e.name)->title(), e.text) << e.name;
    const Expected items[] = {{"mnuExit", "&Exit", ""},
                              {"mnuCommSettings", "&Comport settings", ""},
                              {"mnuGeneralSettings", "&General", ""},
                              {"mnuMnuHelp", "&Help", ""},
                              {"mnuAbout", "&About", ""}};
    for (const auto& e : items)
        EXPECT_EQ(h.Action(e.name)->text(), e.text) << e.name;
}

TEST_F(MainWindow, RoleClickChangesTheLookAtOnceButNotTheSetting)
{
    LoadReceiver(inbox);
    ExpectLook(kIdleReceiver);
    EXPECT_EQ(h.Button("cmdActivate")->toolTip(), "Start waiting for files, sent from sender's side");

    h.Button("optSender")->click();
    ExpectLook(kIdleSender);
    EXPECT_EQ(h.Button("cmdActivate")->toolTip(), "Select files to send, and send them");
    EXPECT_EQ(h.g.role, Role::Receiver) << "the role is taken over at the next activation or save";

    h.Button("optReceiver")->click();
    ExpectLook(kIdleReceiver);
}

TEST_F(MainWindow, ReceiverActivationRefusesUnusablePaths)
{
    struct Case {
        QString typed;
        QString box;
    };
    const Case cases[] = {
        {"", "Receiving: first, provide receivepath"},
        {"  ///  ", "Receiving: first, provide receivepath"},
        {h.Path("missing") + "/", "Path '" + h.Path("missing") + "': not found"},
    };
    LoadReceiver(inbox);
    for (const auto& c : cases) {
        h.boxes.clear();
        h.PathBox()->setText(c.typed);
        h.Button("cmdActivate")->click();
        ASSERT_EQ(h.boxes.size(), 1u) << c.typed.toStdString();
        EXPECT_EQ(h.boxes[0].text, c.box);
        EXPECT_EQ(h.boxes[0].icon, MsgIcon::Exclamation);
        EXPECT_EQ(h.boxes[0].buttons, MsgButtons::Ok);
        EXPECT_FALSE(port.PortOpen());
        ExpectLook(kIdleReceiver);
        EXPECT_EQ(h.Label("lblStatus1"), "Status: Not active");
    }
}

TEST_F(MainWindow, ReceiverListensOnAGoodPathWithoutItsTrailingSeparators)
{
    LoadReceiver(inbox);
    h.w->SetStatus2("old result");
    const QString typed = "  " + inbox + "//  ";
    h.PathBox()->setText(typed);
    h.Button("cmdActivate")->click();

    EXPECT_TRUE(h.boxes.empty());
    EXPECT_TRUE(port.PortOpen());
    EXPECT_EQ(h.g.receivePath, inbox);
    EXPECT_EQ(h.PathBox()->text(), typed);
    EXPECT_EQ(h.Label("lblStatus1"), "listening ...");
    EXPECT_EQ(h.Label("lblStatus2"), "");
    ExpectLook(kListening);
}

TEST_F(MainWindow, CancelledFileDialogLeavesTheSenderIdle)
{
    LoadSender();
    ExpectLook(kIdleSender);
    h.nextChoice.reset();
    h.Button("cmdActivate")->click();

    ASSERT_EQ(h.fileDialogs.size(), 1u);
    EXPECT_TRUE(h.fileDialogs[0].multiSelect);
    EXPECT_EQ(h.fileDialogs[0].title, "");
    EXPECT_EQ(h.fileDialogs[0].folder, outbox);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_TRUE(h.boxes.empty());
    ExpectLook(kIdleSender);
    EXPECT_EQ(h.Label("lblStatus1"), "Status: Not active");
    EXPECT_FALSE(h.w->station().WatchdogActive());
}

TEST_F(MainWindow, ChosenFilesBecomeTheSendPathAndNamesAndTheFirstHeaderGoesOut)
{
    LoadSender();
    h.nextChoice = QStringList{outbox + "/a.txt", outbox + "/b c.txt"};
    h.Button("cmdActivate")->click();

    EXPECT_TRUE(h.boxes.empty());
    EXPECT_EQ(h.g.sendPath, QDir::toNativeSeparators(outbox));
    const std::vector<QString> names{"", "a.txt", "b c.txt"};
    EXPECT_EQ(h.w->station().Sender().Run().filesToSend, names);
    EXPECT_TRUE(port.PortOpen());
    EXPECT_TRUE(port.written.contains("|a.txt"));
    EXPECT_TRUE(h.w->station().WatchdogActive());
    ExpectLook(kSending);
    // Beside the status texts: which file moves, its rate and the time left (not known yet), and the run.
    auto* moving = h.Find<QLabel>("lblMoving");
    EXPECT_TRUE(WaitFor([&] { return moving->text() == "File 1 of 2: a.txt  -- B/s  -:-- left; run 0 of 10 bytes, -:-- left"; },
                        5000))
        << moving->text().toStdString();
    h.Button("cmdStop")->click();
    EXPECT_EQ(moving->text(), "");
}

TEST_F(MainWindow, RestartAsksForOneFileWithItsOwnTitle)
{
    LoadSender();
    h.nextChoice = QStringList{outbox + "/b c.txt"};
    h.Button("btnRestart")->click();

    ASSERT_EQ(h.fileDialogs.size(), 1u);
    EXPECT_FALSE(h.fileDialogs[0].multiSelect);
    EXPECT_EQ(h.fileDialogs[0].title, "Restart sending one file (other side must have the .tmp):");
    EXPECT_TRUE(h.w->station().Sender().Run().restart);
    const std::vector<QString> names{"", "b c.txt"};
    EXPECT_EQ(h.w->station().Sender().Run().filesToSend, names);
    ExpectLook(kSending);
}

TEST_F(MainWindow, DialogResultIsOnePathOrFolderAndNames)
{
    EXPECT_EQ(frmMain::FileListToDialogResult({}), "");
    EXPECT_EQ(frmMain::FileListToDialogResult({"/data/x/a.txt"}), QDir::toNativeSeparators("/data/x/a.txt"));
    EXPECT_EQ(frmMain::FileListToDialogResult({"/data/x/a.txt", "/data/x/b c.txt"}),
              QDir::toNativeSeparators("/data/x") + kNul + "a.txt" + kNul + "b c.txt");
}

TEST_F(MainWindow, StopOnTheReceiverOffersToDeleteAnExistingTempFile)
{
    LoadReceiver(inbox);
    const QString temp = inbox + "/_big.bin.tmp";
    const QString question = "Delete tempfile '" + temp + "' ?\r\n(Note: this file is needed if you want to use 'restart a file.'";

    struct Case {
        bool tempExists;
        MsgAnswer answer;
        bool boxExpected, tempKept;
    };
    const Case cases[] = {{true, MsgAnswer::No, true, true}, {true, MsgAnswer::Yes, true, false}, {false, MsgAnswer::Yes, false, false}};
    for (const auto& c : cases) {
        h.boxes.clear();
        h.Button("cmdActivate")->click();
        ASSERT_TRUE(port.PortOpen());
        if (c.tempExists)
            WindowHarness::WriteFile(temp, "part");
        h.w->station().Receiver().RunForTesting().tempFile = temp;
        h.answers = {c.answer};
        port.written.clear();
        h.Button("cmdStop")->click();
        DeliverQueued();

        ASSERT_EQ(h.boxes.size(), c.boxExpected ? 1u : 0u);
        if (c.boxExpected) {
            EXPECT_EQ(h.boxes[0].text, question);
            EXPECT_EQ(h.boxes[0].icon, MsgIcon::Exclamation);
            EXPECT_EQ(h.boxes[0].buttons, MsgButtons::YesNo);
        }
        EXPECT_EQ(QFile::exists(temp), c.tempKept);
        EXPECT_FALSE(port.written.isEmpty()) << "the other side hears of the stop";
        EXPECT_FALSE(port.PortOpen());
        ExpectLook(kIdleReceiver);
        EXPECT_EQ(h.Label("lblStatus1"), "Status: Not active");
        h.answers.clear();
    }
}

TEST_F(MainWindow, StopOnTheSenderNeverAsksAboutATempFile)
{
    LoadSender();
    h.nextChoice = QStringList{outbox + "/a.txt"};
    h.Button("cmdActivate")->click();
    ASSERT_TRUE(port.PortOpen());
    const QString temp = outbox + "/_a.txt.tmp";
    WindowHarness::WriteFile(temp, "part");
    h.w->station().Receiver().RunForTesting().tempFile = temp;

    h.Button("cmdStop")->click();
    EXPECT_TRUE(h.boxes.empty());
    EXPECT_TRUE(QFile::exists(temp));
    EXPECT_FALSE(port.PortOpen());
    EXPECT_FALSE(h.w->station().WatchdogActive());
    ExpectLook(kIdleSender);
}

TEST_F(MainWindow, ClosingSavesTheTypedReceivePathExitDoesNot)
{
    LoadReceiver(inbox);
    const QByteArray before = WindowHarness::ReadFile(h.Path("qrn.ini"));
    h.PathBox()->setText("  " + outbox + "  ");

    h.Action("mnuExit")->trigger();
    EXPECT_EQ(h.exits, 1);
    EXPECT_EQ(WindowHarness::ReadFile(h.Path("qrn.ini")), before);

    h.w->close();
    const QByteArray after = WindowHarness::ReadFile(h.Path("qrn.ini"));
    EXPECT_TRUE(after.contains(("RECEIVEPATH: " + outbox + "\r\n").toLocal8Bit())) << after.toStdString();
}

TEST_F(MainWindow, ClosingAfterTheAutomaticRestartSavedDoesNotSaveAgain)
{
    LoadReceiver(inbox);
    const QByteArray before = WindowHarness::ReadFile(h.Path("qrn.ini"));
    h.PathBox()->setText(outbox);
    h.w->station().m_settingsSaved = true;
    h.w->close();
    EXPECT_EQ(WindowHarness::ReadFile(h.Path("qrn.ini")), before);
}

TEST_F(MainWindow, StartUpWithARestartFileGoesStraightIntoListening)
{
    WindowHarness::WriteFile(inbox + "/_big.bin.tmp", "abc");
    WindowHarness::WriteFile(h.Path("_qrn_receive_restart_.tmp"), "FILENAME: big.bin\r\nFILEPOS: 4\r\nFILESIZE: 10\r\n");
    LoadReceiver(inbox);

    EXPECT_TRUE(h.boxes.empty()) << h.boxes[0].text.toStdString();
    EXPECT_TRUE(port.PortOpen());
    EXPECT_EQ(h.Label("lblStatus1"), "Status: Active");
    EXPECT_EQ(h.Label("lblStatus2"), "");  // no "***" left from the form
    ExpectLook(kListening);
    EXPECT_FALSE(QFile::exists(h.Path("_qrn_receive_restart_.tmp")));
}

TEST_F(MainWindow, PathButtonStartsAtTheTypedFolderAndTakesOnlyAConfirmedChoice)
{
    LoadReceiver(inbox);
    QDir().mkpath(inbox + "/sub");
    h.PathBox()->setText("  " + inbox + "  ");

    h.onDialog = [&](QDialog&) {
        EXPECT_EQ(h.g.pathToChoose, inbox);
        return int(QDialog::Rejected);
    };
    h.Button("btnPath")->click();
    EXPECT_EQ(h.PathBox()->text(), "  " + inbox + "  ");

    h.onDialog = [&](QDialog& d) {
        auto* path = qobject_cast<frmPath*>(&d);
        EXPECT_NE(path, nullptr);
        if (!path || !path->SelectFolder(inbox + "/sub"))
            return int(QDialog::Rejected);
        d.findChild<QAbstractButton*>("btnOK")->click();
        return d.result();
    };
    h.Button("btnPath")->click();
    EXPECT_EQ(h.dialogsShown, (std::vector<QString>{"frmPath", "frmPath"}));
    EXPECT_EQ(h.PathBox()->text(), QDir::toNativeSeparators(inbox + "/sub"));
    EXPECT_EQ(h.g.receivePath, inbox) << "the setting changes only at the next activation or save";
}

TEST_F(MainWindow, SettingsMenusShowTheirDialogsWhichSaveThroughTheWindow)
{
    LoadReceiver(inbox);
    h.PathBox()->setText(outbox);
    h.onDialog = [](QDialog& d) {
        if (auto* ok = d.findChild<QAbstractButton*>("cmdOK"))
            ok->click();
        return d.result();
    };
    h.Action("mnuCommSettings")->trigger();
    EXPECT_TRUE(WindowHarness::ReadFile(h.Path("qrn.ini")).contains(("RECEIVEPATH: " + outbox).toLocal8Bit()));
    h.Action("mnuGeneralSettings")->trigger();
    h.onDialog = nullptr;
    h.Action("mnuAbout")->trigger();
    EXPECT_EQ(h.dialogsShown, (std::vector<QString>{"frmSettings", "frmSettGeneral", "frmAbout"}));
}

TEST_F(MainWindow, HelpOpensTheFileBesideTheProgramOrSaysItIsMissing)
{
    LoadReceiver(inbox);
    const QString help = h.Path("Velotrax.html");
    h.Action("mnuMnuHelp")->trigger();
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].text, "Help file '" + help + "' not found");
    EXPECT_TRUE(h.urlsOpened.empty());

    WindowHarness::WriteFile(help, "<html></html>");
    h.Action("mnuMnuHelp")->trigger();
    EXPECT_EQ(h.boxes.size(), 1u);
    ASSERT_EQ(h.urlsOpened.size(), 1u);
    EXPECT_EQ(h.urlsOpened[0], QUrl::fromLocalFile(help));

    h.openUrlWorks = false;
    h.Action("mnuMnuHelp")->trigger();
    ASSERT_EQ(h.boxes.size(), 2u);
    EXPECT_TRUE(h.boxes[1].text.contains(help));
}

// The real boxes and the real file dialog, answered from a timer while they run.
class RealModals : public ::testing::Test {
protected:
    MemoryCommPort port;
    std::unique_ptr<frmMain> w;
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        g.programDir = dir.path();
        w = std::make_unique<frmMain>(g, port);
        w->show();
    }
    // Runs play on the next modal window that opens.
    template <class T>
    void WhenModalOpens(std::function<void(T*)> play)
    {
        auto* timer = new QTimer(w.get());
        QObject::connect(timer, &QTimer::timeout, timer, [timer, play] {
            if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
                timer->deleteLater();
                timer->stop();
                play(modal);
            }
        });
        timer->start(5);
    }
    QTemporaryDir dir;
    Globals g;
};

TEST_F(RealModals, MessageBoxesCarryTheTitleIconAndButtonsAndReturnTheAnswer)
{
    struct Case {
        MsgIcon icon;
        MsgButtons buttons;
        QMessageBox::Icon shown;
        QMessageBox::StandardButtons offered;
        QMessageBox::StandardButton pressed;
        MsgAnswer expected;
    };
    const Case cases[] = {
        {MsgIcon::Exclamation, MsgButtons::YesNo, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No, QMessageBox::No, MsgAnswer::No},
        {MsgIcon::Exclamation, MsgButtons::YesNo, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, MsgAnswer::Yes},
        {MsgIcon::Critical, MsgButtons::OkCancel, QMessageBox::Critical, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel, MsgAnswer::Cancel},
        {MsgIcon::Information, MsgButtons::Ok, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, MsgAnswer::Ok},
    };
    for (const auto& c : cases) {
        bool seen = false;
        WhenModalOpens<QMessageBox>([&](QMessageBox* box) {
            seen = true;
            EXPECT_EQ(box->windowTitle(), "Velotrax");
            EXPECT_EQ(box->text(), "the text");
            EXPECT_EQ(box->icon(), c.shown);
            EXPECT_EQ(box->standardButtons(), c.offered);
            box->button(c.pressed)->click();
        });
        std::optional<MsgAnswer> answer;
        w->showMessageBox("the text", c.icon, c.buttons, [&](MsgAnswer a) { answer = a; });
        EXPECT_TRUE(WaitFor([&] { return answer.has_value(); }, 5000));
        EXPECT_EQ(answer, c.expected);
        EXPECT_TRUE(seen);
    }
}

TEST_F(RealModals, FileDialogStartsInTheFolderWithTheTitleAndHandsBackTheFile)
{
    const QString file = QDir(dir.path()).filePath("one.bin");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const QString title = "Restart sending one file (other side must have the .tmp):";
    WhenModalOpens<QFileDialog>([&](QFileDialog* d) {
        EXPECT_EQ(d->windowTitle(), title);
        EXPECT_EQ(QDir(d->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
        EXPECT_EQ(d->nameFilters(), QStringList{"All files (*)"});
        EXPECT_EQ(d->fileMode(), QFileDialog::ExistingFile);
        d->selectFile(file);
        static_cast<QDialog*>(d)->accept();
    });
    QString result;
    ASSERT_TRUE(w->ChooseFilesToSend(title, false, dir.path(), result));
    EXPECT_EQ(QFileInfo(result).canonicalFilePath(), QFileInfo(file).canonicalFilePath());

    WhenModalOpens<QFileDialog>([](QFileDialog* d) {
        EXPECT_EQ(d->fileMode(), QFileDialog::ExistingFiles);
        d->reject();
    });
    EXPECT_FALSE(w->ChooseFilesToSend(QString(), true, dir.path(), result));
}

}  // namespace
