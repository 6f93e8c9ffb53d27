// Senders that vanish inside a file, in both modes: a listening receiver is
// never locked out of the next run, a sender that dies by a signal tells it,
// and one whose port comes back goes on with the file.
#include "CliCable.h"
#include <gtest/gtest.h>

namespace {
using namespace clitest;

// Runs with the extended mode (false) and with the classic protocol (true).
struct VanishedSender : CliCable, ::testing::WithParamInterface<bool> {
    QByteArray content = RandomBytes(30 * 2560, 6);
    QStringList Mode() const { return GetParam() ? QStringList{"--classic"} : QStringList{}; }
    void Prepare(std::vector<std::string> cableArgs)
    {
        StartCable(std::move(cableArgs));
        WriteDated(Out("big.bin"), content);
    }
    // The big file, with a pause before each block.
    QStringList SlowSend() const { return SendArgs(Mode() + QStringList{"--wait-ms", "40", Out("big.bin")}); }
    // A small file, sent to the end; the exit code.
    int SendSmall(const QString& name)
    {
        WriteDated(Out(name), name.toLocal8Bit());
        Cli tx;
        const int code = RunToEnd(tx, SendArgs(Mode() + QStringList{"--wait-ms", "0", Out(name)}));
        EXPECT_EQ(code, 0) << tx.Err().toStdString();
        return code;
    }
};

TEST_P(VanishedSender, KilledOrHungUpTheReceiverTakesTheNextRun)
{
    Prepare({"--baud", "0"});
    Cli rx;
    StartReceiver(rx, {"--progress"});
    {
        Cli tx;
        tx.Start(SlowSend());
        ASSERT_TRUE(rx.Shows("big.bin ")) << rx.err.toStdString();
        tx.Signal(SIGKILL);
        ASSERT_TRUE(tx.Ends());
    }
    SendSmall("after-kill.txt");
    EXPECT_EQ(ReadFile(In("after-kill.txt")), "after-kill.txt");
    EXPECT_TRUE(rx.Err().contains("'big.bin' was left unfinished at byte ")) << rx.err.toStdString();
    EXPECT_GT(QFileInfo(In("_big.bin.tmp")).size(), 0);

    // The terminal closed under the sender: the receiver hears the Stop.
    Cli hup;
    hup.Start(SlowSend());
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(In("_big.bin.tmp")).size() > 2560 * 3; }, kDeadlineMs));
    hup.Signal(SIGHUP);
    ASSERT_TRUE(hup.Ends());
    EXPECT_EQ(hup.Code(), 130) << hup.Err().toStdString();
    ASSERT_TRUE(rx.Shows("other side pressed Stop\n")) << rx.err.toStdString();
    EXPECT_TRUE(rx.Running());
    rx.Signal(SIGTERM);
    ASSERT_TRUE(rx.Ends());
}

TEST_P(VanishedSender, AResumedReceiverWhoseSenderIsGoneTakesTheNextRun)
{
    Prepare({"--baud", "0", "--hangup-b-after", "12000"});
    Cli rx, tx;
    StartReceiver(rx, {"--reopen-timeout", "10"});
    tx.Start(SlowSend());
    ASSERT_TRUE(cable.waitForRelink('B', std::chrono::seconds(10))) << rx.Err().toStdString();
    tx.Signal(SIGKILL);  // the cable was pulled on both ends
    ASSERT_TRUE(tx.Ends());
    ASSERT_TRUE(rx.Shows("continuing 'big.bin' at byte ")) << rx.err.toStdString();

    SendSmall("after-resume.txt");
    EXPECT_EQ(ReadFile(In("after-resume.txt")), "after-resume.txt");
    SendSmall("and-again.txt");  // nothing of the broken file lingers
    EXPECT_EQ(ReadFile(In("and-again.txt")), "and-again.txt");
    EXPECT_TRUE(QFile::exists(In("_big.bin.tmp")));
}

TEST_P(VanishedSender, ASendersEndThatHangsUpComesBackAndTheFileArrivesIntact)
{
    Prepare({"--baud", "0", "--hangup-a-after", "12000"});
    Cli rx, tx;
    StartReceiver(rx, Mode() + QStringList{"--once"});
    tx.Start(SendArgs(Mode() + QStringList{"--reopen-timeout", "10", Out("big.bin")}));
    ASSERT_TRUE(cable.waitForRelink('A', std::chrono::seconds(10))) << tx.Err().toStdString();
    ASSERT_TRUE(tx.Ends());
    EXPECT_EQ(tx.Code(), 0) << tx.Err().toStdString();
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 0) << rx.Err().toStdString();
    EXPECT_TRUE(tx.Err().contains("Unknown error or event\nwaiting up to 10 s for " + linkA + " to come back...\n"))
        << tx.err.toStdString();
    EXPECT_TRUE(tx.err.contains(linkA + " is back; going on with 'big.bin'\n"));
    EXPECT_EQ(ReadFile(In("big.bin")), content);
    // The same run went on: nothing left unfinished, one file counted.
    EXPECT_FALSE(rx.Err().contains("left unfinished")) << rx.err.toStdString();
    EXPECT_TRUE(rx.err.contains("Files received: 1\n"));
}

INSTANTIATE_TEST_SUITE_P(Modes, VanishedSender, ::testing::Values(false, true),
                         [](const auto& c) { return c.param ? "Classic" : "Extended"; });

TEST_F(Interrupted, ReceiveOnceGivesUpASilentSenderAndKeepsTheTempFile)
{
    Cli rx, tx;
    StartReceiver(rx, {"--once", "--idle-timeout", "1"});
    tx.Start(slowSend);
    ASSERT_TRUE(WaitFor([&] { return QFileInfo(In("_big.bin.tmp")).size() > 0; }, kDeadlineMs));
    tx.Signal(SIGKILL);
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 124) << rx.Err().toStdString();
    const qint64 kept = QFileInfo(In("_big.bin.tmp")).size();
    EXPECT_TRUE(rx.Err().contains(QString("the sender has been silent for 1 s inside 'big.bin'; the file is given up "
                                          "and its temp file keeps %1 of %2 bytes for send --restart")
                                      .arg(kept)
                                      .arg(content.size())))
        << rx.err.toStdString();
    EXPECT_EQ(ReadFile(In("_big.bin.tmp")), content.left(kept));
}

}  // namespace
