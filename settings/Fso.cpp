#include "Fso.h"
#include <cerrno>
#include <cstring>
#include <QDir>
#include <QFileInfo>

bool IsPathSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/';
#else
    return c == u'/';
#endif
}

namespace {
QChar NativeSeparator()
{
#ifdef Q_OS_WIN
    return u'\\';
#else
    return u'/';
#endif
}
}  // namespace

QString BuildPath(const QString& folder, const QString& name)
{
    if (folder.isEmpty())
        return name;
    if (IsPathSeparator(folder.back()) || (!name.isEmpty() && IsPathSeparator(name.front())))
        return folder + name;
    return folder + NativeSeparator() + name;
}

bool FileExists(const QString& path)
{
    const QFileInfo fi(path);
    return fi.exists() && fi.isFile();
}

bool FolderExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

namespace {
// Start and end of the last component, trailing separators not counted.
std::pair<qsizetype, qsizetype> LastComponent(const QString& path)
{
    qsizetype end = path.size();
    while (end > 0 && IsPathSeparator(path[end - 1]))
        --end;
    qsizetype cut = end;
    while (cut > 0 && !IsPathSeparator(path[cut - 1]))
        --cut;
    return {cut, end};
}
}  // namespace

QString GetParentFolderName(const QString& path)
{
    const qsizetype cut = LastComponent(path).first;
    if (cut == 0)
        return QString();
    qsizetype parentEnd = cut;
    while (parentEnd > 1 && IsPathSeparator(path[parentEnd - 1]))
        --parentEnd;
    QString parent = path.left(parentEnd);
#ifdef Q_OS_WIN
    if (parent.size() == 2 && parent[1] == u':')
        parent += u'\\';
#endif
    if (parent.isEmpty())
        parent = NativeSeparator();
    return parent;
}

QString GetFileName(const QString& path)
{
    const auto [cut, end] = LastComponent(path);
    return path.mid(cut, end - cut);
}

QDateTime DateLastModified(const QString& path)
{
    return QFileInfo(path).lastModified().toLocalTime();
}

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

QString FileFailure(const QFileDevice& file)
{
    const int error = errno;
    const QString qt = file.errorString();
    if (!qt.isEmpty() && qt != QLatin1String("Unknown error"))
        return qt;
    return error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : qt;
}

bool FlushToDisk(QFile& file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}
