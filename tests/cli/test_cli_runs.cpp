// Real runs of velotrax-cli: usage and exit statuses, and transfers through the
// virtual null-modem cable between two console programs, and between the
// console program and a station of the desktop core in this process.
#include "Fso.h"
#include "RecordingUi.h"
#include "SerialCommPort.h"
#include "Station.h"
#include "TestSupport.h"
#include "CliCable.h"
#include "cable_process.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <pty.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>

// Readable failures for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {
using namespace clitest;

TEST(CliUsage, BadUsageHelpAndVersion)
{
    Cli none;
    EXPECT_EQ(RunToEnd(none, {}), 2);
    EXPECT_TRUE(none.Err().contains("velotrax-cli: no command given")) << none.err.toStdString();
    EXPECT_TRUE(none.err.contains("Try 'velotrax-cli --help'."));

    QTemporaryDir dir;
    Cli missing;
    EXPECT_EQ(RunToEnd(missing, {"send", "--port", dir.filePath("A"), dir.filePath("nothing.bin")}), 2);
    EXPECT_TRUE(missing.Err().contains("no such file"));

    Cli help;
    EXPECT_EQ(RunToEnd(help, {"receive", "--help"}), 0);
    const QString usage = QString::fromLocal8Bit(help.p.readAllStandardOutput());
    EXPECT_TRUE(usage.startsWith("Usage:")) << usage.toStdString();
    EXPECT_TRUE(usage.contains("Exit status"));

    Cli version;
    EXPECT_EQ(RunToEnd(version, {"--version"}), 0);
    EXPECT_EQ(version.p.readAllStandardOutput(), "velotrax-cli 1.00\n");

    Cli ports;
    EXPECT_EQ(RunToEnd(ports, {"ports"}), 0);
    const QByteArray listing = ports.p.readAllStandardOutput();
    EXPECT_TRUE(listing.startsWith("Device ") || listing == "No serial ports found.\n") << listing.toStdString();
}

// A device node of the usual serial group, opened by a user outside it.
TEST(CliUsage, APortTheUserMayNotUseNamesItsGroupAndTheCommandThatGrantsIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the program as another user";
    const passwd* nobody = ::getpwnam("nobody");
    const group* serial = ::getgrnam("dialout");
    ASSERT_TRUE(nobody && serial);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    ASSERT_EQ(::chown(name, 0, serial->gr_gid), 0);
    ASSERT_EQ(::chmod(name, 0660), 0);
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(dir.path().toLocal8Bit().constData(), 0777), 0);

    Cli c;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path());
    c.p.setProcessEnvironment(env);
    c.p.setChildProcessModifier([uid, gid] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(99);
    });
    EXPECT_EQ(RunToEnd(c, {"receive", "--port", QString::fromLocal8Bit(name), dir.path()}), 1) << c.Err().toStdString();
    EXPECT_TRUE(c.Err().contains("Permission denied")) << c.err.toStdString();
    EXPECT_TRUE(c.err.contains("group \"dialout\"")) << c.err.toStdString();
    EXPECT_TRUE(c.err.contains("sudo usermod -aG dialout $USER")) << c.err.toStdString();
    ::close(master);
}

TEST(CliUsage, RefusalsBeforeAnyTransferEndWithStatus1AndTheDesktopTexts)
{
    QTemporaryDir dir;
    Cli noFolder;
    EXPECT_EQ(RunToEnd(noFolder, {"receive", "--port", dir.filePath("A"), dir.filePath("absent")}), 1);
    EXPECT_TRUE(noFolder.Err().contains("Path '" + dir.filePath("absent") + "': not found")) << noFolder.err.toStdString();
    // Unwritable even for root.
    Cli unwritable;
    EXPECT_EQ(RunToEnd(unwritable, {"receive", "--port", dir.filePath("A"), "/proc/1"}), 1);
    ASSERT_NE(::access("/proc/1", W_OK | X_OK), 0);
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    EXPECT_TRUE(unwritable.Err().contains("Path '/proc/1': cannot write into it: " + reason + "\n"))
        << unwritable.err.toStdString();

    const QString file = dir.filePath("f.txt");
    WriteDated(file, "x");
    Cli noPort;
    EXPECT_EQ(RunToEnd(noPort, {"send", "--port", dir.filePath("no-such-tty"), file}), 1);
    EXPECT_TRUE(noPort.Err().contains("Error opening the port: " + dir.filePath("no-such-tty")))
        << noPort.err.toStdString();
}

