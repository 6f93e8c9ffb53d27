#include "Locations.h"
#include "Fso.h"
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString kSettingsName = QStringLiteral("qrn.ini");

#ifdef Q_OS_WIN
const QString kQrnstampName = QStringLiteral("qrnstamp.exe");
#else
const QString kQrnstampName = QStringLiteral("qrnstamp");
#endif

bool SameFolder(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

bool IsInstallFolder(const QString& folder)
{
#ifdef VELOTRAX_INSTALL_BINDIR
    return SameFolder(folder, QStringLiteral(VELOTRAX_INSTALL_BINDIR));
#else
    Q_UNUSED(folder);
    return false;
#endif
}

bool MayWrite(const QString& folder)
{
    const QFileInfo info(folder);
    constexpr auto anyWrite = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return info.isDir() && info.isWritable() && (info.permissions() & anyWrite);
}

QString UserConfigFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString folder = BuildPath(base.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : base,
                                     QStringLiteral("Velotrax"));
    QDir().mkpath(folder);  // a failure shows later, in the message naming the file
    return folder;
}

}  // namespace

QString SettingsFolder(const QString& programFolder)
{
    if (FileExists(BuildPath(programFolder, kSettingsName)))
        return programFolder;
    if (MayWrite(programFolder) && !IsInstallFolder(programFolder))
        return programFolder;
    return UserConfigFolder();
}

QString RestartFolder(const QString& programFolder)
{
    const QString folder = SettingsFolder(programFolder);
    return QFileInfo(folder).isWritable() ? folder : UserConfigFolder();
}

QStringList QrnstampFolders(const QString& programFolder)
{
    QStringList folders{programFolder};
#ifdef VELOTRAX_QRNSTAMP_INSTALL_DIR
    const QString installed = QStringLiteral(VELOTRAX_QRNSTAMP_INSTALL_DIR);
    if (!SameFolder(programFolder, installed))
        folders << installed;
#endif
    return folders;
}

QString FindHelpFile(const QString& programFolder)
{
    const QString beside = BuildPath(programFolder, QStringLiteral("Velotrax.html"));
#ifdef VELOTRAX_HELP_INSTALL_DIR
    const QString installed = BuildPath(QStringLiteral(VELOTRAX_HELP_INSTALL_DIR), QStringLiteral("Velotrax.html"));
    if (!FileExists(beside) && FileExists(installed))
        return installed;
#endif
    return beside;
}

QString FindQrnstamp(const QString& programFolder)
{
    for (const QString& folder : QrnstampFolders(programFolder)) {
        const QFileInfo candidate(BuildPath(folder, kQrnstampName));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.filePath();
    }
    return {};
}
