#include "RealDisk.h"
#include "CommonRoutines.h"
#include "Fso.h"
#include "Locations.h"
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <unistd.h>
#include <filesystem>
#include <system_error>

namespace {
class QtDiskFile : public DiskFile {
public:
    explicit QtDiskFile(std::unique_ptr<QFile> file) : m_file(std::move(file)) {}

    QString Path() const override { return m_file->fileName(); }
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