TEST_F(CliCable, SeveralFilesFromConsoleToConsoleAt115200)
{
    StartCable({"--baud", "115200"});
    const std::vector<std::pair<QString, QByteArray>> files = {
        {"a.bin", RandomBytes(3000, 1)}, {"empty.txt", {}}, {"block.bin", RandomBytes(2560, 2)},
        {"with blank.txt", "a name with a blank\r\n"}};
    QStringList args;
    for (const auto& [name, content] : files) {
        WriteDated(Out(name), content);
        args << Out(name);
    }
    QFile older(In("a.bin"));
    ASSERT_TRUE(older.open(QIODevice::WriteOnly));
    older.write("an older a.bin is replaced");
    older.close();

    Cli rx, tx;
    StartReceiver(rx, {"--once"});
    EXPECT_EQ(RunToEnd(tx, SendArgs(args)), 0) << tx.Err().toStdString();
    EXPECT_TRUE(tx.Err().contains("Files sent: 4\n"));
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 0) << rx.Err().toStdString();
    EXPECT_TRUE(rx.Err().contains("Files received: 4\n"));
    EXPECT_EQ(rx.err.count("velotrax-cli: listening on " + linkB + " at 115200 baud, receiving into " + inDir + "\n"), 1)
        << rx.err.toStdString();

    for (const auto& [name, content] : files) {
        EXPECT_EQ(ReadFile(In(name)), content) << name.toStdString();
        EXPECT_TRUE(GetsTheSendersDate(In(name))) << name.toStdString();
    }
    EXPECT_EQ(QDir(inDir).entryList(QDir::Files).size(), 4);  // no temp files left
}

// A station of the desktop core in this process, on its own COM1 link.
struct CoreStation {
    QTemporaryDir dir;
    Globals g;
    std::unique_ptr<SerialCommPort> port;
    RecordingUi ui;
    std::unique_ptr<Station> station;

    QString Link() const { return dir.filePath("COM1"); }
    void Start(bool receiver, const QString& receivePath)
    {
        QFile::link(QStringLiteral(QRNSTAMP_EXE), dir.filePath("qrnstamp"));
        g.programDir = dir.path();
        port = std::make_unique<SerialCommPort>(dir.path());
        station = std::make_unique<Station>(g, *port, ui);
        station->StartUp();
        g.waitBeforeSend = 0;
        ui.receivePathText = receivePath;
        ui.senderSelected = !receiver;
    }
};

TEST_F(CliCable, ConsoleSendsToTheDesktopCore)
{
    CoreStation core;
    StartCable({"--baud", "0"}, {}, core.Link());
    core.Start(true, inDir);
    core.station->Activate(false);
    ASSERT_TRUE(core.port->PortOpen()) << core.ui.BoxTexts().join('|').toStdString();

    WriteDated(Out("one.bin"), RandomBytes(6000, 3));
    WriteDated(Out("two.txt"), "two");
    Cli tx;
    tx.Start(SendArgs({"--wait-ms", "0", Out("one.bin"), Out("two.txt")}));
    ASSERT_TRUE(tx.Ends());
    EXPECT_EQ(tx.Code(), 0) << tx.Err().toStdString();
    EXPECT_EQ(core.ui.status2, "Files received: 2");
    EXPECT_TRUE(core.ui.boxes.empty()) << core.ui.BoxTexts().join('|').toStdString();
    EXPECT_TRUE(core.port->PortOpen());  // still listening
    EXPECT_EQ(ReadFile(In("one.bin")), ReadFile(Out("one.bin")));
    EXPECT_EQ(ReadFile(In("two.txt")), "two");
    EXPECT_TRUE(GetsTheSendersDate(In("one.bin")));
}

