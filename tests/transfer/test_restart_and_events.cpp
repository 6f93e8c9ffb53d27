#include "Frame.h"
#include "ProgramFolders.h"
#include "RestartFile.h"
#include "SettingsFile.h"
#include "StationHarness.h"
#include "TestFiles.h"
#include "WrittenBlocks.h"
#include <QFile>
#include <gtest/gtest.h>

namespace {
QByteArray Pattern(qsizetype n)
{
    QByteArray b(n, '\0');
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char((i * 7 + i / 251) & 0xff);
    return b;
}

struct RestartFixture : ::testing::Test {
    StationPair pair;
    QTemporaryDir sendDir;
    StationHarness& tx = pair.sender;
    StationHarness& rx = pair.receiver;
    const QByteArray content = Pattern(12000);

    void SetUp() override
    {
        pair.Classic();  // answers are held one by one: stop-and-wait
        WriteFile(BuildPath(sendDir.path(), "big.bin"), content);
    }
    // Holds the receiver's answers at the sender once the receiver has passed pos.
    void HoldSenderWhenReceiverPasses(qint32 pos)
    {
        rx.port.lineFilter = [this, pos](const QByteArray& w) {
            if (rx.s().FileReceivingPos > pos)
                tx.port.hold = true;
            return w;
        };
    }
    void SendBig(bool restart)
    {
        tx.ui.nextDialogResult = BuildPath(sendDir.path(), "big.bin");
        tx.station->Activate(restart);
    }
};
}  // namespace

