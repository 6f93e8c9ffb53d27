#include "SerialPortFixture.h"

namespace {

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
    ASSERT_TRUE(port.SetReadBufferSize(256, why));
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
