// The automatic restart with real program processes: a receiving station
// loses its port in the middle of a file (the cable hangs its end up and
// brings it back behind the same link), writes the restart file and starts
// the desktop program from its folder; that instance resumes, loses the port
// again, starts a new instance of itself and ends; the last one completes the
// file. The sender waits throughout, as a real one does.
#include "CableStations.h"
#include "ProgramProcesses.h"
#include "RestartFile.h"
#include <QDateTime>
#include <QProcess>
#include <QRandomGenerator>
#include <csignal>

namespace {
struct ProcessRestart : ::testing::Test {
    CablePair pair;
    QTemporaryDir sendDir;
    CableStation& tx = pair.sender;
    CableStation& rx = pair.receiver;
    QString program;

    void TearDown() override
    {
        for (qint64 pid : ProcessesRunning(program))
            ::kill(pid_t(pid), SIGKILL);
    }
};
}  // namespace

TEST_F(ProcessRestart, ReceiverProcessRestartsItselfAndTheFileArrivesWhole)
{
    // Two hang-ups of the receiving end, each in the middle of the file.
    ASSERT_TRUE(pair.Start({"--baud", "460800", "--hangup-b-after", "12000", "--hangup-b-after", "40000"}))
        << pair.cable.error();
    program = BuildPath(rx.dir.path(), "velotrax");
    ASSERT_TRUE(QFile::copy(VELOTRAX_EXE, program));

    QByteArray content(60000, '\0');
    QRandomGenerator rng(3);
    for (char& c : content)
        c = char(rng.bounded(256));
    const QString source = BuildPath(sendDir.path(), "big file.bin");
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.flush();
        ASSERT_TRUE(f.setFileTime(QDateTime(QDate(2021, 6, 1), QTime(8, 9, 10)), QFileDevice::FileModificationTime));
    }

    // The first receiving instance is this process's station; its restart starts the real program.
    bool handedOver = false;
    rx.station->startOwnProgram = [&] {
        QProcess p;
        p.setProgram(program);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        return handedOver = p.startDetached();
    };
    rx.station->endProgramNow = [] {};
    tx.EnableLog();
    rx.EnableLog();  // saved with the settings, so every instance writes to the same log
    rx.station->Activate(false);
    tx.ui.nextDialogResult = source;
    tx.station->Activate(false);

    ASSERT_TRUE(WaitFor([&] { return handedOver; }, 30000)) << "no restart after the first hang-up";
    EXPECT_FALSE(rx.port->PortOpen());
    ASSERT_TRUE(WaitFor([&] { return !tx.port->PortOpen(); }, 60000)) << tx.ui.status2.toStdString();
    ASSERT_EQ(tx.ui.status2, "Files sent: 1") << "sender log:\n" << tx.LogText().right(3000).toStdString()
                                               << "\nreceiver log:\n" << rx.LogText().right(6000).toStdString();
    EXPECT_TRUE(tx.ui.boxes.empty()) << tx.ui.BoxTexts().join('|').toStdString();

    const QString target = rx.In("big file.bin");
    QFile got(target);
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_EQ(got.readAll(), content);
    EXPECT_TRUE(WaitFor([&] { return QFileInfo(target).lastModified() == QDateTime(QDate(2021, 6, 1), QTime(8, 9, 10)); }));
    EXPECT_FALSE(QFile::exists(rx.In("_big file.bin.tmp")));
    EXPECT_FALSE(QFile::exists(RestartFilePath(rx.g.RestartDir())));
    // At least two resumptions, the second by an instance the program started itself (a loaded
    // machine may see one more port error while the cable relinks); one instance is left, listening.
    EXPECT_GE(rx.LogText().count("TRYING TO RESTART"), 2) << rx.LogText().toStdString();
    EXPECT_EQ(ProcessesRunning(program).size(), 1);
}
