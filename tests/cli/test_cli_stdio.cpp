// velotrax-cli on a line it is handed as standard input and output.
#include "CliProcess.h"
#include "Fso.h"
#include "cable_process.h"
#include <QDir>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
using namespace clitest;

struct Stdio : ::testing::Test {
    QTemporaryDir dir;
    QString outDir = dir.filePath("out"), inDir = dir.filePath("in");
    void SetUp() override
    {
        QDir().mkpath(outDir);
        QDir().mkpath(inDir);
    }
};

TEST_F(Stdio, TwoProgramsJoinedByAPipePairCopyFilesWithTheirDates)
{
    int toReceiver[2], toSender[2];
    ASSERT_EQ(::pipe2(toReceiver, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(toSender, O_CLOEXEC), 0);
    const QByteArray big = RandomBytes(20000, 11);
    WriteDated(BuildPath(outDir, "big.bin"), big);
    WriteDated(BuildPath(outDir, "with blank.txt"), "text\n");

    Cli rx, tx;
    rx.Start({"receive", "--stdio", "--once", "--quiet", "--wait-ms", "0", inDir}, [&] {
        ::dup2(toReceiver[0], STDIN_FILENO);
        ::dup2(toSender[1], STDOUT_FILENO);
    });
    tx.Start({"send", "--stdio", "--wait-ms", "0", BuildPath(outDir, "big.bin"), BuildPath(outDir, "with blank.txt")}, [&] {
        ::dup2(toSender[0], STDIN_FILENO);
        ::dup2(toReceiver[1], STDOUT_FILENO);
    });
    for (int fd : {toReceiver[0], toReceiver[1], toSender[0], toSender[1]})
        ::close(fd);

    ASSERT_TRUE(tx.Ends());
    EXPECT_EQ(tx.Code(), 0) << tx.Err().toStdString();
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 0) << rx.Err().toStdString();
    EXPECT_TRUE(rx.Err().contains("listening on standard input and output at 115200 baud")) << rx.err.toStdString();
    EXPECT_TRUE(tx.Err().contains("Files sent: 2\n"));
    // Inside a terminal program standard error is what the user sees: progress by default.
    EXPECT_TRUE(tx.err.contains("big.bin  100%  20000/20000 bytes")) << tx.err.toStdString();
    EXPECT_FALSE(rx.err.contains("100%")) << rx.err.toStdString();
    EXPECT_EQ(ReadFile(BuildPath(inDir, "big.bin")), big);
    EXPECT_EQ(ReadFile(BuildPath(inDir, "with blank.txt")), "text\n");
    EXPECT_TRUE(GetsTheSendersDate(BuildPath(inDir, "big.bin")));
    EXPECT_TRUE(GetsTheSendersDate(BuildPath(inDir, "with blank.txt")));
}

TEST_F(Stdio, TheEndOfTheInputIsAPortFailure)
{
    int toReceiver[2];
    ASSERT_EQ(::pipe2(toReceiver, O_CLOEXEC), 0);
    Cli rx;
    rx.Start({"receive", "--stdio", inDir}, [&] { ::dup2(toReceiver[0], STDIN_FILENO); });
    ::close(toReceiver[0]);
    ASSERT_TRUE(rx.Shows("listening on "));
    ::close(toReceiver[1]);
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 11) << rx.Err().toStdString();
}

#ifdef PICOCOM_EXE
// A pseudo-terminal for a program that wants a terminal to talk to.
struct Terminal {
    int master = -1;
    std::string slave;
    QByteArray screen;

    Terminal()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
            slave = ::ptsname(master);
            ::fcntl(master, F_SETFL, O_NONBLOCK);
        }
    }
    ~Terminal() { ::close(master); }
    // For the child: this terminal as its controlling terminal and its three standard channels.
    std::function<void()> InChild() const
    {
        return [name = slave] {
            ::setsid();
            const int fd = ::open(name.c_str(), O_RDWR);
            ::ioctl(fd, TIOCSCTTY, 0);
            for (int channel : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
                ::dup2(fd, channel);
        };
    }
    bool Shows(const QByteArray& part)
    {
        return WaitFor([&] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
                screen.append(buffer, n);
            return screen.contains(part);
        }, kDeadlineMs);
    }
    void Type(const QByteArray& keys) { ASSERT_EQ(::write(master, keys.constData(), size_t(keys.size())), keys.size()); }
};

