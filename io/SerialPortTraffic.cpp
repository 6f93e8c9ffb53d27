// The serial port's traffic: reading, writing and the events it raises.
#include "SerialCommPort.h"
#include "SerialPortErrors.h"
#include <QElapsedTimer>
#include <QEvent>
#include <QMetaObject>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif
#endif

// ---- data ----

int SerialCommPort::BytesWaiting() const
{
    qint64 count = m_salvaged.size();
    if (m_open && !m_failed) {
        count += m_port.bytesAvailable();
#ifdef Q_OS_UNIX
        int waiting = 0;
        if (::ioctl(int(m_port.handle()), FIONREAD, &waiting) == 0)
            count += waiting;
#endif
    }
    return int(qMin<qint64>(count, INT_MAX));
}

void SerialCommPort::DrainDriver(QByteArray& into)
{
#ifdef Q_OS_UNIX
    // Ask the driver how much is there: with VMIN 0 an empty read returns 0,
    // which says nothing about the device being gone.
    const int fd = int(m_port.handle());
    for (;;) {
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) != 0) {
            if (!Unsupported(errno))
                DeviceFailed();
            return;
        }
        if (waiting <= 0)
            return;
        const qsizetype before = into.size();
        into.resize(before + waiting);
        const ssize_t n = ::read(fd, into.data() + before, size_t(waiting));
        const int error = errno;
        into.resize(before + qMax<ssize_t>(n, 0));
        if (n > 0 || (n < 0 && error == EINTR))
            continue;
        if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK))
            return;
        if (DeviceGone() || n < 0)
            DeviceFailed();
        return;
    }
#else
    if (m_port.waitForReadyRead(0))
        into += m_port.readAll();
#endif
}

QByteArray SerialCommPort::Input()
{
    QByteArray bytes;
    bytes.swap(m_salvaged);
    if (m_open && !m_failed) {
#ifndef Q_OS_UNIX
        bytes += m_port.readAll();
#endif
        DrainDriver(bytes);
        ResumeReadNotice();
    }
    if (m_discardUntil >= 0) {
        if (m_clock.elapsed() < m_discardUntil)
            bytes.clear();  // the tail of a refused block
        else
            m_discardUntil = -1;
    }
    return bytes;
}

void SerialCommPort::DiscardInput()
{
    m_salvaged.clear();
    if (!m_open || m_failed)
        return;
    m_configuring = true;
    m_port.clear(QSerialPort::Input);
    m_configuring = false;
#ifdef Q_OS_UNIX
    ::tcflush(int(m_port.handle()), TCIFLUSH);
#endif
    ResumeReadNotice();
}

int SerialCommPort::BytesUnsent() const
{
    if ((!m_open && !m_out.Lingering()) || m_failed)
        return 0;
    qint64 count = m_out.Waiting() + m_port.bytesToWrite();
#ifdef Q_OS_UNIX
    int queued = 0;
    if (::ioctl(int(m_port.handle()), TIOCOUTQ, &queued) == 0)
        count += queued;
#endif
    return int(qMin<qint64>(count, INT_MAX));
}

void SerialCommPort::Output(const QByteArray& bytes, int pauseMs)
{
    if (!m_open || m_failed || bytes.isEmpty())
        return;
#ifdef Q_OS_UNIX
    m_out.Add(bytes, pauseMs);
#else
    Q_UNUSED(pauseMs);
    m_port.write(bytes);
#endif
}

void SerialCommPort::DiscardOutput(bool cutCurrent)
{
    m_out.Discard(cutCurrent);
    if (!cutCurrent || !m_port.isOpen() || m_failed)
        return;
#ifdef Q_OS_UNIX
    ::tcflush(int(m_port.handle()), TCOFLUSH);
#else
    m_port.clear(QSerialPort::Output);
#endif
}

void SerialCommPort::DiscardInputFor(int ms)
{
    DiscardInput();
    m_discardUntil = m_clock.elapsed() + qMax(ms, 0);
}

// ---- events ----

void SerialCommPort::PostEvent(PortEvent event)
{
    // Delivered from the event loop, never from inside a QSerialPort call or
    // a caller's Output(), so a handler may close the port freely.
    const quint32 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation, event] {
        if (generation == m_generation && m_open)
            RaiseEvent(event);
    }, Qt::QueuedConnection);
}

void SerialCommPort::OnReadyRead()
{
    if (!m_open || m_failed || m_receivePosted)
        return;
    m_receivePosted = true;
    const quint32 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation] {
        if (generation != m_generation)
            return;
        m_receivePosted = false;
        if (!m_open || m_failed)
            return;
        // An earlier handler may have taken these bytes already; a device
        // that hung up is readable with nothing to read.
        if (BytesWaiting() > 0)
            RaiseEvent(PortEvent::Receive);
        else if (DeviceGone())
            DeviceFailed();
        else
            ResumeReadNotice();
    }, Qt::QueuedConnection);
}

