#pragma once
// What the system says when a serial device refuses a call.
#include <QString>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>

inline QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// errno values that mean "this driver has no such ioctl" rather than "the
// device is gone".
inline bool Unsupported(int error)
{
    return error == ENOTTY || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}
#endif
