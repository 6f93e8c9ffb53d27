#include "SerialCommPort.h"
#include "port_test_util.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Event values as the port reports them.
constexpr PortEvent kReceive = PortEvent::Receive;
constexpr PortEvent kTxFull = PortEvent::TransmitFull;
constexpr PortEvent kUnknown = PortEvent::Unknown;

// The far end of the line: the master of a pty, driven with raw reads and writes.
struct Pty {
    int master = -1;
    QString slave;

    Pty()
    {
        int s = -1;
        char name[256];
        if (::openpty(&master, &s, name, nullptr, nullptr) != 0)
            return;
        ::close(s);
        slave = QString::fromLocal8Bit(name);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { HangUp(); }
    void HangUp()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    // Writes whatever fits now.
    qsizetype WriteSome(const char* data, qsizetype size)
    {
        const ssize_t n = ::write(master, data, size_t(size));
        return n > 0 ? n : 0;
    }
    bool Write(const QByteArray& bytes)
    {
        qsizetype done = 0;
        QDeadlineTimer deadline(5000);
        while (done < bytes.size() && !deadline.hasExpired()) {
            done += WriteSome(bytes.constData() + done, bytes.size() - done);
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        return done == bytes.size();
    }
    QByteArray ReadSome(int max)
    {
        QByteArray bytes(max, Qt::Uninitialized);
        const ssize_t n = ::read(master, bytes.data(), size_t(max));
        bytes.resize(n > 0 ? n : 0);
        return bytes;
    }
    QByteArray Read(qsizetype count, int ms = 5000)
    {
        QByteArray bytes;
        QDeadlineTimer deadline(ms);
        while (bytes.size() < count && !deadline.hasExpired()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0)
                bytes += ReadSome(int(count - bytes.size()));
        }
        return bytes;
    }
    termios LineSettings() const
    {
        termios t{};
        ::tcgetattr(master, &t);  // a master reports its slave's settings
        return t;
    }
};

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        ASSERT_FALSE(pty.slave.isEmpty());
        ASSERT_TRUE(QFile::link(pty.slave, folder.filePath("COM1")));
        QString why;
        ASSERT_TRUE(port.SetCommPort(1, why)) << why.toStdString();
        ASSERT_TRUE(port.SetSettings("115200,N,8,1", why)) << why.toStdString();
        port.SetEventHandler([this] {
            events.push_back(port.LastEvent());
            if (port.LastEvent() == kReceive && readOnReceive)
                received += port.Input();
            if (onEvent)
                onEvent();
        });
    }
    void Open()
    {
        QString why;
        ASSERT_TRUE(port.SetPortOpen(true, why)) << why.toStdString();
    }
    int Count(PortEvent event) const { return int(std::count(events.begin(), events.end(), event)); }

    QTemporaryDir folder;
    Pty pty;
    SerialCommPort port{folder.path()};
    std::vector<PortEvent> events;
    QByteArray received;
    bool readOnReceive = true;
    std::function<void()> onEvent;
};