void SerialCommPort::TakeOverReading()
{
#ifdef Q_OS_UNIX
    const int fd = int(m_port.handle());
    m_qtReadNotifier.clear();
    for (QSocketNotifier* n : m_port.findChildren<QSocketNotifier*>()) {
        if (n->type() == QSocketNotifier::Read && n->socket() == fd) {
            m_qtReadNotifier = n;
            n->installEventFilter(this);
            n->setEnabled(false);
        }
    }
    m_readNotice = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readNotice, &QSocketNotifier::activated, this, &SerialCommPort::OnReadable);
#endif
}

bool SerialCommPort::eventFilter(QObject* watched, QEvent* event)
{
    // Qt switches its notifier on again now and then (buffer size changes);
    // whenever it fires, switch it off unheard.
    if (watched == m_qtReadNotifier && event->type() == QEvent::SockAct) {
        m_qtReadNotifier->setEnabled(false);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void SerialCommPort::OnReadable()
{
    // Quiet until the bytes are taken, so waiting bytes do not spin the loop.
    m_readNotice->setEnabled(false);
    OnReadyRead();
}

void SerialCommPort::ResumeReadNotice()
{
    if (m_readNotice && m_open && !m_failed)
        m_readNotice->setEnabled(true);
}

void SerialCommPort::OnError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || !m_open || m_failed || m_configuring)
        return;
#ifdef Q_OS_UNIX
    // Qt's word alone is not enough (it files a read that found nothing as
    // a vanished device); the device itself must say it is gone.
    if (DeviceGone())
        DeviceFailed();
#else
    if (error == QSerialPort::ResourceError || error == QSerialPort::DeviceNotFoundError)
        DeviceFailed();
#endif
}

bool SerialCommPort::DeviceGone() const
{
#ifdef Q_OS_UNIX
    const int fd = int(m_port.handle());
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return true;
    int waiting = 0;
    return ::ioctl(fd, FIONREAD, &waiting) != 0 && !Unsupported(errno);
#else
    return false;
#endif
}

void SerialCommPort::DeviceFailed()
{
    if (m_failed)
        return;
    // One event, then silence: QSerialPort keeps reporting a vanished device
    // until it is closed, so shut it now while the program still sees the
    // port open until it closes it itself.
    m_failed = true;
    m_lineTimer.stop();
    m_out.Discard(true);
    if (m_readNotice)
        m_readNotice->setEnabled(false);
    const quint32 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation] {
        if (generation != m_generation)
            return;
        m_salvaged += m_port.readAll();
        m_configuring = true;
        m_port.close();
        m_configuring = false;
        RaiseEvent(PortEvent::Unknown);
    }, Qt::QueuedConnection);
}

void SerialCommPort::OnLineTimer()
{
#ifdef Q_OS_UNIX
    if (!m_open || m_failed)
        return;
    if (DeviceGone()) {
        DeviceFailed();
        return;
    }
    // Bytes the driver holds while Qt's notifier stayed quiet (its read buffer
    // was full when they came) would otherwise wait for the next arrival, which
    // in a stop-and-wait exchange never comes.
    if (!m_receivePosted && BytesWaiting() > 0)
        OnReadyRead();
    const int fd = int(m_port.handle());
    PortEvent events[9];
    int count = 0;
#ifdef Q_OS_LINUX
    if (m_haveCounters) {
        serial_icounter_struct ic{};
        if (::ioctl(fd, TIOCGICOUNT, &ic) == 0) {
            static constexpr PortEvent kinds[9] = {PortEvent::Framing, PortEvent::Overrun, PortEvent::Parity,
                                             PortEvent::Break, PortEvent::ReceiveOverflow, PortEvent::CtsChanged,
                                             PortEvent::DsrChanged, PortEvent::CdChanged, PortEvent::Ring};
            const int now[9] = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun,
                                ic.cts, ic.dsr, ic.dcd, ic.rng};
            for (int i = 0; i < 9; ++i) {
                if (now[i] != m_counters[i])
                    events[count++] = kinds[i];
                m_counters[i] = now[i];
            }
        } else {
            m_haveCounters = false;
        }
    }
#endif
    if (m_haveModemBits) {
        int bits = 0;
        if (::ioctl(fd, TIOCMGET, &bits) == 0) {
            const int changed = bits ^ m_modemBits;
            if (changed & TIOCM_CTS)
                events[count++] = PortEvent::CtsChanged;
            if (changed & TIOCM_DSR)
                events[count++] = PortEvent::DsrChanged;
            if (changed & TIOCM_CAR)
                events[count++] = PortEvent::CdChanged;
            if ((changed & TIOCM_RNG) && (bits & TIOCM_RNG))
                events[count++] = PortEvent::Ring;
            m_modemBits = bits;
        } else {
            m_haveModemBits = false;
        }
    }
    const quint32 generation = m_generation;
    for (int i = 0; i < count && generation == m_generation && !m_failed; ++i)
        RaiseEvent(events[i]);
#endif
}