TEST_F(RestartFixture, StoppedTransferContinuesWithRestartAFile)
{
    rx.station->Activate(false);
    HoldSenderWhenReceiverPasses(5121);
    SendBig(false);
    ASSERT_TRUE(WaitFor([&] { return !tx.port.held.isEmpty(); }));
    tx.station->StopByUser();
    tx.port.hold = false;
    rx.port.lineFilter = nullptr;
    EXPECT_FALSE(tx.port.PortOpen());
    EXPECT_TRUE(tx.ui.boxes.empty());  // the sender is never asked about a temp file
    ASSERT_TRUE(WaitFor([&] { return rx.ui.status2 == "other side pressed Stop"; }));
    ASSERT_EQ(rx.ui.boxes.size(), 1u);  // answered No: the temp file stays
    EXPECT_TRUE(rx.ui.boxes[0].text.startsWith("Delete tempfile '"));
    EXPECT_EQ(rx.ui.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_TRUE(rx.port.PortOpen());
    const qint64 kept = QFileInfo(rx.InReceivePath("_big.bin.tmp")).size();
    EXPECT_GT(kept, 5000);

    SendBig(true);
    EXPECT_EQ(tx.ui.lastDialogTitle, "Restart sending one file (other side must have the .tmp):");
    EXPECT_FALSE(tx.ui.lastDialogMulti);
    ASSERT_TRUE(WaitFor([&] { return !tx.port.PortOpen(); }));
    EXPECT_EQ(tx.ui.status2, "Files sent: 1");
    EXPECT_EQ(ReadFile(rx.InReceivePath("big.bin")), content);
}

TEST_F(RestartFixture, RestartWithoutTempFileOrWithTooLongOneFails)
{
    rx.station->Activate(false);
    SendBig(true);
    ASSERT_TRUE(WaitFor([&] { return !tx.port.PortOpen(); }));
    EXPECT_EQ(rx.ui.status2, "Restart: could not open tmpfile for this file!");
    EXPECT_TRUE(tx.ui.SawBoxContaining("ERROR from other side: Restart: could not open tmpfile for this file!"));

    WriteFile(rx.InReceivePath("_big.bin.tmp"), Pattern(12000));  // already complete: position 12001
    rx.station->Activate(false);
    SendBig(true);
    ASSERT_TRUE(WaitFor([&] { return !rx.port.PortOpen(); }));
    EXPECT_EQ(tx.ui.status2, "Restart: weird filepos _file.tmp other side; seems not to be correct file");
}

// lostAnswer: the port fails after the receiver answered a block (the sender repeats it);
// otherwise the sender's next block is lost with the port. The receiver runs from a
// program folder of the given kind.
class ResumeFixture : public RestartFixture, public ::testing::WithParamInterface<std::tuple<bool, FolderKind>> {};

std::string ResumeCaseName(const ::testing::TestParamInfo<std::tuple<bool, FolderKind>>& info)
{
    return std::string(std::get<0>(info.param) ? "LostAnswer" : "LostBlock") + "In"
           + FolderKindName({std::get<1>(info.param), info.index});
}

TEST_P(ResumeFixture, PortErrorInsideAFileRestartsAndTheNewInstanceResumes)
{
    const auto [lostAnswer, kind] = GetParam();
    ProgramFolder folder(kind);
    rx.g.programDir = folder.program;
    rx.station->Activate(false);
    bool started = false, ended = false;
    rx.station->startOwnProgram = [&] { return started = true; };
    rx.station->endProgramNow = [&] { ended = true; };
    rx.station->restartDelayMs = 0;
    if (lostAnswer) {
        HoldSenderWhenReceiverPasses(2561);
    } else {
        rx.port.lineFilter = [this](const QByteArray& w) {
            if (rx.s().FileReceivingPos > 2561)
                rx.port.hold = true;
            return w;
        };
    }
    SendBig(false);
    MemoryCommPort& lostAt = lostAnswer ? tx.port : rx.port;
    ASSERT_TRUE(WaitFor([&] { return !lostAt.held.isEmpty(); }));
    lostAt.held.clear();  // gone with the port
    lostAt.hold = false;
    rx.port.InjectEvent(PortEvent::Framing);
    ASSERT_TRUE(WaitFor([&] { return started && ended; }));
    EXPECT_FALSE(rx.port.PortOpen());
    EXPECT_TRUE(rx.station->m_settingsSaved);
    const QString restartFile = RestartFilePath(rx.g.RestartDir());
    EXPECT_EQ(restartFile, BuildPath(folder.expectedRestart, "_qrn_receive_restart_.tmp"));
    EXPECT_TRUE(QFile::exists(BuildPath(folder.expected, "qrn.ini")));
    const QByteArray lines = ReadFile(restartFile);
    EXPECT_TRUE(lines.startsWith("FILENAME: big.bin\r\nFILEPOS: "));
    EXPECT_EQ(lines.count("\r\n"), 15);
    EXPECT_TRUE(lines.contains("M_NCOUNTCOMMERR: 1\r\n"));

    // The new instance, started in the same program folder, resumes at once.
    StationHarness again(true, rx.g.programDir, &tx.port);
    EXPECT_FALSE(QFile::exists(restartFile));  // read and deleted
    EXPECT_TRUE(again.port.PortOpen());
    EXPECT_EQ(again.ui.status1, "Status: Active");
    ASSERT_TRUE(WaitFor([&] { return !tx.port.PortOpen(); }));
    EXPECT_EQ(tx.ui.status2, "Files sent: 1");
    EXPECT_EQ(ReadFile(rx.InReceivePath("big.bin")), content);
    EXPECT_EQ(again.startedPrograms.size(), 1);
    // The counters went on from the saved ones and were shown at "END".
    EXPECT_TRUE(again.ui.SawBoxContaining("CommError: 1"));
}

INSTANTIATE_TEST_SUITE_P(BothLosses, ResumeFixture,
                         ::testing::Values(std::tuple{false, FolderKind::Writable}, std::tuple{true, FolderKind::Writable},
                                           std::tuple{false, FolderKind::ReadOnly},
                                           std::tuple{false, FolderKind::ReadOnlyWithIni}),
                         ResumeCaseName);

TEST_F(RestartFixture, PortErrorBetweenFilesOrWhenRestartFailsIsErrorEleven)
{
    rx.station->Activate(false);
    rx.port.InjectEvent(PortEvent::Parity);
    ASSERT_TRUE(WaitFor([&] { return !rx.port.PortOpen(); }));
    EXPECT_EQ(rx.ui.status2, "Comport error!");
    EXPECT_EQ(rx.ui.BoxTexts(), QStringList{"COMPORT-ERROR: Parity Error"});
    EXPECT_FALSE(QFile::exists(RestartFilePath(rx.g.RestartDir())));

    rx.ui.boxes.clear();
    QCoreApplication::processEvents();  // the error answer went nowhere: nobody listened
    tx.port.held.clear();
    rx.station->Activate(false);
    rx.station->startOwnProgram = [] { return false; };
    rx.station->restartDelayMs = 0;
    HoldSenderWhenReceiverPasses(1);
    SendBig(false);
    ASSERT_TRUE(WaitFor([&] { return !tx.port.held.isEmpty(); })) << rx.ui.BoxTexts().join("|").toStdString() << tx.ui.BoxTexts().join("|").toStdString();
    rx.port.InjectEvent(PortEvent::Unknown);
    EXPECT_FALSE(rx.port.PortOpen());
    ASSERT_TRUE(WaitFor([&] { return !rx.ui.boxes.empty(); }));
    EXPECT_EQ(rx.ui.BoxTexts(), QStringList{"COMPORT-ERROR: Unknown error or event"});
    EXPECT_TRUE(QFile::exists(RestartFilePath(rx.g.RestartDir())));  // kept for the next start
}

TEST_F(RestartFixture, LineEventsOnlyShowText)
{
    rx.station->Activate(false);
    rx.port.InjectEvent(PortEvent::CtsChanged);
    EXPECT_EQ(rx.ui.status2, "Change in CTS Detected");
    rx.ui.status2 = "unchanged";
    rx.port.InjectEvent(PortEvent::Send);
    rx.port.InjectEvent(PortEvent::Receive);  // nothing waiting
    EXPECT_EQ(rx.ui.status2, "unchanged");
    EXPECT_TRUE(rx.port.PortOpen());
    EXPECT_TRUE(rx.ui.boxes.empty());
}

TEST_F(RestartFixture, WatchdogOkStartsAgainFromSequenceOneAndCancelCloses)
{
    SendBig(false);  // nobody listens
    ASSERT_TRUE(tx.station->WatchdogActive());
    tx.ui.answers = {MsgAnswer::Ok, MsgAnswer::Cancel};
    tx.station->Sender().WatchdogTick();
    EXPECT_EQ(tx.port.writes, 1);  // asked after the rule, not inside it
    DeliverQueued();
    EXPECT_TRUE(tx.station->WatchdogActive());
    EXPECT_EQ(tx.s().sequenceNr, 1);
    EXPECT_EQ(tx.port.writes, 2);  // the same header again
    EXPECT_TRUE(tx.ui.boxes[0].text.startsWith("There seems no Velotrax-listener at other side activated;\r\n"));
    tx.station->Sender().WatchdogTick();
    DeliverQueued();
    EXPECT_FALSE(tx.port.PortOpen());
    EXPECT_FALSE(tx.station->WatchdogActive());
}

TEST(RestartFileContent, RoundTripAndTolerantReading)
{
    TransferState s;
    AnnouncedFile f{"a:b.txt", {}, 3000, 20070315143055.0};
    s.FileReceivingPos = 2561;
    s.lastSequenceNr = -5;
    s.countCommErr = 2;
    const QByteArray text = RestartFileContent(s, f);
    EXPECT_TRUE(text.startsWith("FILENAME: a:b.txt\r\nFILEPOS: 2561\r\nFILESIZE: 3000\r\nFILEDATE: 20070315143055\r\nSEQNR: -5\r\n"));
    EXPECT_TRUE(text.endsWith("M_NCOUNTCOMMERR: 2\r\n"));
    TransferState back;
    AnnouncedFile backFile;
    ParseRestartFile(text, back, backFile);
    EXPECT_EQ(backFile.name, "a:b.txt");  // a colon in the value survives
    EXPECT_EQ(back.FileReceivingPos, 2561);
    EXPECT_EQ(backFile.date, 20070315143055.0);
    EXPECT_EQ(back.lastSequenceNr, -5);
    EXPECT_EQ(back.countCommErr, 2);

    TransferState tolerant;
    AnnouncedFile tolerantFile;
    tolerantFile.size = 77;
    ParseRestartFile("m_ncountcommerr: 4\r\nno colon line\r\n  filepos : 9 \r\nWHATEVER: 1\r\nseqnr: 3", tolerant,
                     tolerantFile);
    EXPECT_EQ(tolerant.countCommErr, 4);
    EXPECT_EQ(tolerant.FileReceivingPos, 9);
    EXPECT_EQ(tolerant.lastSequenceNr, 3);
    EXPECT_EQ(tolerantFile.size, 77);  // missing key keeps its value
}

TEST(RestartReceiving, RefusesPositionsThatWouldLeaveAGapOrOverwrite)
{
    struct Case {
        const char* filepos;
        qsizetype tempBytes;
        bool resumes;
    } cases[] = {{"", 10, false}, {"0", 10, false}, {"-3", 10, false}, {"12", 10, false},
                 {"11", 10, true}, {"5", 10, true}, {"1", 0, true}};
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString in = BuildPath(dir.path(), "in");
        QDir().mkpath(in);
        WriteFile(BuildPath(dir.path(), "qrn.ini"), ("RECEIVEPATH: " + in + "\r\nI_AM: 1\r\n").toLocal8Bit());
        if (c.tempBytes > 0)
            WriteFile(BuildPath(in, "_f.bin.tmp"), QByteArray(c.tempBytes, 'k'));
        QByteArray restart = "FILENAME: f.bin\r\nFILESIZE: 100\r\n";
        if (*c.filepos)
            restart += QByteArray("FILEPOS: ") + c.filepos + "\r\n";
        WriteFile(BuildPath(dir.path(), "_qrn_receive_restart_.tmp"), restart);

        StationHarness h(true, dir.path());
        EXPECT_EQ(h.port.PortOpen(), c.resumes) << "FILEPOS '" << c.filepos << "'";
        if (!c.resumes) {
            // The console program's resumption shows the same text.
            EXPECT_EQ(h.ui.BoxTexts(),
                      QStringList{"ERROR: Restarting: the restart file does not match the temp file '"
                                  + BuildPath(in, "_f.bin.tmp") + "' (position " + QString::number(atoi(c.filepos))
                                  + ", temp file has 10 bytes); the temp file is kept for 'Restart a file'."});
        }
        EXPECT_EQ(h.ui.boxes.empty(), c.resumes) << "FILEPOS '" << c.filepos << "'";
        if (c.tempBytes > 0) {
            EXPECT_EQ(ReadFile(BuildPath(in, "_f.bin.tmp")), QByteArray(c.tempBytes, 'k'));  // untouched
        }
        if (c.resumes) {
            const auto written = h.port.written;
            bool esc = false;
            const QByteArray answer = UnstuffAll(written, esc);
            EXPECT_EQ(answer.left(2), QByteArray("A\x5f"));  // ANSWER_RESEND_BLOCK
        }
    }
}