TEST_F(CliCable, TheDesktopCoreSendsToTheConsole)
{
    CoreStation core;
    StartCable({"--baud", "0"}, core.Link(), {});
    core.Start(false, {});
    WriteDated(Out("one.bin"), RandomBytes(7000, 4));
    WriteDated(Out("two.txt"), "two");

    Cli rx;
    StartReceiver(rx, {"--once", "--wait-ms", "0"});
    core.ui.nextDialogResult = outDir + QChar(0) + "one.bin" + QChar(0) + "two.txt";
    core.station->Activate(false);
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 0) << rx.Err().toStdString();
    ASSERT_TRUE(WaitFor([&] { return !core.port->PortOpen(); }, kDeadlineMs));
    EXPECT_EQ(core.ui.status2, "Files sent: 2");
    EXPECT_EQ(ReadFile(In("one.bin")), ReadFile(Out("one.bin")));
    EXPECT_EQ(ReadFile(In("two.txt")), "two");
    EXPECT_TRUE(GetsTheSendersDate(In("two.txt")));
}

TEST_F(CliCable, ResumesInTheSameProcessAfterTheReceivingEndHangsUpInsideAFile)
{
    const QString besideProgram = QFileInfo(QStringLiteral(VELOTRAX_CLI_EXE)).absolutePath() + "/qrn.ini";
    const bool iniBefore = QFile::exists(besideProgram);
    StartCable({"--baud", "0", "--hangup-b-after", "12000"});
    const QByteArray content = RandomBytes(40000, 5);
    WriteDated(Out("big.bin"), content);

    Cli rx, tx;
    StartReceiver(rx, {"--once", "--progress", "--reopen-timeout", "10"});
    tx.Start(SendArgs({Out("big.bin")}));
    ASSERT_TRUE(cable.waitForRelink('B', std::chrono::seconds(10))) << rx.Err().toStdString();
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 0) << rx.Err().toStdString();
    ASSERT_TRUE(tx.Ends());
    EXPECT_EQ(tx.Code(), 0) << tx.Err().toStdString();

    const QString log = rx.Err();
    EXPECT_TRUE(log.contains("Unknown error or event\n")) << log.toStdString();
    EXPECT_TRUE(log.contains("continuing 'big.bin' at byte "));
    EXPECT_TRUE(log.contains("big.bin  100%  40000/40000 bytes"));
    EXPECT_TRUE(log.contains("CommError: 1"));  // the counters carried over the resumption
    EXPECT_TRUE(log.contains("Files received: 1\n"));
    EXPECT_EQ(ReadFile(In("big.bin")), content);
    EXPECT_FALSE(QFile::exists(In("_big.bin.tmp")));
    EXPECT_EQ(QDir(inDir).entryList(QDir::Files), QStringList{"big.bin"});
    if (!iniBefore) {
        EXPECT_FALSE(QFile::exists(besideProgram)) << "the console program wrote a qrn.ini beside itself";
    }
}

TEST_F(CliCable, APortThatDoesNotComeBackEndsTheReceiverWithError11AndKeepsTheTempFile)
{
    StartCable({"--baud", "0", "--hangup-b-after", "12000"});
    const QString myLink = dir.filePath("L");
    ASSERT_TRUE(QFile::link(linkB, myLink));
    WriteDated(Out("big.bin"), RandomBytes(40000, 9));

    Cli rx, tx;
    rx.Start({"receive", "--port", myLink, "-v", "--once", "--reopen-timeout", "0", inDir});
    ASSERT_TRUE(rx.Shows("listening ..."));
    // The open port goes on working; opening it again finds nothing.
    ASSERT_TRUE(QFile::remove(myLink));
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), myLink));
    tx.Start(SendArgs({Out("big.bin")}));
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 11) << rx.Err().toStdString();
    EXPECT_TRUE(rx.Err().contains("the port did not come back: "));
    EXPECT_TRUE(rx.err.contains("Comport error!\n")) << rx.err.toStdString();
    EXPECT_TRUE(rx.err.contains("COMPORT-ERROR: Unknown error or event\n"));
    EXPECT_GT(QFileInfo(In("_big.bin.tmp")).size(), 0);  // kept for a restart

    // The sender waits for an answer without limit, as it does after any loss of the other side.
    EXPECT_TRUE(tx.Running());
    tx.Signal(SIGTERM);
    ASSERT_TRUE(tx.Ends());
    EXPECT_EQ(tx.Code(), 130);
}

