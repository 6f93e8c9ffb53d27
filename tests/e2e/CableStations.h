#pragma once
#include "Fso.h"
#include "RecordingUi.h"
#include "SerialCommPort.h"
#include "Station.h"
#include "TestSupport.h"
#include "cable_process.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// A station on one end of the virtual null-modem cable: its own program
// folder with the COM1 link and the real qrnstamp beside it.
struct CableStation {
    QTemporaryDir dir;
    Globals g;
    std::unique_ptr<SerialCommPort> port;
    RecordingUi ui;
    std::unique_ptr<Station> station;
    QString receivePath;

    void Start(bool receiver, const QString& receiveFolderName = "in")
    {
        QFile::link(QStringLiteral(QRNSTAMP_EXE), BuildPath(dir.path(), "qrnstamp"));
        g.programDir = dir.path();
        port = std::make_unique<SerialCommPort>(dir.path());
        station = std::make_unique<Station>(g, *port, ui);
        station->StartUp();
        g.waitBeforeSend = 0;
        receivePath = BuildPath(dir.path(), receiveFolderName);
        QDir().mkpath(receivePath);
        ui.receivePathText = receivePath;
        ui.senderSelected = !receiver;
    }
    void EnableLog()
    {
        g.debugFlag = true;
        g.debugFile = BuildPath(dir.path(), "qrn_debug.log");
    }
    QString LogText() const
    {
        QFile f(g.debugFile);
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }
    TransferState& s() { return station->State(); }
    QString In(const QString& name) const { return BuildPath(receivePath, name); }
};

// A sender and a receiver joined by a running cable.
struct CablePair {
    CableStation sender, receiver;
    vnm::CableProcess cable;

    bool Start(const std::vector<std::string>& cableArgs, const QString& receiveFolderName = "in")
    {
        std::vector<std::string> args{"--link-a", BuildPath(sender.dir.path(), "COM1").toStdString(), "--link-b",
                                      BuildPath(receiver.dir.path(), "COM1").toStdString()};
        args.insert(args.end(), cableArgs.begin(), cableArgs.end());
        if (!cable.start(VNULLMODEM_EXE, args))
            return false;
        sender.Start(false);
        receiver.Start(true, receiveFolderName);
        return true;
    }
    // Both speak the specified protocol only, as with the original program.
    void Classic() { sender.g.classicOnly = receiver.g.classicOnly = true; }
};
