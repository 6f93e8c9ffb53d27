#include "SerialCommPort.h"
#include "WindowHarness.h"
#include <QDeadlineTimer>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace {

// The far end of a pseudo-terminal; the window opens the slave through COM1.
struct PtyEnd {
    int master = -1;
    int slave = -1;
    QString slaveName;
    PtyEnd()
    {
        char name[256];
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        slaveName = QString::fromLocal8Bit(name);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyEnd()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    // Reads while the event loop runs, until the bytes hold the part or the deadline passes.
    QByteArray ReadUntil(const QByteArray& part, int ms = 10000)
    {
        QByteArray got;
        WaitFor(
            [&] {
                char buf[4096];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, n);
                return got.contains(part);
            },
            ms);
        return got;
    }
};

TEST(MainWindowOnAPty, SenderOpensTheRealPortSendsTheHeaderAndStops)
{
    PtyEnd pty;
    ASSERT_FALSE(pty.slaveName.isEmpty());
    QTemporaryDir programDir;
    ASSERT_TRUE(programDir.isValid());
    SerialCommPort port(programDir.path());
    WindowHarness h(port, programDir.path());
    ASSERT_TRUE(QFile::link(pty.slaveName, h.Path("COM1")));
    WindowHarness::WriteFile(h.Path("hello.txt"), "hello over the line");
    h.Load({"COM: 1", "SPEED: 115200", "I_AM: 0", "SENDPATH: " + programDir.path(), "WAITBEFORESEND: 0"});

    h.nextChoice = QStringList{h.Path("hello.txt")};
    h.Button("cmdActivate")->click();
    ASSERT_TRUE(h.boxes.empty()) << h.boxes[0].text.toStdString();
    EXPECT_TRUE(port.PortOpen());
    EXPECT_EQ(h.Label("lblStatus1"), "Status: Active");
    EXPECT_FALSE(h.Enabled("cmdActivate"));
    EXPECT_TRUE(h.Enabled("cmdStop"));
    const QByteArray header = pty.ReadUntil("|hello.txt");
    EXPECT_TRUE(header.contains("19|")) << "size first: " << header.toHex().toStdString();
    EXPECT_TRUE(header.contains("|hello.txt")) << header.toHex().toStdString();

    h.Button("cmdStop")->click();
    EXPECT_TRUE(h.boxes.empty());
    EXPECT_FALSE(port.PortOpen());
    EXPECT_TRUE(h.Enabled("cmdActivate"));
    EXPECT_TRUE(h.Enabled("btnRestart"));
    EXPECT_EQ(h.Label("lblStatus1"), "Status: Not active");
}

}  // namespace