TEST_F(CliCable, ASendersPortThatDoesNotComeBackEndsItWithStatus11)
{
    StartCable({"--baud", "115200", "--hangup-a-after", "12000"});
    const QString myLink = dir.filePath("L");
    ASSERT_TRUE(QFile::link(linkA, myLink));
    WriteDated(Out("big.bin"), RandomBytes(40000, 9));

    Cli rx, tx;
    StartReceiver(rx);
    tx.Start({"send", "--port", myLink, "-v", "--reopen-timeout", "1", Out("big.bin")});
    ASSERT_TRUE(tx.Shows("Status: Active"));
    // The open port goes on working; opening it again finds nothing.
    ASSERT_TRUE(QFile::remove(myLink));
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), myLink));
    ASSERT_TRUE(tx.Ends());
    EXPECT_EQ(tx.Code(), 11) << tx.Err().toStdString();
    EXPECT_TRUE(tx.Err().contains("waiting up to 1 s for " + myLink + " to come back...\n")) << tx.err.toStdString();
    EXPECT_TRUE(tx.err.contains("the port did not come back: "));
    EXPECT_TRUE(tx.err.contains("Comport error!\n"));
    EXPECT_TRUE(tx.err.contains("COMPORT-ERROR: Unknown error or event\n"));
    EXPECT_GT(QFileInfo(In("_big.bin.tmp")).size(), 0);  // kept for a restart
}

// The checks a new desktop instance makes: a temp file that changed while the
// port was away is not continued, with the same text, and the run ends.
TEST_F(CliCable, AResumptionTheTempFileNoLongerFitsIsRefusedWithTheDesktopText)
{
    StartCable({"--baud", "0", "--hangup-b-after", "12000"});
    const QString myLink = dir.filePath("L");
    ASSERT_TRUE(QFile::link(linkB, myLink));
    WriteDated(Out("big.bin"), RandomBytes(40000, 9));

    Cli rx, tx;
    rx.Start({"receive", "--port", myLink, "-v", "--once", "--reopen-timeout", "60", inDir});
    ASSERT_TRUE(rx.Shows("listening ..."));
    // Held away until the temp file has been cut short.
    ASSERT_TRUE(QFile::remove(myLink));
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), myLink));
    tx.Start(SendArgs({Out("big.bin")}));
    ASSERT_TRUE(rx.Shows("waiting up to 60 s for it to come back")) << rx.err.toStdString();
    ASSERT_TRUE(QFile::resize(In("_big.bin.tmp"), 0));
    ASSERT_TRUE(QFile::remove(myLink));
    ASSERT_TRUE(QFile::link(linkB, myLink));
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 1) << rx.Err().toStdString();
    EXPECT_TRUE(rx.Err().contains("ERROR: Restarting: the restart file does not match the temp file '"
                                  + In("_big.bin.tmp") + "' (position "))
        << rx.err.toStdString();
    EXPECT_TRUE(rx.err.contains(", temp file has 0 bytes); the temp file is kept for 'Restart a file'.\n"));
    EXPECT_FALSE(rx.err.contains("continuing"));
    EXPECT_TRUE(QFile::exists(In("_big.bin.tmp")));
    tx.Signal(SIGTERM);
    ASSERT_TRUE(tx.Ends());
}

TEST_F(Interrupted, CtrlCOnTheSenderStopsItAndTheReceiverListensOn)
{
    Cli rx, tx;
    StartReceiver(rx, {"--progress"});
    tx.Start(slowSend);
    ASSERT_TRUE(rx.Shows("big.bin ")) << rx.err.toStdString();  // the file is moving
    tx.Signal(SIGINT);
    ASSERT_TRUE(tx.Ends());
    EXPECT_EQ(tx.Code(), 130) << tx.Err().toStdString();
    EXPECT_TRUE(tx.Err().contains("interrupted"));

    ASSERT_TRUE(rx.Shows("other side pressed Stop\n")) << rx.err.toStdString();
    ASSERT_TRUE(rx.Shows("listening..."));
    for (const QString& out : {rx.Err(), tx.Err()})  // a console speaks like one
        EXPECT_FALSE(out.contains("press OK") || out.contains("Note:")) << out.toStdString();
    EXPECT_TRUE(rx.Err().contains("velotrax-cli: the temp file '" + In("_big.bin.tmp")
                                  + "' is kept for send --restart (--delete-temp deletes it)\n"));
    EXPECT_TRUE(QFile::exists(In("_big.bin.tmp")));
    EXPECT_FALSE(QFile::exists(In("big.bin")));

    // Still listening: the next run arrives.
    WriteDated(Out("small.txt"), "small");
    Cli again;
    EXPECT_EQ(RunToEnd(again, SendArgs({Out("small.txt")})), 0) << again.Err().toStdString();
    ASSERT_TRUE(rx.Shows("Files received: 1\n"));
    EXPECT_EQ(ReadFile(In("small.txt")), "small");
    EXPECT_TRUE(rx.Running());

    rx.Signal(SIGINT);
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 130);
}

