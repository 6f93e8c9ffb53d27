#pragma once
#include <QDirIterator>
#include <QFileInfo>
#include <QList>
#include <QString>

// Every running copy of the program file at path (a copy of the program in a
// test folder, so only the test's own instances count).
inline QList<qint64> ProcessesRunning(const QString& path)
{
    QList<qint64> pids;
    const QString target = QFileInfo(path).canonicalFilePath();
    QDirIterator it("/proc", QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        bool ok = false;
        const qint64 pid = it.fileName().toLongLong(&ok);
        if (ok && QFileInfo(it.filePath() + "/exe").symLinkTarget() == target)
            pids << pid;
    }
    return pids;
}
