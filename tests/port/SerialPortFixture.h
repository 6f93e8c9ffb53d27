// A real SerialCommPort on a pseudo-terminal whose master the test plays.
#pragma once
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
