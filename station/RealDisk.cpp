#include "RealDisk.h"
#include "CommonRoutines.h"
#include "Fso.h"
#include "Locations.h"
#include "NoFollow.h"
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <unistd.h>
#include <filesystem>
#include <system_error>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
class QtDiskFile : public DiskFile {
public:
    // path: what Path() says of a file opened from a descriptor, which has no name of its own.
    explicit QtDiskFile(std::unique_ptr<QFile> file, const QString& path = {})
        : m_file(std::move(file)), m_path(path.isEmpty() ? m_file->fileName() : path) {}

    QString Path() const override { return m_path; }
    qint64 Size() const override { return m_file->size(); }
    QByteArray ReadAt(qint64 offset, qint64 n) override
    {
        if (!m_file->seek(offset))
            return Failed(QByteArray());
        QByteArray bytes = m_file->read(n);
        return bytes.size() == n ? bytes : Failed(std::move(bytes));
    }
    bool WriteAt(qint64 offset, const char* bytes, qint64 n) override
    {
        return (m_file->seek(offset) && m_file->write(bytes, n) == n) || Failed(false);
    }
    bool Resize(qint64 size) override { return m_file->resize(size) || Failed(false); }
    qint64 NextData(qint64 offset) const override
    {
#ifdef SEEK_DATA
        const off_t data = ::lseek(m_file->handle(), off_t(offset), SEEK_DATA);
        if (data >= 0)
            return qMax(offset, qint64(data));
        if (errno == ENXIO)
            return qMax(offset, m_file->size());  // a hole to the end
#endif
        return offset;
    }
    bool Flush() override { return FlushToDisk(*m_file) || Failed(false); }
    QString Failure() const override { return m_failure; }

private:
    // The reason is read at once: errno does not wait.
    template <class T>
    T Failed(T result)
    {
        m_failure = FileFailure(*m_file);
        return result;
    }

    std::unique_ptr<QFile> m_file;
    QString m_path;
    QString m_failure;
};

std::unique_ptr<DiskFile> Open(const QString& path, QIODevice::OpenMode mode, QString* why)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(mode)) {
        if (why)
            *why = FileFailure(*file);
        return nullptr;
    }
    return std::make_unique<QtDiskFile>(std::move(file));
}

bool IsLink(const QString& path)
{
    return QFileInfo(path).isSymLink();
}

// Sets the date the way qrnstamp does: the date number read with today's UTC
// offset, only the modification time changed.
bool SetModifiedDateHere(const QString& target, double dateNumber)
{
    const QDateTime local = NumberToDate(dateNumber);
    if (!local.isValid())
        return false;
    const qint64 offset = QDateTime::currentDateTime().offsetFromUtc();
    const QDateTime utc = QDateTime(local.date(), local.time(), Qt::UTC).addSecs(-offset);
    QFile f(target);
    return f.open(QIODevice::ReadOnly) && f.setFileTime(utc, QFileDevice::FileModificationTime);
}
}  // namespace

std::unique_ptr<DiskFile> RealDisk::OpenToRead(const QString& path, QString* why)
{
    return Open(path, QIODevice::ReadOnly, why);
}

std::unique_ptr<DiskFile> RealDisk::CreateTemp(const QString& path, QString* why)
{
    QFile old(path);
    old.remove();
    if (QFileInfo::exists(path) || IsLink(path)) {
        if (why)
            *why = QStringLiteral("an older file of that name cannot be removed: ") + FileFailure(old);
        return nullptr;
    }
    // Unbuffered: a write the disk refuses fails at once, with its reason.
    return Open(path, QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered, why);
}

std::unique_ptr<DiskFile> RealDisk::OpenTemp(const QString& path, QString* why)
{
    if (!FileExists(path) || IsLink(path)) {
        if (why)
            *why = QStringLiteral("not a file of its own");
        return nullptr;
    }
    return Open(path, QIODevice::ReadWrite | QIODevice::Unbuffered, why);
}

FileFacts RealDisk::Look(const QString& path) const
{
    const QFileInfo info(path);
    return {info.exists(), info.isSymLink(), info.exists() ? info.size() : 0};
}

double RealDisk::ModifiedDate(const QString& path) const
{
    return DateToNumber(DateLastModified(path));
}

bool RealDisk::Rename(const QString& from, const QString& to, QString* why)
{
    std::error_code ec;
    std::filesystem::rename(from.toStdU16String(), to.toStdU16String(), ec);
    if (ec && why)
        *why = QString::fromLocal8Bit(ec.message());
    return !ec;
}

bool RealDisk::Remove(const QString& path)
{
    return QFile::remove(path) && !QFileInfo::exists(path);
}

