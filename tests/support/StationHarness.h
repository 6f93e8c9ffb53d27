#pragma once
#include "Fso.h"
#include "MemoryCommPort.h"
#include "RecordingUi.h"
#include "Station.h"
#include "TestSupport.h"
#include <QDir>
#include <QTemporaryDir>
#include <memory>

// One station on the in-memory cable, living in its own temporary program folder.
struct StationHarness {
    QTemporaryDir dir;
    Globals g;
    MemoryCommPort port;
    RecordingUi ui;
    std::unique_ptr<Station> station;
    QString receivePath;
    QStringList startedPrograms;  // command lines of qrnstamp starts

    // programDir: share another station's program folder, as a restarted instance does.
    // peer: the cable's other end, joined before start-up (a resuming instance answers at once).
    explicit StationHarness(bool receiver, const QString& programDir = {}, MemoryCommPort* peer = nullptr)
    {
        if (peer)
            MemoryCommPort::Connect(port, *peer);
        g.programDir = programDir.isEmpty() ? dir.path() : programDir;
        station = std::make_unique<Station>(g, port, ui, TestClock());
        station->StartUp();
        g.waitBeforeSend = 0;
        g.speed = 0;  // the in-memory cable carries every write at once: no line time
        receivePath = BuildPath(g.programDir, "in");
        QDir().mkpath(receivePath);
        ui.receivePathText = receivePath;
        ui.senderSelected = !receiver;
        station->Disk().startDetached = [this](const QString& program, const QStringList& args) {
            startedPrograms << program + ' ' + args.join(' ');
            return true;
        };
    }
    TransferState& s() { return station->State(); }
    QString InReceivePath(const QString& name) const { return BuildPath(receivePath, name); }
};

// Two stations joined by the in-memory cable.
struct StationPair {
    StationHarness sender{false};
    StationHarness receiver{true};
    StationPair() { MemoryCommPort::Connect(sender.port, receiver.port); }
    // Both speak the specified protocol only, as with the original program.
    void Classic() { sender.g.classicOnly = receiver.g.classicOnly = true; }
};
