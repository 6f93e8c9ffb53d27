// Two main windows joined by the in-memory cable, used as people use them:
// Stop in the middle of a file, and boxes left open while bytes arrive.
#include "MemoryCommPort.h"
#include "TestFiles.h"
#include "TestTree.h"
#include "WindowHarness.h"
#include <QFileInfo>
#include <tuple>

namespace {

// A user who reads a box for a while: the program goes on meanwhile.
void Linger(int ms)
{
    WaitFor([] { return false; }, ms);
}

struct TwoWindows {
    MemoryCommPort a, b;
    std::unique_ptr<WindowHarness> tx, rx;
    QString in;

    explicit TwoWindows(bool classic)
    {
        MemoryCommPort::Connect(a, b);
        tx = std::make_unique<WindowHarness>(a);
        rx = std::make_unique<WindowHarness>(b);
        in = rx->Path("in");
        QDir().mkpath(in);
        const QString mode = classic ? "CLASSIC: 1" : "CLASSIC: 0";
        rx->Load({"I_AM: 1", "RECEIVEPATH: " + in, mode});
        tx->Load({"I_AM: 0", "SENDPATH: " + tx->dir.path(), mode});
        for (WindowHarness* h : {tx.get(), rx.get()}) {
            h->g.speed = 0;  // the in-memory cable has no line time
            h->g.waitBeforeSend = 0;
        }
    }
    QString In(const QString& name) const { return QDir(in).filePath(name); }
    void Listen() { rx->Button("cmdActivate")->click(); }
    void Send(const QString& name, const QByteArray& content)
    {
        WindowHarness::WriteFile(tx->Path(name), content);
        tx->nextChoice = QStringList{tx->Path(name)};
        tx->Button("cmdActivate")->click();
    }
    bool Arrives(const QString& name, const QByteArray& content)
    {
        return WaitFor([&] { return WindowHarness::ReadFile(In(name)) == content; }, 10000);
    }
};

// Extended or classic mode; Stop pressed on the Receiver or on the Sender.
struct StopMidFile : ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(StopMidFile, BothProgramsLiveOnTheOtherSideHearsItAndTheNextRunArrives)
{
    const auto [classic, receiverStops] = GetParam();
    TwoWindows w(classic);
    w.Listen();
    // Past 20000 bytes the Receiver's answers wait on the line: the Sender
    // stands in the middle of the file with blocks on their way.
    w.b.lineFilter = [&](const QByteArray& bytes) {
        if (w.rx->State().FileReceivingPos > 20000)
            w.a.hold = true;
        return bytes;
    };
    w.Send("big.bin", RandomBytes(300000, 3));
    ASSERT_TRUE(WaitFor([&] { return !w.a.held.isEmpty(); }, 10000));
    w.b.lineFilter = nullptr;

    // While the Receiver's question is open, the answers held so far reach
    // the Sender, which streams on until the Receiver's Stop reaches it; with
    // the Sender's Stop the next run starts meanwhile.
    const qsizetype beforeStop = w.a.held.size();
    bool nextRunStarted = false;
    w.rx->whileBoxOpen = [&] {
        Linger(20);  // a Stop from here joins what waits on the line
        w.a.hold = false;
        const QByteArray held = std::exchange(w.a.held, {});
        w.a.InjectBytes(held.left(beforeStop));
        Linger(100);
        w.a.InjectBytes(held.mid(beforeStop));
        Linger(100);
        if (!receiverStops && !nextRunStarted) {
            nextRunStarted = true;
            w.Send("next.txt", "the next run");
        }
        Linger(100);
    };
    (receiverStops ? w.rx : w.tx)->Button("cmdStop")->click();

    ASSERT_TRUE(WaitFor([&] { return w.rx->SawBoxStartingWith("Delete tempfile '" + w.In("_big.bin.tmp") + "' ?"); },
                        10000));
    EXPECT_GT(QFileInfo(w.In("_big.bin.tmp")).size(), 10000);
    if (receiverStops) {
        ASSERT_TRUE(WaitFor([&] { return w.tx->Label("lblStatus2") == "other side pressed Stop"; }, 10000));
        EXPECT_EQ(w.rx->Label("lblStatus1"), "Status: Not active");
        w.rx->whileBoxOpen = nullptr;
        w.Listen();
        w.Send("next.txt", "the next run");
    }
    ASSERT_TRUE(w.Arrives("next.txt", "the next run")) << w.rx->Label("lblStatus2").toStdString();
    EXPECT_TRUE(QFile::exists(w.In("_big.bin.tmp")));
    EXPECT_FALSE(QFile::exists(w.In("big.bin")));
}

INSTANTIATE_TEST_SUITE_P(ModesAndSides, StopMidFile,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()), [](const auto& c) {
                             return std::string(std::get<0>(c.param) ? "Classic" : "Extended")
                                    + (std::get<1>(c.param) ? "ReceiverStops" : "SenderStops");
                         });

