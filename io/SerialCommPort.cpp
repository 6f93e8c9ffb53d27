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
    m_clock.start();
}

SerialCommPort::~SerialCommPort()
{
    FinishClose();
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
    m_movedTo.clear();
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

bool SerialCommPort::SetReadBufferSize(int size, QString& why)
{
    if (size < 1) {
        why = QStringLiteral("Invalid input buffer size %1").arg(size);
        return false;
    }
    m_readBufferSize = size;
    // Only limits how much Qt holds; the rest waits in the driver and
    // Input() fetches it from there, so nothing is dropped.
    m_port.setReadBufferSize(size);
    return true;
}
