#include "NoFollow.h"
#include <QFile>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace NoFollow {
namespace {
QString Reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool Fail(QString* why, const QString& text)
{
    if (why)
        *why = text;
    return false;
}

QByteArray Name(const QString& name)
{
    return QFile::encodeName(name);
}
}  // namespace

Folder& Folder::operator=(Folder&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

Folder::~Folder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Folder Open(const QString& root, const QString& folder, bool create, QString* why)
{
    Folder at(::open(Name(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!at.IsOpen()) {
        Fail(why, QStringLiteral("'%1': %2").arg(root, Reason(errno)));
        return {};
    }
    if (folder.isEmpty())
        return at;
    QString walked;
    for (const QString& c : folder.split(u'/')) {
        walked = walked.isEmpty() ? c : walked + u'/' + c;
        const QByteArray name = Name(c);
        constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(at.Fd(), name.constData(), kFlags);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(at.Fd(), name.constData(), 0777) != 0 && errno != EEXIST) {
                Fail(why, QStringLiteral("cannot make the folder '%1': %2").arg(walked, Reason(errno)));
                return {};
            }
            fd = ::openat(at.Fd(), name.constData(), kFlags);
        }
        if (fd < 0) {
            const int error = errno;
            // O_NOFOLLOW fails a link with ELOOP; a file in the way gives ENOTDIR.
            if (error == ELOOP || error == ENOTDIR)
                Fail(why, QStringLiteral("'%1' is a symbolic link or a file, not a folder; it is not followed")
                              .arg(walked));
            else
                Fail(why, QStringLiteral("'%1': %2").arg(walked, Reason(error)));
            return {};
        }
        at = Folder(fd);
    }
    return at;
}

int CreateFile(const Folder& in, const QString& name, QString* why)
{
    const QByteArray n = Name(name);
    if (::unlinkat(in.Fd(), n.constData(), 0) != 0 && errno != ENOENT) {
        Fail(why, QStringLiteral("an older file of that name cannot be removed: ") + Reason(errno));
        return -1;
    }
    const int fd = ::openat(in.Fd(), n.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        Fail(why, Reason(errno));
    return fd;
}

int OpenFile(const Folder& in, const QString& name, QString* why)
{
    const int fd = ::openat(in.Fd(), Name(name).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        Fail(why, errno == ELOOP ? QStringLiteral("not a file of its own") : Reason(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        Fail(why, QStringLiteral("not a file of its own"));
        return -1;
    }
    return fd;
}

bool Rename(const Folder& in, const QString& from, const QString& to, QString* why)
{
    // renameat replaces a link named to itself; it never writes where one points.
    if (::renameat(in.Fd(), Name(from).constData(), in.Fd(), Name(to).constData()) == 0)
        return true;
    return Fail(why, Reason(errno));
}

}  // namespace NoFollow
