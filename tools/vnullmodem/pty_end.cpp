#include "pty_end.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vnm {

bool setNonBlockCloexec(int fd)
{
    const int fl = ::fcntl(fd, F_GETFL);
    const int fd_fl = ::fcntl(fd, F_GETFD);
    return fl >= 0 && fd_fl >= 0 && ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, fd_fl | FD_CLOEXEC) == 0;
}

speed_t termiosSpeed(double baud)
{
    static const struct {
        double baud;
        speed_t speed;
    } table[] = {{300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
                 {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                 {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
                 {921600, B921600}};
    for (const auto& e : table)
        if (e.baud == baud)
            return e.speed;
    return B115200;  // only cosmetic: the cable paces by itself, and B0 would mean hang up
}

bool openEnd(End& e, speed_t speed, std::string& error)
{
    termios t{};
    cfmakeraw(&t);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    char name[256] = {};
    if (::openpty(&e.master, &e.slave, name, &t, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    if (!setNonBlockCloexec(e.master) || !setNonBlockCloexec(e.slave)) {
        error = std::string("fcntl: ") + std::strerror(errno);
        return false;
    }
    // Packet mode: a tcflush(TCOFLUSH) by the program reaches us as a status
    // byte, so the cable can drop what the flush would have taken from a UART.
    int on = 1;
    if (::ioctl(e.master, TIOCPKT, &on) != 0) {
        error = std::string("TIOCPKT: ") + std::strerror(errno);
        return false;
    }
    e.slavePath = name;
    return true;
}

void closeEnd(End& e)
{
    if (e.master >= 0)
        ::close(e.master);
    if (e.slave >= 0)
        ::close(e.slave);
    e.master = e.slave = -1;
}

bool placeLink(const std::string& link, const std::string& target, std::string& error)
{
    if (link.empty())
        return true;
    struct stat st{};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + " exists and is not a symbolic link";
        return false;
    }
    const std::string tmp = link + ".vnm" + std::to_string(::getpid()) + ".tmp";
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0) {
        error = "symlink " + tmp + ": " + std::strerror(errno);
        return false;
    }
    if (::rename(tmp.c_str(), link.c_str()) != 0) {
        error = "rename to " + link + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

void removeLink(const std::string& link, const std::string& target)
{
    if (link.empty())
        return;
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target)
        ::unlink(link.c_str());
}

std::string describeEnd(const End& e)
{
    std::string s(1, e.name);
    s += " " + e.slavePath;
    if (!e.link.empty())
        s += " " + e.link;
    return s;
}

}  // namespace vnm