TEST(RestartReceiving, EmptyNameUsesUnderscoreTempFile)
{
    EXPECT_EQ(ReceiverSide::TempFilePath("/in", ""), "/in/_.tmp");
    EXPECT_EQ(ReceiverSide::TempFilePath("/in", "report.pdf"), "/in/_report.pdf.tmp");
}

TEST(RestartReceiving, ANewRunWhileAResumptionWaitsIsReceivedAndTheOldTempFileKept)
{
    // The restart file says the header of x.bin (number 1) was the last block;
    // a fresh run's header also carries 1, but it names another file.
    QTemporaryDir dir;
    const QString in = BuildPath(dir.path(), "in");
    QDir().mkpath(in);
    WriteFile(BuildPath(dir.path(), "qrn.ini"), ("RECEIVEPATH: " + in + "\r\nI_AM: 1\r\n").toLocal8Bit());
    WriteFile(BuildPath(in, "_x.bin.tmp"), "XXXXX");
    WriteFile(BuildPath(dir.path(), "_qrn_receive_restart_.tmp"),
              "FILENAME: x.bin\r\nFILEPOS: 1\r\nFILESIZE: 5\r\nSEQNR: 1\r\n");
    StationHarness tx(false);
    StationHarness rx(true, dir.path(), &tx.port);
    ASSERT_TRUE(rx.port.PortOpen());

    const QByteArray y = Pattern(6000);
    WriteFile(BuildPath(tx.dir.path(), "y.bin"), y);
    tx.ui.nextDialogResult = BuildPath(tx.dir.path(), "y.bin");
    tx.station->Activate(false);
    ASSERT_TRUE(WaitFor([&] { return !tx.port.PortOpen(); }));
    EXPECT_EQ(tx.ui.status2, "Files sent: 1");
    EXPECT_EQ(ReadFile(BuildPath(in, "y.bin")), y);
    EXPECT_EQ(ReadFile(BuildPath(in, "_x.bin.tmp")), "XXXXX");
}

