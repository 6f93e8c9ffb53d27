// Opening and closing the serial port: the device and its locks, the
// driver's low-latency mode, and a close that lets the last writes go out.
#include "SerialCommPort.h"
#include "SerialPortErrors.h"
#include "Locations.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QEvent>
#include <QMetaObject>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <climits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif
#endif

namespace {

#ifdef Q_OS_UNIX
// Why a device refused this user, and how that is usually put right.
QString PermissionHint(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    const group* owner = ::getgrgid(st.st_gid);
    if (st.st_gid == 0 || !owner || !(st.st_mode & S_IRWXG))
        return QStringLiteral(". Only its owner may use %1; ask the administrator for access").arg(path);
    const QString name = QString::fromLocal8Bit(owner->gr_name);
    return QStringLiteral(". %1 may be used by the members of the group \"%2\": join it with "
                          "\"sudo usermod -aG %2 $USER\", then log out and in again").arg(path, name);
}
#endif

}  // namespace

// ---- open and close ----

bool SerialCommPort::SetPortOpen(bool open, QString& why)
{
    if (!open) {
        Close();
        return true;
    }
    if (m_open)
        return true;
    if (m_out.Lingering() && ResumeFlushing(why))
        return true;
    FinishClose();
    return Open(why);
}

bool SerialCommPort::Open(QString& why)
{
    if (m_number < 1) {
        why = QStringLiteral("No port number has been set");
        return false;
    }
    const QString path = m_movedTo.isEmpty() ? DevicePath(m_number) : m_movedTo;
    QString shown = path;
    QString openPath = path;
#ifndef Q_OS_WIN
    const QFileInfo info(path);
    if (info.isSymLink()) {
        shown = path + QStringLiteral(" -> ") + info.symLinkTarget();
        // Open the real device so Qt's lock file has the device's name, the
        // one other programs lock too.
        openPath = info.canonicalFilePath();
        if (openPath.isEmpty()) {
            why = QStringLiteral("%1: %2").arg(shown, ErrnoText(ENOENT));
            return false;
        }
    }
#endif
    m_port.setPortName(openPath);
    m_port.setReadBufferSize(m_readBufferSize);
    QString settingsWhy;
    if (!ApplySettings(settingsWhy)) {
        why = QStringLiteral("%1: %2").arg(shown, settingsWhy);
        return false;
    }

    m_configuring = true;
    const bool opened = m_port.open(QIODevice::ReadWrite);
    m_configuring = false;
    if (!opened) {
        why = QStringLiteral("%1: %2").arg(shown, OpenFailure(openPath));
        return false;
    }

#ifdef Q_OS_UNIX
    const int fd = int(m_port.handle());
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        m_configuring = true;
        m_port.close();
        m_configuring = false;
        why = QStringLiteral("%1: %2").arg(
            shown, error == EWOULDBLOCK ? ErrnoText(EBUSY) + QStringLiteral(" (in use by another program)")
                                        : ErrnoText(error));
        return false;
    }
    ::ioctl(fd, TIOCEXCL);

    m_haveCounters = false;
#ifdef Q_OS_LINUX
    serial_icounter_struct ic{};
    if (::ioctl(fd, TIOCGICOUNT, &ic) == 0) {
        m_haveCounters = true;
        const int now[9] = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun,
                            ic.cts, ic.dsr, ic.dcd, ic.rng};
        std::copy(std::begin(now), std::end(now), std::begin(m_counters));
    }
#endif
    m_haveModemBits = false;
    if (!m_haveCounters && ::ioctl(fd, TIOCMGET, &m_modemBits) == 0)
        m_haveModemBits = true;
    TakeOverReading();
    RequestLowLatency(fd);
    m_lineTimer.start();
    AttachOutput(fd);
#endif
    m_discardUntil = -1;

    m_open = true;
    m_failed = false;
    m_salvaged.clear();
    m_openedFrom = path;
    m_serial = SerialNumberOf(openPath);
    return true;
}

QString SerialCommPort::SerialNumberOf(const QString& device) const
{
    for (const SerialPortEntry& e : listPorts())
        if (e.device == device)
            return e.serialNumber;
    return {};
}

QString SerialCommPort::Identity() const
{
    return m_serial.isEmpty() ? m_openedFrom : QStringLiteral("%1 (serial %2)").arg(m_openedFrom, m_serial);
}

bool SerialCommPort::Reopen(QString& why)
{
    if (m_open)
        return true;
    const QString serial = m_serial;
    if (serial.isEmpty())
        return SetPortOpen(true, why);
    // A USB adapter comes back under the first free name, which may be
    // another one's old name: the serial number tells them apart.
    const QList<SerialPortEntry> ports = listPorts();
    const auto at = std::find_if(ports.begin(), ports.end(),
                                 [&](const SerialPortEntry& e) { return e.serialNumber == serial; });
    if (at == ports.end()) {
        why = QStringLiteral("no serial port with the serial number %1").arg(serial);
        return false;
    }
    const QString before = m_movedTo;
    const QString openedBefore = m_openedFrom;
    const QFileInfo info(m_movedTo.isEmpty() ? DevicePath(m_number) : m_movedTo);
    const QString real = info.isSymLink() ? info.canonicalFilePath() : info.filePath();
    if (real != at->device)
        m_movedTo = at->device;
    if (SetPortOpen(true, why) && m_serial == serial)
        return true;
    if (m_open)
        why = QStringLiteral("%1 is another adapter now").arg(at->device);
    Close();
    m_movedTo = before;
    m_openedFrom = openedBefore;
    m_serial = serial;
    return false;
}