// picocom on one end of the cable runs the console program as its send command;
// a console receiver listens on the other end.
TEST_F(Stdio, PicocomsSendCommandCopiesFilesWithTheirDates)
{
    const QString a = dir.filePath("A"), b = dir.filePath("B");
    vnm::CableProcess cable;
    ASSERT_TRUE(cable.start(VNULLMODEM_EXE, {"--baud", "0", "--link-a", a.toStdString(), "--link-b", b.toStdString()}))
        << cable.error();
    const QByteArray big = RandomBytes(12000, 12);
    WriteDated(BuildPath(outDir, "big.bin"), big);
    WriteDated(BuildPath(outDir, "small.txt"), "small");

    Cli rx;
    rx.Start({"receive", "--port", b, "--once", inDir});
    ASSERT_TRUE(rx.Shows("listening on "));

    Terminal terminal;
    ASSERT_FALSE(terminal.slave.empty());
    Cli picocom;
    picocom.p.setProgram(QStringLiteral(PICOCOM_EXE));
    picocom.p.setArguments({"-b", "115200", "--send-cmd", QStringLiteral(VELOTRAX_CLI_EXE) + " send --stdio --wait-ms 0", a});
    picocom.p.setChildProcessModifier(terminal.InChild());
    // A terminal without cursor reports: picocom's line editor then reads plain lines.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TERM", "dumb");
    picocom.p.setProcessEnvironment(env);
    picocom.p.start();
    ASSERT_TRUE(terminal.Shows("Terminal ready")) << terminal.screen.toStdString();
    terminal.Type("\x01\x13");  // C-a C-s
    ASSERT_TRUE(terminal.Shows("*** file: ")) << terminal.screen.toStdString();
    terminal.Type((BuildPath(outDir, "big.bin") + ' ' + BuildPath(outDir, "small.txt") + '\n').toLocal8Bit());
    ASSERT_TRUE(terminal.Shows("*** exit status: 0 ***")) << terminal.screen.toStdString();
    terminal.Type("\x01\x18");  // C-a C-x
    EXPECT_TRUE(picocom.Ends());

    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 0) << rx.Err().toStdString();
    EXPECT_TRUE(terminal.screen.contains("Files sent: 2")) << terminal.screen.toStdString();
    EXPECT_EQ(ReadFile(BuildPath(inDir, "big.bin")), big);
    EXPECT_EQ(ReadFile(BuildPath(inDir, "small.txt")), "small");
    EXPECT_TRUE(GetsTheSendersDate(BuildPath(inDir, "big.bin")));
}
#endif
}  // namespace

#include "StdioCommPort.h"
#include <termios.h>

namespace {
TEST(StdioPort, ATerminalIsRawWhileOpenAndAsBeforeAfterwards)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int tty = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(tty, 0);
    termios before{};
    ::tcgetattr(tty, &before);
    ASSERT_TRUE(before.c_lflag & ICANON);

    StdioCommPort port(tty, tty);
    QString why;
    ASSERT_TRUE(port.SetPortOpen(true, why));
    termios open{};
    ::tcgetattr(tty, &open);
    EXPECT_FALSE(open.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(open.c_oflag & OPOST);  // no LF to CR LF on the way out

    // Bytes through the terminal both ways, untouched.
    ASSERT_EQ(::write(master, "\r\n\x03\x00", 4), 4);
    QByteArray in;
    ASSERT_TRUE(WaitFor([&] { return (in += port.Input()).size() == 4; }, kDeadlineMs));
    EXPECT_EQ(in, QByteArray("\r\n\x03\x00", 4));
    port.Output(QByteArray("\n\x00", 2));
    char out[8];
    EXPECT_EQ(::read(master, out, sizeof out), 2);

    ASSERT_TRUE(port.SetPortOpen(false, why));
    termios after{};
    ::tcgetattr(tty, &after);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    ::close(tty);
    ::close(master);
}
}  // namespace