// The Sender's port fails inside the second file of a run and comes back.
// cutBlock: the failure cuts its next block short at the Receiver; otherwise
// the Receiver took that block and only its answer was lost with the port.
class SenderPortFixture : public RestartFixture, public ::testing::WithParamInterface<bool> {
protected:
    void FailSenderPortLater()
    {
        QMetaObject::invokeMethod(&tx.port, [this] { tx.port.InjectEvent(PortEvent::Unknown); }, Qt::QueuedConnection);
    }
    bool InsideBig(qint32 pos)
    {
        return rx.station->Receiver().Run().file.name == "big.bin" && rx.s().FileReceivingPos >= pos;
    }
    bool failed = false;
};

TEST_P(SenderPortFixture, TheSameRunGoesOnThroughARestartHeaderNumberedOn)
{
    const bool cutBlock = GetParam();
    WriteFile(BuildPath(sendDir.path(), "a.txt"), "first");
    rx.station->Activate(false);
    MemoryCommPort& cut = cutBlock ? tx.port : rx.port;
    cut.lineFilter = [this, cutBlock](const QByteArray& w) {
        if (failed || !InsideBig(cutBlock ? 2561 : 5121))
            return w;
        failed = true;
        FailSenderPortLater();
        return cutBlock ? w.left(w.size() / 2) : QByteArray();
    };
    tx.ui.nextDialogResult = sendDir.path() + QChar(0) + "a.txt" + QChar(0) + "big.bin";
    tx.station->Activate(false);
    ASSERT_TRUE(WaitFor([&] { return !tx.ui.outcomes.empty(); }));
    EXPECT_TRUE(failed);
    EXPECT_EQ(tx.ui.outcomes.back(), RunOutcome::Done(2)) << tx.ui.BoxTexts().join('|').toStdString();
    EXPECT_TRUE(tx.ui.status2History.contains("waiting up to 60 s for the port to come back..."));
    EXPECT_TRUE(tx.ui.status2History.contains("the port is back; going on with 'big.bin'"));
    EXPECT_EQ(ReadFile(rx.InReceivePath("big.bin")), content);
    EXPECT_EQ(ReadFile(rx.InReceivePath("a.txt")), "first");
    // Not a new run: the Receiver counted both files, and left nothing unfinished.
    ASSERT_TRUE(WaitFor([&] { return rx.ui.status2 == "Files received: 2"; }));
    for (const QString& text : rx.ui.status2History)
        EXPECT_FALSE(text.contains("left unfinished")) << text.toStdString();
    // Header 1, data 2, end 3; header 4, data 5 and 6, then the restart header.
    std::vector<qint32> restarts;
    for (const QByteArray& b : Blocks(tx.port))
        if (const auto block = ParseDataBlock(b); block && block->type == BLOCK_RESTART_HEADER)
            restarts.push_back(block->sequenceNrA);
    EXPECT_EQ(restarts, std::vector<qint32>{7});
}