// Qt's text for a failed open is vague when its lock file is taken; find the
// system's own reason.
QString SerialCommPort::OpenFailure(const QString& openPath) const
{
    const QString qtText = m_port.errorString();
#ifdef Q_OS_UNIX
    if (m_port.error() == QSerialPort::PermissionError) {
        const int fd = ::open(QFile::encodeName(openPath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            const int error = errno;
            return ErrnoText(error) + (error == EACCES ? PermissionHint(openPath) : QString());
        }
        ::close(fd);
        return ErrnoText(EBUSY) + QStringLiteral(" (locked by another program)");
    }
#else
    Q_UNUSED(openPath);
#endif
    return qtText;
}

void SerialCommPort::AttachOutput(int fd)
{
    OutputQueue::Hooks hooks;
    hooks.driverQueued = [this] {
        int queued = 0;
#ifdef Q_OS_UNIX
        if (::ioctl(int(m_port.handle()), TIOCOUTQ, &queued) != 0)
            queued = 0;
#endif
        return queued;
    };
    hooks.failed = [this] { DeviceFailed(); };
    hooks.stalled = [this] { PostEvent(PortEvent::TransmitFull); };
    // The device is non-blocking: writes take what fits. A slow line may take
    // nothing for as long as it needs for a driver's worth of bytes.
    const qint64 msPerKiB = qint64(1024) * 10 * 1000 / qMax(m_settings.baudRate, 1);
    m_out.Attach(fd, 0, msPerKiB, std::move(hooks));
    m_out.SetStallMs(m_writeStallMs ? *m_writeStallMs : int(qMax<qint64>(5000, 8 * msPerKiB)));
}

// Opening the same device again while its last writes still go out takes
// it back as it is, so those writes are not lost (a receiver that answers
// with an error and listens again at once).
bool SerialCommPort::ResumeFlushing(QString& why)
{
    if (!m_port.isOpen() || m_openedFrom != DevicePath(m_number) || !ApplySettings(why))
        return false;
    m_out.StopLingering();
    m_open = true;
#ifdef Q_OS_UNIX
    m_readNotice = new QSocketNotifier(int(m_port.handle()), QSocketNotifier::Read, this);
    connect(m_readNotice, &QSocketNotifier::activated, this, &SerialCommPort::OnReadable);
    m_lineTimer.start();
#endif
    m_discardUntil = -1;
    return true;
}

void SerialCommPort::Close()
{
    if (!m_open)
        return;
    const qint64 unsent = BytesUnsent();
    ++m_generation;
    m_receivePosted = false;
    m_lineTimer.stop();
    delete m_readNotice;
    m_readNotice = nullptr;
    m_open = false;
    DropPendingEvents();
    if (!m_failed && !m_out.Idle() && m_port.isOpen()) {
        // What the program said last (an error, a Stop) still goes out; for
        // no longer than the line needs for it, and a little.
        const qint64 lineMs = unsent * 10 * 1000 / qMax(m_settings.baudRate, 1);
        m_out.Linger(qMin<qint64>(lineMs + 2000, 120000), [this] { FinishClose(); });
        return;
    }
    FinishClose();
}

void SerialCommPort::FinishClose()
{
    m_out.Detach();
    m_open = false;
    if (m_port.isOpen()) {
#ifdef Q_OS_UNIX
        const int fd = int(m_port.handle());
        RestoreLatency(fd);
        ::ioctl(fd, TIOCNXCL);
        ::flock(fd, LOCK_UN);
#endif
        m_configuring = true;
        m_port.close();
        m_configuring = false;
    }
    m_open = false;
    m_failed = false;
    m_salvaged.clear();
    DropPendingEvents();
}

void SerialCommPort::RequestLowLatency(int fd)
{
    m_lowLatencySet = false;
#ifdef Q_OS_LINUX
    serial_struct ss{};
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) {
        m_openNote = QStringLiteral("Low-latency mode: not offered by this device");
        return;
    }
    if (ss.flags & ASYNC_LOW_LATENCY) {
        m_openNote = QStringLiteral("Low-latency mode: on already");
        return;
    }
    ss.flags |= ASYNC_LOW_LATENCY;
    serial_struct now{};
    if (::ioctl(fd, TIOCSSERIAL, &ss) != 0) {
        m_openNote = QStringLiteral("Low-latency mode: refused by the driver (%1)").arg(ErrnoText(errno));
    } else if (::ioctl(fd, TIOCGSERIAL, &now) != 0 || !(now.flags & ASYNC_LOW_LATENCY)) {
        m_openNote = QStringLiteral("Low-latency mode: not granted by the driver");
    } else {
        m_lowLatencySet = true;
        m_openNote = QStringLiteral("Low-latency mode: granted");
    }
#else
    Q_UNUSED(fd);
    m_openNote = QStringLiteral("Low-latency mode: not offered on this system");
#endif
}

void SerialCommPort::RestoreLatency(int fd)
{
#ifdef Q_OS_LINUX
    serial_struct ss{};
    if (m_lowLatencySet && ::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags &= ~ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &ss);
    }
#else
    Q_UNUSED(fd);
#endif
    m_lowLatencySet = false;
}