// The Sender's port fails inside a file and stays away: the window says what
// it waits for, and Stop gives the wait up.
TEST(SenderPortGone, TheWindowWaitsForItAndStopGivesUp)
{
    TwoWindows w(false);
    w.Listen();
    w.b.lineFilter = [&](const QByteArray& bytes) {
        if (w.rx->State().FileReceivingPos > 20000 && w.a.failOpenWith.isEmpty()) {
            w.a.failOpenWith = "No such file or directory";
            QMetaObject::invokeMethod(&w.a, [&] { w.a.InjectEvent(PortEvent::Unknown); }, Qt::QueuedConnection);
        }
        return bytes;
    };
    w.Send("big.bin", RandomBytes(300000, 3));
    ASSERT_TRUE(WaitFor([&] { return w.tx->Label("lblStatus2") == "waiting up to 60 s for the port to come back..."; },
                        10000));
    EXPECT_TRUE(w.tx->Enabled("cmdStop"));
    EXPECT_FALSE(w.tx->Enabled("cmdActivate"));
    w.tx->Button("cmdStop")->click();
    EXPECT_EQ(w.tx->Label("lblStatus2"), "Comport error!");
    EXPECT_TRUE(w.tx->SawBoxStartingWith("COMPORT-ERROR: Unknown error or event"));
    EXPECT_FALSE(w.tx->Enabled("cmdStop"));
    EXPECT_TRUE(w.tx->Enabled("cmdActivate"));
}

// The box at the end of a run (dates that could not be set: there is no
// qrnstamp beside these windows) stays open while the next run begins.
TEST(BoxOpenWhileBytesArrive, TheNextRunWaitsForTheEndOfRunBoxAndArrives)
{
    for (bool classic : {false, true}) {
        SCOPED_TRACE(classic);
        TwoWindows w(classic);
        w.Listen();
        int endBoxes = 0;
        w.rx->whileBoxOpen = [&] {
            if (++endBoxes == 1) {
                Linger(50);  // the Sender hears that all arrived
                w.Send("second.txt", "second run");
            }
            Linger(100);
        };
        w.Send("first.txt", "first run");
        ASSERT_TRUE(w.Arrives("first.txt", "first run"));
        ASSERT_TRUE(w.Arrives("second.txt", "second run"));
        EXPECT_TRUE(w.rx->SawBoxStartingWith("Could not set some modified-dates: 1x"));
        EXPECT_TRUE(WaitFor([&] { return w.tx->Label("lblStatus2") == "Files sent: 1"; }, 10000));
    }
}

// "Send a folder..." sends a tree; "Restart a file" continues a file of it in
// its folder, picked below the folder the run was sent from.
TEST(SendAFolder, TheTreeArrivesAndAFileOfItRestartsInItsFolder)
{
    TwoWindows w(false);
    MakeTree(w.tx->dir.path());
    QString startedIn;
    w.tx->w->showOpenFolderDialog = [&](const QString& folder, QString& chosen) {
        startedIn = folder;
        chosen = w.tx->Path("photos");
        return true;
    };
    EXPECT_TRUE(w.tx->Enabled("btnSendFolder"));
    EXPECT_FALSE(w.rx->Enabled("btnSendFolder"));
    w.Listen();
    w.tx->Button("btnSendFolder")->click();
    ASSERT_TRUE(WaitFor([&] { return w.tx->Label("lblStatus2") == "Files sent: 4"; }, 10000))
        << w.tx->Label("lblStatus2").toStdString();
    EXPECT_EQ(startedIn, w.tx->dir.path());
    EXPECT_EQ(TreeListing(w.In("photos")), TreeListing(w.tx->Path("photos")));

    const QByteArray x = WindowHarness::ReadFile(w.tx->Path("photos/x.jpg"));
    QFile::remove(w.In("photos/x.jpg"));
    WindowHarness::WriteFile(w.In("photos/_x.jpg.tmp"), x.left(30000));
    w.tx->nextChoice = QStringList{w.tx->Path("photos/x.jpg")};
    w.tx->Button("btnRestart")->click();
    ASSERT_TRUE(w.Arrives("photos/x.jpg", x)) << w.rx->Label("lblStatus2").toStdString();
    EXPECT_EQ(w.tx->fileDialogs.back().folder, w.tx->dir.path());
}

}  // namespace
