#include "SerialCommPort.h"
#include "Locations.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QEvent>
#include <QMetaObject>
#include <QRegularExpression>
#include <QStringList>
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
QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// errno values that mean "this driver has no such ioctl" rather than "the
// device is gone".
bool Unsupported(int error)
{
    return error == ENOTTY || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

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

constexpr int kLineTimerMs = 100;

} // namespace

SerialCommPort::SerialCommPort(QString programFolder, QObject* parent)
    : QObject(parent), m_folder(std::move(programFolder)), m_port(this)
{
#ifndef Q_OS_UNIX
    connect(&m_port, &QSerialPort::readyRead, this, &SerialCommPort::OnReadyRead);
#endif
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialCommPort::OnError);
    m_lineTimer.setInterval(kLineTimerMs);
    connect(&m_lineTimer, &QTimer::timeout, this, &SerialCommPort::OnLineTimer);
}

SerialCommPort::~SerialCommPort()
{
    Close();
}

// ---- configuration ----

QString SerialCommPort::LinkPath(qint16 number) const
{
    return QDir(SettingsFolder(m_folder)).filePath(QStringLiteral("COM%1").arg(number));
}

QString SerialCommPort::DevicePath(qint16 number) const
{
    if (!m_devicePath.isEmpty())
        return m_devicePath;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    const QString local = LinkPath(number);
    const QFileInfo info(local);
    // A dangling link still counts: opening it then says what is missing
    // instead of quietly opening some other port.
    if (info.exists() || info.isSymLink())
        return local;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

QString SerialCommPort::DeviceDescription(qint16 number) const
{
    if (number < 1)
        return QStringLiteral("no device (port numbers start at 1)");
    const QString path = DevicePath(number);
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    QString text = path + QStringLiteral(" -> ") + info.symLinkTarget();
    if (!info.exists())
        text += QStringLiteral(" (missing)");
    return text;
}

bool SerialCommPort::BindDevice(qint16 number, const QString& device, QString& why)
{
#ifdef Q_OS_WIN
    Q_UNUSED(number);
    Q_UNUSED(device);
    why = QStringLiteral("On Windows COMn names the device itself");
    return false;
#else
    if (number < 1 || device.isEmpty()) {
        why = QStringLiteral("Nothing to bind");
        return false;
    }
    const QString link = LinkPath(number);
    const QFileInfo info(link);
    if (info.exists() && !info.isSymLink()) {
        why = QStringLiteral("%1 is a file, not a link; it is left as it is").arg(link);
        return false;
    }
    QDir().mkpath(m_folder);
    // Made beside it and renamed over it, so the number never opens nothing.
    const QByteArray fresh = QFile::encodeName(link + QStringLiteral(".new"));
    ::unlink(fresh.constData());
    if (::symlink(QFile::encodeName(device).constData(), fresh.constData()) != 0
        || ::rename(fresh.constData(), QFile::encodeName(link).constData()) != 0) {
        why = QStringLiteral("%1: %2").arg(link, ErrnoText(errno));
        ::unlink(fresh.constData());
        return false;
    }
    return true;
#endif
}

bool SerialCommPort::SetCommPort(qint16 number, QString& why)
{
    if (number < 1) {
        why = QStringLiteral("Invalid port number %1: port numbers start at 1").arg(number);
        return false;
    }
    if (m_open && number != m_number) {
        why = QStringLiteral("The port number cannot change while the port is open");
        return false;
    }
    m_number = number;
    return true;
}

std::optional<SerialCommPort::LineSettings> SerialCommPort::ParseSettings(const QString& text, QString& why)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) {
        why = QStringLiteral("Invalid settings \"%1\": expected speed,parity,data bits,stop bits "
                             "(for example 9600,N,8,1)").arg(text);
        return std::nullopt;
    }
    LineSettings s;

    const QString baud = parts[0].trimmed();
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    bool ok = false;
    const qlonglong rate = baud.toLongLong(&ok);
    if (!digits.match(baud).hasMatch() || !ok || rate < 1 || rate > INT_MAX) {
        why = QStringLiteral("Invalid baud rate %1").arg(baud);
        return std::nullopt;
    }
    s.baudRate = qint32(rate);

    const QString parity = parts[1].trimmed().toUpper();
    if (parity == QLatin1String("N"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("M"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("S"))
        s.parity = QSerialPort::SpaceParity;
    else {
        why = QStringLiteral("Invalid parity %1 (use N, E, O, M or S)").arg(parts[1].trimmed());
        return std::nullopt;
    }

    const QString data = parts[2].trimmed();
    if (data == QLatin1String("5"))
        s.dataBits = QSerialPort::Data5;
    else if (data == QLatin1String("6"))
        s.dataBits = QSerialPort::Data6;
    else if (data == QLatin1String("7"))
        s.dataBits = QSerialPort::Data7;
    else if (data == QLatin1String("8"))
        s.dataBits = QSerialPort::Data8;
    else {
        why = QStringLiteral("Invalid data bits %1 (use 5 to 8)").arg(data);
        return std::nullopt;
    }

    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else {
        why = QStringLiteral("Invalid stop bits %1 (use 1, 1.5 or 2)").arg(stop);
        return std::nullopt;
    }
    return s;
}

bool SerialCommPort::SetSettings(const QString& text, QString& why)
{
    const std::optional<LineSettings> parsed = ParseSettings(text, why);
    if (!parsed)
        return false;
#ifndef Q_OS_WIN
    // termios has no 1.5 stop bits; refuse now rather than at open.
    if (parsed->stopBits == QSerialPort::OneAndHalfStop) {
        why = QStringLiteral("Invalid stop bits 1.5: not supported on this system (use 1 or 2)");
        return false;
    }
#endif
    const LineSettings before = m_settings;
    m_settings = *parsed;
    if (m_open && !m_failed && !ApplySettings(why)) {
        m_settings = before;
        QString ignored;
        ApplySettings(ignored);
        return false;
    }
    return true;
}

bool SerialCommPort::ApplySettings(QString& why)
{
    m_configuring = true;
    const bool ok = m_port.setBaudRate(m_settings.baudRate)
                    && m_port.setParity(m_settings.parity)
                    && m_port.setDataBits(m_settings.dataBits)
                    && m_port.setStopBits(m_settings.stopBits)
                    && m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_configuring = false;
    if (!ok)
        why = QStringLiteral("Cannot apply the line settings: %1").arg(m_port.errorString());
    return ok;
}

bool SerialCommPort::SetInputMode(int mode, QString& why)
{
    if (mode != 1) {
        why = QStringLiteral("Input mode %1 is not supported (only 1, binary)").arg(mode);
        return false;
    }
    return true;
}

bool SerialCommPort::SetRThreshold(int threshold, QString& why)
{
    if (threshold != 1) {
        why = QStringLiteral("Receive threshold %1 is not supported (only 1)").arg(threshold);
        return false;
    }
    return true;
}

bool SerialCommPort::SetInputLen(int len, QString& why)
{
    if (len != 0) {
        why = QStringLiteral("Read length %1 is not supported (only 0, everything waiting)").arg(len);
        return false;
    }
    return true;
}

bool SerialCommPort::SetInBufferSize(int size, QString& why)
{
    if (size < 1) {
        why = QStringLiteral("Invalid input buffer size %1").arg(size);
        return false;
    }
    m_inBufferSize = size;
    // Only limits how much Qt holds; the rest waits in the driver and
    // Input() fetches it from there, so nothing is dropped.
    m_port.setReadBufferSize(size);
    return true;
}

bool SerialCommPort::SetOutBufferSize(int size, QString& why)
{
    if (size < 1) {
        why = QStringLiteral("Invalid output buffer size %1").arg(size);
        return false;
    }
    // Output() writes through to the driver; the size is kept for reading back.
    m_outBufferSize = size;
    return true;
}

// ---- open and close ----

bool SerialCommPort::SetPortOpen(bool open, QString& why)
{
    if (!open) {
        Close();
        return true;
    }
    if (m_open)
        return true;
    return Open(why);
}

bool SerialCommPort::Open(QString& why)
{
    if (m_number < 1) {
        why = QStringLiteral("No port number has been set");
        return false;
    }
    const QString path = DevicePath(m_number);
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
    m_port.setReadBufferSize(m_inBufferSize);
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
#endif

    m_open = true;
    m_failed = false;
    m_salvaged.clear();
    return true;
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

void SerialCommPort::Close()
{
    if (!m_open)
        return;
    ++m_generation;
    m_receivePosted = false;
    m_lineTimer.stop();
    delete m_readNotice;
    m_readNotice = nullptr;
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

// ---- data ----

int SerialCommPort::InBufferCount() const
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

int SerialCommPort::OutBufferCount() const
{
    if (!m_open || m_failed)
        return 0;
    qint64 count = m_port.bytesToWrite();
#ifdef Q_OS_UNIX
    int queued = 0;
    if (::ioctl(int(m_port.handle()), TIOCOUTQ, &queued) == 0)
        count += queued;
#endif
    return int(qMin<qint64>(count, INT_MAX));
}

void SerialCommPort::Output(const QByteArray& bytes)
{
    if (!m_open || m_failed || bytes.isEmpty())
        return;
#ifdef Q_OS_UNIX
    // The device is non-blocking; wait for room ourselves so the bytes are in
    // the driver when this returns, whatever the event loop is doing.
    const int fd = int(m_port.handle());
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    while (left > 0) {
        const ssize_t n = ::write(fd, next, size_t(left));
        if (n > 0) {
            next += n;
            left -= n;
            sinceProgress.restart();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const qint64 remaining = m_writeStallMs - sinceProgress.elapsed();
            if (remaining <= 0) {
                PostEvent(comEventTxFull);
                return;
            }
            pollfd p{fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, int(remaining));
            if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLOUT)) {
                DeviceFailed();
                return;
            }
            continue;
        }
        DeviceFailed();
        return;
    }
#else
    m_port.write(bytes);
    while (m_port.bytesToWrite() > 0) {
        if (!m_port.waitForBytesWritten(m_writeStallMs)) {
            if (m_port.error() == QSerialPort::TimeoutError)
                PostEvent(comEventTxFull);
            return;
        }
    }
#endif
}

// ---- events ----

void SerialCommPort::PostEvent(int event)
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
        if (InBufferCount() > 0)
            RaiseEvent(comEvReceive);
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
        RaiseEvent(comEventUnknown);
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
    if (!m_receivePosted && InBufferCount() > 0)
        OnReadyRead();
    const int fd = int(m_port.handle());
    int events[9];
    int count = 0;
#ifdef Q_OS_LINUX
    if (m_haveCounters) {
        serial_icounter_struct ic{};
        if (::ioctl(fd, TIOCGICOUNT, &ic) == 0) {
            static constexpr int kinds[9] = {comEventFrame, comEventOverrun, comEventRxParity,
                                             comEventBreak, comEventRxOver, comEvCTS,
                                             comEvDSR, comEvCD, comEvRing};
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
                events[count++] = comEvCTS;
            if (changed & TIOCM_DSR)
                events[count++] = comEvDSR;
            if (changed & TIOCM_CAR)
                events[count++] = comEvCD;
            if ((changed & TIOCM_RNG) && (bits & TIOCM_RNG))
                events[count++] = comEvRing;
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