std::optional<QByteArray> RealDisk::ReadWhole(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

bool RealDisk::WriteWhole(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (f.write(bytes) != bytes.size() || !FlushToDisk(f)) {
        f.remove();
        return false;
    }
    return true;
}

#ifdef Q_OS_UNIX
namespace {
std::unique_ptr<DiskFile> FromDescriptor(int fd, const QString& path, QString* why)
{
    if (fd < 0)
        return nullptr;
    auto file = std::make_unique<QFile>();
    // Unbuffered, as CreateTemp: a write the disk refuses fails at once, with its reason.
    if (!file->open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = file->errorString();
        return nullptr;
    }
    return std::make_unique<QtDiskFile>(std::move(file), path);
}

QString PathIn(const QString& root, const QString& folder, const QString& name)
{
    return BuildPath(folder.isEmpty() ? root : BuildPath(root, folder), name);
}
}  // namespace

bool RealDisk::MakeFolders(const QString& root, const QString& folder, QString* why)
{
    return NoFollow::Open(root, folder, true, why).IsOpen();
}

std::unique_ptr<DiskFile> RealDisk::CreateTempIn(const QString& root, const QString& folder, const QString& name,
                                                 QString* why)
{
    const NoFollow::Folder in = NoFollow::Open(root, folder, false, why);
    return in.IsOpen() ? FromDescriptor(NoFollow::CreateFile(in, name, why), PathIn(root, folder, name), why) : nullptr;
}

std::unique_ptr<DiskFile> RealDisk::OpenTempIn(const QString& root, const QString& folder, const QString& name,
                                               QString* why)
{
    const NoFollow::Folder in = NoFollow::Open(root, folder, false, why);
    return in.IsOpen() ? FromDescriptor(NoFollow::OpenFile(in, name, why), PathIn(root, folder, name), why) : nullptr;
}

bool RealDisk::RenameIn(const QString& root, const QString& folder, const QString& from, const QString& to,
                        QString* why)
{
    const NoFollow::Folder in = NoFollow::Open(root, folder, false, why);
    return in.IsOpen() && NoFollow::Rename(in, from, to, why);
}
#else
// Without openat each folder on the way is looked at before it is used.
namespace {
QString LinkOnTheWay(const QString& root, const QString& folder)
{
    QString path = root;
    for (const QString& c : folder.split(u'/', Qt::SkipEmptyParts)) {
        path = BuildPath(path, c);
        const QFileInfo info(path);
        if (info.isSymLink() || info.isJunction() || (info.exists() && !info.isDir()))
            return QStringLiteral("'%1' is a symbolic link or a file, not a folder; it is not followed").arg(c);
    }
    return {};
}

QString FolderPath(const QString& root, const QString& folder)
{
    return folder.isEmpty() ? root : BuildPath(root, folder);
}

bool Refused(const QString& root, const QString& folder, QString* why)
{
    const QString link = LinkOnTheWay(root, folder);
    if (!link.isEmpty() && why)
        *why = link;
    return !link.isEmpty();
}
}  // namespace

bool RealDisk::MakeFolders(const QString& root, const QString& folder, QString* why)
{
    if (Refused(root, folder, why))
        return false;
    if (QDir().mkpath(FolderPath(root, folder)) && !Refused(root, folder, why))
        return true;
    if (why && why->isEmpty())
        *why = QStringLiteral("cannot make the folder '%1'").arg(folder);
    return false;
}

std::unique_ptr<DiskFile> RealDisk::CreateTempIn(const QString& root, const QString& folder, const QString& name,
                                                 QString* why)
{
    return Refused(root, folder, why) ? nullptr : CreateTemp(BuildPath(FolderPath(root, folder), name), why);
}

std::unique_ptr<DiskFile> RealDisk::OpenTempIn(const QString& root, const QString& folder, const QString& name,
                                               QString* why)
{
    return Refused(root, folder, why) ? nullptr : OpenTemp(BuildPath(FolderPath(root, folder), name), why);
}

bool RealDisk::RenameIn(const QString& root, const QString& folder, const QString& from, const QString& to,
                        QString* why)
{
    const QString in = FolderPath(root, folder);
    return !Refused(root, folder, why) && Rename(BuildPath(in, from), BuildPath(in, to), why);
}
#endif

bool RealDisk::SetModifiedDate(const QString& path, double date)
{
    // qrnstamp reads every "?" of its path as a blank, so it would date
    // another file, or none: such a name gets its date here.
    if (path.contains(u'?'))
        return SetModifiedDateHere(path, date);
    QString spaced = path;
    ReplaceChar(spaced, QStringLiteral(" "), QStringLiteral("?"));
    const QStringList args{spaced, DoubleToText(date)};
    return startDetached ? startDetached(m_qrnstamp, args) : QProcess::startDetached(m_qrnstamp, args);
}

QString RealDisk::DatesUnavailable() const
{
    const QFileInfo exe(m_qrnstamp);
    if (exe.isFile() && exe.isExecutable())
        return {};
    if (m_qrnstampLookedIn.isEmpty())
        return QStringLiteral("qrnstamp not found: ") + m_qrnstamp;
    return QStringLiteral("qrnstamp not found; looked in ") + m_qrnstampLookedIn.join(QStringLiteral(", "));
}

void RealDisk::UseQrnstampFrom(const QString& programFolder)
{
    QString found = FindQrnstamp(programFolder);
    // When it is missing, starting it fails and the count of dates not set says where it was looked for.
    if (found.isEmpty())
        found = BuildPath(programFolder, QStringLiteral("qrnstamp"));
    m_qrnstamp = found;
    m_qrnstampLookedIn = QrnstampFolders(programFolder);
}
