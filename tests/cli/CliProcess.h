#pragma once
// Runs of the velotrax-cli program for the tests, and the files they move.
#include "TestFiles.h"
#include "TestSupport.h"
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <csignal>
#include <functional>

namespace clitest {

constexpr int kDeadlineMs = 20000;

inline const QDateTime kStamp(QDate(2021, 5, 6), QTime(7, 8, 9));

// A file with the date the receiving side must give it.
inline void WriteDated(const QString& path, const QByteArray& content)
{
    WriteFile(path, content, kStamp);
}

// qrnstamp runs detached, so the date follows the file a moment later.
inline bool GetsTheSendersDate(const QString& path)
{
    return WaitFor([&] { return QFileInfo(path).lastModified().toSecsSinceEpoch() == kStamp.toSecsSinceEpoch(); },
                   kDeadlineMs);
}

// One run of the console program, its standard error collected as it comes.
struct Cli {
    QProcess p;
    QString err;

    void Start(const QStringList& args, std::function<void()> inChild = {})
    {
        if (inChild)
            p.setChildProcessModifier(std::move(inChild));
        p.start(QStringLiteral(VELOTRAX_CLI_EXE), args);
        ASSERT_TRUE(p.waitForStarted(kDeadlineMs)) << p.errorString().toStdString();
    }
    QString Err()
    {
        err += QString::fromLocal8Bit(p.readAllStandardError());
        return err;
    }
    bool Shows(const QString& part) { return WaitFor([&] { return Err().contains(part); }, kDeadlineMs); }
    bool Ends() { return WaitFor([&] { return p.state() == QProcess::NotRunning; }, kDeadlineMs); }
    int Code() const { return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1; }
    void Signal(int signal) { ::kill(pid_t(p.processId()), signal); }
    bool Running() const { return p.state() != QProcess::NotRunning; }
    ~Cli()
    {
        if (Running()) {
            p.kill();
            p.waitForFinished(kDeadlineMs);
        }
    }
};

// Runs the program to its end; returns the exit code, or -1 when it did not end.
inline int RunToEnd(Cli& c, const QStringList& args)
{
    c.Start(args);
    return c.Ends() ? c.Code() : -1;
}

}  // namespace clitest
