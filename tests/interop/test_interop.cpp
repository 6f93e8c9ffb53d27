// Velotrax against spec_peer, a peer that speaks the protocol as the original
// program does (no silence rule, no repeat rule, ten answer repeats per run),
// with faults put on the virtual cable where a real line would have them.
#include "Fso.h"
#include "TestFiles.h"
#include "TestSupport.h"
#include "TestTree.h"
#include "cable_process.h"
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr int kRunMs = 60000;

struct Child {
    QProcess p;
    QString out, err;

    void Start(const QString& exe, const QStringList& args)
    {
        p.start(exe, args);
        ASSERT_TRUE(p.waitForStarted(kRunMs)) << p.errorString().toStdString();
    }
    void Collect()
    {
        out += QString::fromLocal8Bit(p.readAllStandardOutput());
        err += QString::fromLocal8Bit(p.readAllStandardError());
    }
    bool Shows(const QString& part)
    {
        return WaitFor([&] { Collect(); return out.contains(part); }, kRunMs);
    }
    bool Ends(int ms = kRunMs)
    {
        const bool ended = WaitFor([&] { return p.state() == QProcess::NotRunning; }, ms);
        Collect();
        return ended;
    }
    int Code() const { return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1; }
    int Stat(const QString& name) const
    {
        const auto m = QRegularExpression(name + QStringLiteral("=(\\d+)")).match(out);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    }
    ~Child()
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(kRunMs);
        }
    }
};

struct Interop : ::testing::Test {
    QTemporaryDir dir;
    vnm::CableProcess cable;
    QString outDir = dir.filePath("out"), inDir = dir.filePath("in");
    QString linkA = dir.filePath("A"), linkB = dir.filePath("B"), log = dir.filePath("velotrax.log");
    QByteArray content = RandomBytes(10000, 7);  // four data blocks and the empty one
    QString file = BuildPath(outDir, "f.bin");

    void SetUp() override
    {
        QDir().mkpath(outDir);
        QDir().mkpath(inDir);
        WriteFile(file, content);
    }
    void StartCable(std::vector<std::string> faults)
    {
        faults.insert(faults.end(), {"--baud", "115200", "--link-a", linkA.toStdString(), "--link-b",
                                     linkB.toStdString()});
        ASSERT_TRUE(cable.start(VNULLMODEM_EXE, faults)) << cable.error();
    }
    // The original program listening on end B.
    void StartPeerReceiver(Child& peer, const QStringList& options)
    {
        peer.Start(SPEC_PEER_EXE, QStringList{"receive", "--port", linkB, "--dir", inDir} + options);
        ASSERT_TRUE(peer.Shows("LISTENING")) << peer.err.toStdString();
    }
    void StartVelotraxSender(Child& tx)
    {
        tx.Start(VELOTRAX_CLI_EXE, {"send", "--port", linkA, "--log", log, "--log-level", "0", file});
    }
    QString Log() const { return QString::fromLocal8Bit(ReadFile(log)); }
};

TEST_F(Interop, VelotraxSenderRecoversWhatTheLineDoesToTheOriginalReceiver)
{
    struct Case {
        const char* what;
        std::vector<std::string> faults;
        QStringList peerOptions;
    };
    // Answers on the line: OK 0 and OK 1 take 11 bytes each, so byte 25 from B
    // is the code of the third answer: 90 becomes 91.
    const Case cases[] = {
        {"a byte of a data block lost", {"--drop-byte-at-ab", "1000"}, {}},
        {"ANSWER_OK damaged into NOT OK", {"--corrupt-byte-at-ba", "25:0x01"}, {}},
        {"an old ANSWER_OK delivered late", {}, {"--duplicate-answer-at", "3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartCable(c.faults);
        Child peer, tx;
        StartPeerReceiver(peer, QStringList{"--once"} + c.peerOptions);
        StartVelotraxSender(tx);
        ASSERT_TRUE(tx.Ends());
        EXPECT_EQ(tx.Code(), 0) << tx.err.toStdString();
        ASSERT_TRUE(peer.Ends());
        EXPECT_EQ(peer.Code(), 0);
        EXPECT_EQ(ReadFile(BuildPath(inDir, "f.bin")), content);
        // No resend cascade: at most the one block the fault hit came twice.
        EXPECT_LE(peer.Stat("rejected"), 1) << peer.out.toStdString();
        cable.stop();
        QFile::remove(BuildPath(inDir, "f.bin"));
    }
}

// The answers to the header (which carried the offer) and to "END" are lost
// once each; every lost answer costs a real silence, the other kinds are lost
// on the test clock (LostLine).
TEST_F(Interop, LostAnswersToTheOfferingHeaderAndToEndAreAskedForAgain)
{
    StartCable({});
    Child peer, tx;
    StartPeerReceiver(peer, {"--swallow-header-answers"});
    StartVelotraxSender(tx);
    ASSERT_TRUE(tx.Ends());
    EXPECT_EQ(tx.Code(), 0) << tx.err.toStdString();
    EXPECT_EQ(ReadFile(BuildPath(inDir, "f.bin")), content);
    EXPECT_TRUE(Log().contains("no answer: sent: answer: please resend answer."));
    // The offer went out, and the original Receiver took the header all the same.
    EXPECT_TRUE(Log().contains("|f.bin|VX1|"));
}

TEST_F(Interop, VelotraxReceiverAnswersTheResendOfABlockWhoseOkWasLost)
{
    StartCable({});
    Child rx, peer;
    rx.Start(VELOTRAX_CLI_EXE, {"receive", "--port", linkB, "-v", "--once", "--log", log, inDir});
    ASSERT_TRUE(WaitFor([&] { rx.Collect(); return rx.err.contains("listening"); }, kRunMs)) << rx.err.toStdString();
    peer.Start(SPEC_PEER_EXE, {"send", "--port", linkA, "--ok-lost-at", "3", file});
    ASSERT_TRUE(peer.Ends());
    EXPECT_EQ(peer.Code(), 0) << peer.err.toStdString();
    EXPECT_EQ(peer.Stat("rejected"), 1);
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 0) << rx.err.toStdString();
    EXPECT_EQ(ReadFile(BuildPath(inDir, "f.bin")), content);  // block 3 written once
    EXPECT_TRUE(Log().contains("repeat of the last block: answer sent again."));
}

// The files at the top go first; then the Sender ends the run, before any
// file of a folder could land flat in the original program's folder.
TEST_F(Interop, ATreeToTheOriginalReceiverEndsWithError18AndNothingFlat)
{
    const QStringList names = MakeTree(outDir);
    StartCable({});
    Child peer, tx;
    StartPeerReceiver(peer, {"--once"});
    tx.Start(VELOTRAX_CLI_EXE, {"send", "--port", linkA, BuildPath(outDir, names[1]), BuildPath(outDir, names[0])});
    ASSERT_TRUE(tx.Ends());
    EXPECT_EQ(tx.Code(), 18) << tx.err.toStdString();
    EXPECT_TRUE(tx.err.contains("The receiving program takes no folders")) << tx.err.toStdString();
    EXPECT_TRUE(tx.err.contains("no file from a subfolder was sent; files sent: 1 of 5"));
    ASSERT_TRUE(peer.Ends());
    EXPECT_EQ(peer.Code(), 18);  // it heard why
    EXPECT_EQ(TreeListing(inDir), QStringList{"top.txt: " + QString::number(qHash(ReadFile(BuildPath(outDir, "top.txt"))))});
}

}  // namespace
