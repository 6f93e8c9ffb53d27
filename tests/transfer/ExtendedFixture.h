// Two Velotrax stations in the extended mode on the in-memory cable, and
// what the tests of that mode read from their writes.
#pragma once
#include "BlockCodes.h"
#include "StationHarness.h"
#include "TestFiles.h"
#include "WrittenBlocks.h"
#include <QRegularExpression>
#include <gtest/gtest.h>

inline QByteArray Text(int lines)
{
    QByteArray b;
    for (int i = 0; i < lines; ++i)
        b += "line " + QByteArray::number(i) + " of a text that compresses well\r\n";
    return b;
}

// Unstuffed block of one write (a lead 0x00, then the stuffed block).
inline QByteArray Unstuffed(const QByteArray& write)
{
    bool esc = false;
    return UnstuffAll(write.mid(1), esc);
}

// Adds delta to the first byte from `from` on that stays clear of the stuffing:
// 3..253 and not the second byte of an escape.
inline void Nudge(QByteArray& write, qsizetype from, int delta)
{
    for (qsizetype i = from; i < write.size(); ++i) {
        const quint8 c = quint8(write[i]);
        if (c >= 3 && c <= 253 && quint8(write[i - 1]) != 0x01) {
            write[i] = char(c + delta);
            return;
        }
    }
}

inline int BoxCount(const RecordingUi& ui, const QString& counter)
{
    const auto m = QRegularExpression(counter + QStringLiteral(": (\\d+)")).match(ui.BoxTexts().join('\n'));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

inline bool SentType(const MemoryCommPort& port, int type)
{
    for (const QByteArray& b : Blocks(port))
        if (quint8(b[1]) == type)
            return true;
    return false;
}

struct ExtendedFixture : ::testing::Test {
    std::unique_ptr<StationPair> pair = std::make_unique<StationPair>();
    QTemporaryDir sendDir;
    StationHarness* tx = &pair->sender;
    StationHarness* rx = &pair->receiver;

    void NewPair()
    {
        pair = std::make_unique<StationPair>();
        tx = &pair->sender;
        rx = &pair->receiver;
    }
    QString Source(const QString& name) const { return BuildPath(sendDir.path(), name); }
    void Run(const QStringList& names, bool restart = false)
    {
        rx->station->Activate(false);
        tx->ui.nextDialogResult = names.size() == 1 ? Source(names[0])
                                                   : sendDir.path() + QChar(0) + names.join(QChar(0));
        tx->station->Activate(restart);
    }
    bool SenderDone() { return WaitFor([&] { return !tx->port.PortOpen(); }, 8000); }
    // Sends and fails the Receiver's port once it holds 10000 bytes, with the
    // answers then on their way lost: it writes its restart file to resume from.
    void RunUntilTheReceiversPortFails(const QStringList& names)
    {
        rx->station->startOwnProgram = [] { return true; };
        rx->station->endProgramNow = [] {};
        rx->port.lineFilter = [this](const QByteArray& w) {
            if (rx->s().FileReceivingPos > 10000)
                tx->port.hold = true;
            return w;
        };
        Run(names);
        ASSERT_TRUE(WaitFor([&] { return !tx->port.held.isEmpty(); }, 5000));
        tx->port.held.clear();  // gone with the port
        tx->port.hold = false;
        rx->port.InjectEvent(PortEvent::Framing);
    }
    QByteArray Received(const QString& name) const { return ReadFile(rx->InReceivePath(name)); }
};
