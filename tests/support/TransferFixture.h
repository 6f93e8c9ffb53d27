#pragma once
#include "StationHarness.h"
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Two stations on the in-memory cable and a folder to send from.
struct TransferFixture : ::testing::Test {
    StationPair pair;
    QTemporaryDir sendDir;
    StationHarness& tx = pair.sender;
    StationHarness& rx = pair.receiver;

    void Listen()
    {
        rx.station->Activate(false);
        ASSERT_TRUE(rx.port.PortOpen());
    }
    QString Source(const QString& name) const { return BuildPath(sendDir.path(), name); }
    void Send(const QStringList& names, bool restart = false)
    {
        tx.ui.nextDialogResult = names.size() == 1 ? Source(names[0])
                                                   : sendDir.path() + QChar(0) + names.join(QChar(0));
        tx.station->Activate(restart);
    }
    bool WaitSenderDone(int ms = 10000)
    {
        return WaitFor([&] { return !tx.port.PortOpen(); }, ms);
    }
};
