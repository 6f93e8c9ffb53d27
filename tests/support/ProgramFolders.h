#pragma once
#include "TestFiles.h"
#include <QDir>
#include <QTemporaryDir>
#include <unistd.h>

// A program folder of one kind, with the user's configuration folder moved
// into the same temporary tree. Read-only means no write bits, which counts
// even for root.
enum class FolderKind { Writable, ReadOnly, ReadOnlyWithIni };

struct ProgramFolder {
    QTemporaryDir root;
    QString program;
    QString expected;         // where qrn.ini and COMn links belong
    QString expectedRestart;  // the same, unless this user may not write there

    explicit ProgramFolder(FolderKind kind)
        : program(root.filePath("program")), m_oldConfig(qgetenv("XDG_CONFIG_HOME"))
    {
        QDir().mkpath(program);
        qputenv("XDG_CONFIG_HOME", root.filePath("config").toLocal8Bit());
        if (kind == FolderKind::ReadOnlyWithIni)
            WriteFile(QDir(program).filePath("qrn.ini"), "COM: 3\r\n");
        if (kind != FolderKind::Writable)
            QFile::setPermissions(program, kReadOnly);
        const QString config = root.filePath("config/Velotrax");
        expected = kind == FolderKind::ReadOnly ? config : program;
        // Root may write into a folder without write bits; anyone else may not.
        expectedRestart = access(QFile::encodeName(expected).constData(), W_OK) == 0 ? expected : config;
    }
    ~ProgramFolder()
    {
        QFile::setPermissions(program, kReadOnly | QFileDevice::WriteOwner);
        if (m_oldConfig.isEmpty())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", m_oldConfig);
    }

private:
    static constexpr auto kReadOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                      | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QByteArray m_oldConfig;
};

inline std::string FolderKindName(const ::testing::TestParamInfo<FolderKind>& info)
{
    switch (info.param) {
    case FolderKind::Writable: return "Writable";
    case FolderKind::ReadOnly: return "ReadOnly";
    case FolderKind::ReadOnlyWithIni: return "ReadOnlyWithIni";
    }
    return "Unknown";
}
