#pragma once
// The virtual null-modem cable between console programs, with folders to
// send from and receive into.
#include "CliProcess.h"
#include "Fso.h"
#include "cable_process.h"
#include <QDir>
#include <QTemporaryDir>

namespace clitest {

// The two ends of the cable, and folders to send from and receive into.
struct CliCable : ::testing::Test {
    QTemporaryDir dir;
    vnm::CableProcess cable;
    QString linkA, linkB, outDir, inDir;

    void SetUp() override
    {
        linkA = dir.filePath("A");
        linkB = dir.filePath("B");
        outDir = dir.filePath("out");
        inDir = dir.filePath("in");
        QDir().mkpath(outDir);
        QDir().mkpath(inDir);
    }
    void StartCable(std::vector<std::string> args, const QString& a = {}, const QString& b = {})
    {
        if (!a.isEmpty())
            linkA = a;
        if (!b.isEmpty())
            linkB = b;
        args.insert(args.end(), {"--link-a", linkA.toStdString(), "--link-b", linkB.toStdString()});
        ASSERT_TRUE(cable.start(VNULLMODEM_EXE, args)) << cable.error();
    }
    QString Out(const QString& name) const { return BuildPath(outDir, name); }
    QString In(const QString& name) const { return BuildPath(inDir, name); }
    // A listening receiver on end B.
    void StartReceiver(Cli& rx, const QStringList& options = {})
    {
        rx.Start(QStringList{"receive", "--port", linkB, "-v"} + options + QStringList{inDir});
        ASSERT_TRUE(rx.Shows("listening ...")) << rx.err.toStdString();
    }
    QStringList SendArgs(const QStringList& optionsAndFiles) const
    {
        return QStringList{"send", "--port", linkA} + optionsAndFiles;
    }
};

// A file long enough to be interrupted: 30 blocks with a pause before each.
struct Interrupted : CliCable {
    QByteArray content = RandomBytes(30 * 2560, 6);
    QStringList slowSend;
    void SetUp() override
    {
        CliCable::SetUp();
        StartCable({"--baud", "0"});
        WriteDated(Out("big.bin"), content);
        slowSend = SendArgs({"--wait-ms", "40", Out("big.bin")});
    }
};

}  // namespace clitest