std::string LossName(const ::testing::TestParamInfo<bool>& info)
{
    return info.param ? "CutBlock" : "LostAnswer";
}

INSTANTIATE_TEST_SUITE_P(CutOrAnswerLost, SenderPortFixture, ::testing::Bool(), LossName);

// The Sender's port fails inside big.bin and does not come back.
struct LostPortFixture : RestartFixture {
    bool failed = false;
    void LoseTheSendersPortForGood()
    {
        rx.station->Activate(false);
        tx.port.lineFilter = [this](const QByteArray& w) {
            if (!failed && rx.s().FileReceivingPos > 2561) {
                failed = true;
                tx.port.failOpenWith = "No such file or directory";
                QMetaObject::invokeMethod(&tx.port, [this] { tx.port.InjectEvent(PortEvent::Unknown); },
                                          Qt::QueuedConnection);
            }
            return w;
        };
        SendBig(false);
        ASSERT_TRUE(WaitFor([&] { return tx.station->WaitingForPort(); }));
    }
};

TEST_F(LostPortFixture, StopWhileTheSenderWaitsForItsPortEndsTheRunWithError11)
{
    LoseTheSendersPortForGood();
    ASSERT_TRUE(WaitFor([&] { return tx.ui.status2 == "waiting up to 60 s for the port to come back..."; }));
    EXPECT_FALSE(tx.port.PortOpen());
    EXPECT_TRUE(tx.ui.portOpenSeen);  // Stop stays enabled
    EXPECT_TRUE(tx.ui.outcomes.empty());
    tx.station->StopByUser();
    EXPECT_FALSE(tx.station->WaitingForPort());
    ASSERT_EQ(tx.ui.outcomes.size(), 1u);
    EXPECT_EQ(tx.ui.outcomes[0], RunOutcome::Failed(11, RunOutcome::Side::Here));
    EXPECT_EQ(tx.ui.status2, "Comport error!");
    EXPECT_EQ(tx.ui.BoxTexts(), QStringList{"COMPORT-ERROR: Unknown error or event"});
    EXPECT_FALSE(tx.ui.portOpenSeen);
}

TEST_F(LostPortFixture, APortThatDoesNotComeBackEndsTheRunWithError11AfterTheWait)
{
    LoseTheSendersPortForGood();
    const qint64 since = TestClock().NowMs();
    ASSERT_TRUE(WaitFor([&] { return !tx.ui.outcomes.empty(); }));
    EXPECT_EQ(tx.ui.outcomes[0], RunOutcome::Failed(11, RunOutcome::Side::Here));
    // Its 60 s on the test clock, tried every 200 ms.
    EXPECT_GE(TestClock().NowMs() - since, 59800);
    EXPECT_LE(TestClock().NowMs() - since, 60400);
    EXPECT_FALSE(tx.station->WaitingForPort());
}