TEST_F(SerialPortTest, PortNumbersMapToDevices)
{
    EXPECT_EQ(port.DevicePath(3), "/dev/ttyS2");
    EXPECT_EQ(port.DeviceDescription(3), "/dev/ttyS2");
    EXPECT_EQ(port.DeviceDescription(1), folder.filePath("COM1") + " -> " + pty.slave);

    ASSERT_TRUE(QFile::link(folder.filePath("nothing-here"), folder.filePath("COM4")));
    EXPECT_EQ(port.DevicePath(4), folder.filePath("COM4"));
    EXPECT_TRUE(port.DeviceDescription(4).endsWith("(missing)"));

    QString why;
    EXPECT_FALSE(port.SetCommPort(0, why));
    EXPECT_TRUE(why.contains('0'));
    EXPECT_FALSE(port.SetCommPort(-3, why));
    EXPECT_EQ(port.CommPortNumber(), 1);

    ASSERT_TRUE(port.SetCommPort(4, why));
    EXPECT_FALSE(port.SetPortOpen(true, why));
    EXPECT_TRUE(why.contains("No such file or directory")) << why.toStdString();

    QFile plain(folder.filePath("COM5"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    ASSERT_TRUE(port.SetCommPort(5, why));
    why.clear();
    EXPECT_FALSE(port.SetPortOpen(true, why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(port.PortOpen());
}

TEST_F(SerialPortTest, OpenCloseAndTheNumberWhileOpen)
{
    Open();
    EXPECT_TRUE(port.PortOpen());
    QString why;
    EXPECT_TRUE(port.SetPortOpen(true, why));  // already open
    EXPECT_FALSE(port.SetCommPort(2, why));
    EXPECT_TRUE(port.SetCommPort(1, why));
    EXPECT_TRUE(port.SetPortOpen(false, why));
    EXPECT_TRUE(port.SetPortOpen(false, why));
    EXPECT_FALSE(port.PortOpen());
    Open();  // the lock went with the close
}

TEST_F(SerialPortTest, SecondOpenerIsRefused)
{
    Open();
    QString why;
    SerialCommPort same(folder.path());
    ASSERT_TRUE(same.SetCommPort(1, why));
    EXPECT_FALSE(same.SetPortOpen(true, why));
    EXPECT_TRUE(why.contains("busy", Qt::CaseInsensitive)) << why.toStdString();

    // Another name for the same device.
    ASSERT_TRUE(QFile::link(pty.slave, folder.filePath("COM2")));
    ASSERT_TRUE(same.SetCommPort(2, why));
    why.clear();
    EXPECT_FALSE(same.SetPortOpen(true, why));
    EXPECT_TRUE(why.contains("busy", Qt::CaseInsensitive)) << why.toStdString();

    // A program that locks the device the usual way does not get it either.
    const int raw = ::open(pty.slave.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(raw, 0);
    EXPECT_NE(::flock(raw, LOCK_EX | LOCK_NB), 0);

    // ... and once we close, it gets it and keeps us out.
    ASSERT_TRUE(port.SetPortOpen(false, why));
    EXPECT_EQ(::flock(raw, LOCK_EX | LOCK_NB), 0);
    why.clear();
    EXPECT_FALSE(port.SetPortOpen(true, why));
    EXPECT_TRUE(why.contains("busy", Qt::CaseInsensitive)) << why.toStdString();
    ::close(raw);
    Open();
}

TEST_F(SerialPortTest, SettingsReachTheLine)
{
    QString why;
    ASSERT_TRUE(port.SetSettings("9600,E,7,2", why)) << why.toStdString();
    EXPECT_EQ(port.Settings().parity, QSerialPort::EvenParity);
    EXPECT_EQ(port.Settings().dataBits, QSerialPort::Data7);
    Open();
    // A pty keeps speed and stop bits; it forces 8 data bits and no parity.
    termios t = pty.LineSettings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_TRUE(t.c_cflag & CSTOPB);

    // Applied at once while open.
    ASSERT_TRUE(port.SetSettings("115200,o,8,1", why)) << why.toStdString();
    EXPECT_EQ(port.Settings().parity, QSerialPort::OddParity);
    t = pty.LineSettings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_FALSE(t.c_cflag & CSTOPB);

    const struct {
        const char* text;
        const char* named;
    } refused[] = {
        {"abc", "abc"},           {"9600,X,8,1", "X"},   {"9600,N,9,1", "9"},
        {"1000x,N,8,1", "1000x"}, {"0,N,8,1", "0"},      {"-9600,N,8,1", "-9600"},
        {"9600,N,8,3", "3"},      {"9600,N,8", "9600,N,8"}, {"9600,N,8,1.5", "1.5"},
    };
    for (const auto& r : refused) {
        why.clear();
        EXPECT_FALSE(port.SetSettings(r.text, why)) << r.text;
        EXPECT_TRUE(why.contains(r.named)) << r.text << ": " << why.toStdString();
    }
    EXPECT_EQ(port.Settings().baudRate, 115200);
    t = pty.LineSettings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
}

TEST_F(SerialPortTest, BytesBothWaysInChunks)
{
    Open();
    const QByteArray all = Pattern(256 * 8, 3) + QByteArray("\x00\r\n\x11\x13\x03\x1a\xff", 8);
    const int sizes[] = {1, 2, 255, 7, 1024, 3, 700};
    qsizetype at = 0;
    for (int i = 0; at < all.size(); ++i) {
        const QByteArray chunk = all.mid(at, sizes[i % std::size(sizes)]);
        at += chunk.size();
        ASSERT_TRUE(pty.Write(chunk));
        ASSERT_TRUE(WaitUntil([&] { return received.size() == at; })) << received.size() << " of " << at;
    }
    EXPECT_EQ(received, all);
    EXPECT_EQ(Count(kReceive), int(events.size()));

    for (int size : sizes) {
        const QByteArray chunk = Pattern(size, size);
        port.Output(chunk);
        EXPECT_EQ(pty.Read(size), chunk);
    }
}

// Qt holds at most the input buffer size; what piles up behind it while a
// handler is busy waits in the driver and must all come out, in order.
TEST_F(SerialPortTest, BytesPilingUpDuringAHandlerAllArrive)
{
    QString why;
    ASSERT_TRUE(port.SetInBufferSize(256, why));
    const QByteArray pile = Pattern(3000, 9);
    const QByteArray later = Pattern(20000, 4);
    int calls = 0;
    onEvent = [&] {
        if (++calls != 1)
            return;
        QEventLoop nested;
        QTimer feed;
        qsizetype written = 0;
        QObject::connect(&feed, &QTimer::timeout, [&] {
            written += pty.WriteSome(pile.constData() + written, pile.size() - written);
            if (port.BytesWaiting() == pile.size())
                nested.quit();
        });
        feed.start(2);
        QTimer::singleShot(5000, &nested, &QEventLoop::quit);
        nested.exec();
        EXPECT_EQ(port.BytesWaiting(), pile.size());
    };
    Open();
    ASSERT_TRUE(pty.Write("x"));
    ASSERT_TRUE(WaitUntil([&] { return received.size() == 1 + pile.size(); })) << received.size();
    EXPECT_EQ(calls, 2);

    qsizetype written = 0;
    ASSERT_TRUE(WaitUntil([&] {
        written += pty.WriteSome(later.constData() + written, later.size() - written);
        return received.size() == 1 + pile.size() + later.size();
    }, 10000)) << received.size();
    EXPECT_TRUE(received == "x" + pile + later);
}

TEST_F(SerialPortTest, DiscardInputDropsWhatWaits)
{
    readOnReceive = false;
    Open();
    ASSERT_TRUE(pty.Write(Pattern(300)));
    ASSERT_TRUE(WaitUntil([&] { return port.BytesWaiting() == 300; }));
    port.DiscardInput();
    EXPECT_EQ(port.BytesWaiting(), 0);
    EXPECT_TRUE(port.Input().isEmpty());

    readOnReceive = true;
    ASSERT_TRUE(pty.Write("after"));
    ASSERT_TRUE(WaitUntil([&] { return received.size() >= 5; }));
    EXPECT_EQ(received, "after");
}

// Far more than the driver holds, with nobody reading yet: Output must not wait.
TEST_F(SerialPortTest, OutputQueuesAndTheLineGetsEverythingInOrder)
{
    Open();
    const QByteArray big = Pattern(256 * 1024, 5);
    port.Output(big);
    port.Output("tail", 5);
    EXPECT_GT(port.BytesUnsent(), 128 * 1024);
    QByteArray arrived;
    ASSERT_TRUE(WaitUntil([&] {
        arrived += pty.ReadSome(65536);
        return arrived.size() >= big.size() + 4;
    }, 20000));
    EXPECT_TRUE(arrived == big + "tail");
    EXPECT_EQ(port.BytesUnsent(), 0);
    EXPECT_TRUE(events.empty());
}

// A Stop: what was queued goes, the Stop itself still leaves after the close.
TEST_F(SerialPortTest, DiscardedOutputNeverLeavesButTheLastWriteDoes)
{
    Open();
    port.Output(Pattern(256 * 1024, 7));
    port.Output(Pattern(1024, 9));
    port.DiscardOutput(true);
    EXPECT_EQ(port.BytesUnsent(), 0);
    port.Output("STOP", 2);
    QString why;
    port.SetPortOpen(false, why);
    EXPECT_TRUE(port.Flushing());
    QByteArray arrived;
    ASSERT_TRUE(WaitUntil([&] {
        arrived += pty.ReadSome(65536);
        return !port.Flushing();
    }));
    arrived += pty.ReadSome(65536);
    EXPECT_TRUE(arrived.endsWith("STOP"));
    EXPECT_LT(arrived.size(), 128 * 1024);
}

TEST_F(SerialPortTest, StalledLineReportsTransmitBufferFullOnce)
{
    port.SetWriteStallTimeout(100);
    Open();
    port.Output(Pattern(256 * 1024));  // nobody reads the far end
    ASSERT_TRUE(WaitUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<PortEvent>{kTxFull});
    EXPECT_TRUE(port.PortOpen());
}

TEST_F(SerialPortTest, HangUpGivesOneErrorAndThePortStaysOpen)
{
    Open();
    pty.HangUp();
    ASSERT_TRUE(WaitUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<PortEvent>{kUnknown});

    port.Output("more");
    EXPECT_TRUE(port.Input().isEmpty());
    EXPECT_EQ(port.BytesWaiting(), 0);
    EXPECT_EQ(port.BytesUnsent(), 0);
    RunEventLoopFor(350);
    EXPECT_EQ(events, std::vector<PortEvent>{kUnknown});
    EXPECT_TRUE(port.PortOpen());
    QString why;
    EXPECT_TRUE(port.SetPortOpen(false, why));
    EXPECT_FALSE(port.PortOpen());
}

TEST_F(SerialPortTest, HandlerMayCloseThePort)
{
    onEvent = [this] {
        QString why;
        port.SetPortOpen(false, why);
    };
    Open();
    ASSERT_TRUE(pty.Write("abc"));
    ASSERT_TRUE(WaitUntil([&] { return !events.empty(); }));
    EXPECT_EQ(received, "abc");
    EXPECT_FALSE(port.PortOpen());
    RunEventLoopFor(150);
    EXPECT_EQ(events.size(), 1u);

    // Again on an error, the usual way a broken line ends.
    Open();
    pty.HangUp();
    ASSERT_TRUE(WaitUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events.back(), kUnknown);
    EXPECT_FALSE(port.PortOpen());
    RunEventLoopFor(250);
    EXPECT_EQ(events.size(), 2u);
}

// A modal box in a handler runs a nested event loop; what arrives meanwhile
// must wait until the handler has returned.
TEST_F(SerialPortTest, EventsWaitForTheRunningHandler)
{
    int depth = 0;
    int deepest = 0;
    std::vector<QByteArray> chunks;
    readOnReceive = false;
    onEvent = [&] {
        ++depth;
        deepest = std::max(deepest, depth);
        chunks.push_back(port.Input());
        if (chunks.size() == 1) {
            pty.Write("second");
            QEventLoop nested;
            QTimer check;
            int turnsAfterArrival = 0;
            QObject::connect(&check, &QTimer::timeout, [&] {
                if (port.BytesWaiting() >= 6 && ++turnsAfterArrival > 10)
                    nested.quit();
            });
            check.start(2);
            QTimer::singleShot(5000, &nested, &QEventLoop::quit);
            nested.exec();
            EXPECT_EQ(chunks.size(), 1u);
        }
        --depth;
    };
    Open();
    ASSERT_TRUE(pty.Write("first"));
    ASSERT_TRUE(WaitUntil([&] { return chunks.size() == 2; }));
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(chunks[0], "first");
    EXPECT_EQ(chunks[1], "second");
    EXPECT_EQ(events, (std::vector<PortEvent>{kReceive, kReceive}));
}

} // namespace

// Qt's own read notifier may wake up after this layer has taken the bytes;
// its read then finds nothing, which Qt reports with whatever errno was left
// (often EAGAIN, "device disappeared"). That is no port failure.
TEST_F(SerialPortTest, ANotifierWakingToNothingIsNoPortFailure)
{
    Open();
    const auto notifiers = port.findChildren<QSocketNotifier*>();
    ASSERT_FALSE(notifiers.isEmpty());
    for (QSocketNotifier* n : notifiers) {
        if (n->type() != QSocketNotifier::Read)
            continue;
        QEvent wake(QEvent::SockAct);
        errno = EAGAIN;
        QCoreApplication::sendEvent(n, &wake);
    }
    RunEventLoopFor(300);
    EXPECT_EQ(Count(kUnknown), 0);
    ASSERT_TRUE(pty.Write("still here"));
    EXPECT_TRUE(WaitUntil([&] { return received == "still here"; })) << received.toStdString();
}

TEST_F(SerialPortTest, BindingPointsANumberAtADeviceButSparesAPlainFile)
{
    QString why;
    ASSERT_TRUE(port.BindDevice(3, "/dev/null", why)) << why.toStdString();
    ASSERT_TRUE(port.BindDevice(3, pty.slave, why)) << why.toStdString();  // replaces the link
    EXPECT_EQ(QFileInfo(folder.filePath("COM3")).symLinkTarget(), pty.slave);

    QFile plain(folder.filePath("COM4"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly) && plain.write("mine") == 4);
    plain.close();
    EXPECT_FALSE(port.BindDevice(4, pty.slave, why));
    EXPECT_TRUE(why.contains("not a link")) << why.toStdString();
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
    EXPECT_EQ(plain.readAll(), "mine");

    // The bound number opens that device; a pty has no low-latency mode and that is no failure.
    ASSERT_TRUE(port.SetCommPort(3, why));
    Open();
    EXPECT_EQ(port.OpenNote(), "Low-latency mode: not offered by this device");
    ASSERT_TRUE(pty.Write("via COM3"));
    EXPECT_TRUE(WaitUntil([&] { return received == "via COM3"; }));
}

TEST_F(SerialPortTest, AFailedAdapterIsFoundAgainByItsSerialNumberUnderAnotherName)
{
    Pty back;  // where it comes back
    QList<SerialPortEntry> listed{{pty.slave, {}, {}, "0403:6001", "A10K3Z"}};
    port.listPorts = [&] { return listed; };
    Open();
    EXPECT_EQ(port.Identity(), folder.filePath("COM1") + " (serial A10K3Z)");
    pty.HangUp();
    ASSERT_TRUE(WaitUntil([&] { return Count(kUnknown) == 1; }));
    QString why;
    port.SetPortOpen(false, why);

    // Its old name now belongs to another adapter, and it is not back yet.
    listed = {{pty.slave, {}, {}, "0403:6001", "B77"}};
    EXPECT_FALSE(port.Reopen(why));
    EXPECT_EQ(why, "no serial port with the serial number A10K3Z");
    EXPECT_FALSE(port.PortOpen());

    listed << SerialPortEntry{back.slave, {}, {}, "0403:6001", "A10K3Z"};
    ASSERT_TRUE(port.Reopen(why)) << why.toStdString();
    EXPECT_EQ(port.Identity(), back.slave + " (serial A10K3Z)");
    ASSERT_TRUE(back.Write("hello"));
    ASSERT_TRUE(WaitUntil([&] { return received == "hello"; }));

    // A new activation opens what the number says again.
    port.SetPortOpen(false, why);
    ASSERT_TRUE(QFile::remove(folder.filePath("COM1")));
    ASSERT_TRUE(QFile::link(folder.filePath("gone"), folder.filePath("COM1")));
    ASSERT_TRUE(port.SetCommPort(1, why));
    EXPECT_FALSE(port.SetPortOpen(true, why));
}