TEST_F(Interrupted, CtrlCOnTheReceiverStopsTheSenderAndItsTempFileServesARestart)
{
    Cli rx, tx;
    StartReceiver(rx, {"--progress"});
    tx.Start(slowSend);
    ASSERT_TRUE(rx.Shows("big.bin ")) << rx.err.toStdString();
    rx.Signal(SIGINT);
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 130) << rx.Err().toStdString();
    EXPECT_TRUE(rx.Err().contains("is kept for send --restart (--delete-temp deletes it)"));
    ASSERT_TRUE(tx.Ends());
    EXPECT_EQ(tx.Code(), 3) << tx.Err().toStdString();
    EXPECT_TRUE(tx.Err().contains("other side pressed Stop\n"));

    const qint64 kept = QFileInfo(In("_big.bin.tmp")).size();
    ASSERT_GT(kept, 0);
    ASSERT_LT(kept, content.size());
    EXPECT_EQ(ReadFile(In("_big.bin.tmp")), content.left(kept));

    // "Restart a file" from the console: only the rest travels.
    Cli rx2, restart;
    StartReceiver(rx2, {"--once"});
    EXPECT_EQ(RunToEnd(restart, SendArgs({"--restart", "--progress", Out("big.bin")})), 0) << restart.Err().toStdString();
    ASSERT_TRUE(rx2.Ends());
    EXPECT_EQ(rx2.Code(), 0) << rx2.Err().toStdString();
    EXPECT_EQ(ReadFile(In("big.bin")), content);
    EXPECT_FALSE(QFile::exists(In("_big.bin.tmp")));
    EXPECT_TRUE(GetsTheSendersDate(In("big.bin")));
}

TEST_F(CliCable, RestartOfAFileWithoutTempFileEndsBothSidesWithError12)
{
    StartCable({"--baud", "0"});
    WriteDated(Out("never.bin"), RandomBytes(5000, 7));
    Cli rx, tx;
    StartReceiver(rx);  // listening: it reports the error and listens on
    EXPECT_EQ(RunToEnd(tx, SendArgs({"--restart", Out("never.bin")})), 12) << tx.Err().toStdString();
    EXPECT_TRUE(tx.Err().contains("ERROR from other side: Restart: could not open tmpfile for this file!\n"));
    EXPECT_TRUE(tx.Err().contains("velotrax-cli: the other side ended the run with error 12 (Restart: could not open "
                                  "tmpfile for this file!): the receiving side has no temp file of this file to "
                                  "continue; send it without --restart\n"))
        << tx.err.toStdString();
    ASSERT_TRUE(rx.Shows("the run ended with error 12; listening again\n")) << rx.err.toStdString();
    EXPECT_TRUE(rx.Err().contains("Restart: could not open tmpfile for this file!\n"));
    EXPECT_TRUE(rx.err.contains("Restart file: error opening tmpfile '" + In("_never.bin.tmp") + "' "));
    ASSERT_TRUE(rx.Shows("listening ..."));
    EXPECT_TRUE(rx.Running());
}

TEST_F(CliCable, NoListenerAnswersCancelAfterTheRetriesAndEndsWithStatus1)
{
    StartCable({"--baud", "0"});
    WriteDated(Out("f.txt"), "f");
    Cli tx;
    EXPECT_EQ(RunToEnd(tx, SendArgs({"--retries", "0", "--wait-ms", "0", Out("f.txt")})), 1);
    EXPECT_TRUE(tx.Err().contains("velotrax-cli: no receiver answers; giving up (--retries 0)\n"))
        << tx.err.toStdString();
}

}  // namespace
