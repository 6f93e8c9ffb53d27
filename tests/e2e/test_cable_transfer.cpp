#include "CableStations.h"
#include "TestFiles.h"
#include <QDateTime>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <sys/stat.h>

namespace {
QDateTime ModifiedTime(const QString& path)
{
    return QFileInfo(path).lastModified();
}

struct CableTransfer : ::testing::Test {
    CablePair pair;
    QTemporaryDir sendDir;
    CableStation& tx = pair.sender;
    CableStation& rx = pair.receiver;

    QString Source(const QString& name) const { return BuildPath(sendDir.path(), name); }
    void Run(const QStringList& names)
    {
        rx.station->Activate(false);
        ASSERT_TRUE(rx.port->PortOpen()) << rx.ui.BoxTexts().join('|').toStdString();
        tx.ui.nextDialogResult = names.size() == 1 ? Source(names[0])
                                                   : sendDir.path() + QChar(0) + names.join(QChar(0));
        tx.station->Activate(false);
        ASSERT_TRUE(WaitFor([&] { return !tx.port->PortOpen(); }, 60000)) << "sender still busy";
    }
};
}  // namespace

TEST_F(CableTransfer, OneFileAt115200FollowsTheBlockTableInTheLogs)
{
    ASSERT_TRUE(pair.Start({"--baud", "115200"})) << pair.cable.error();
    pair.Classic();
    tx.EnableLog();
    rx.EnableLog();
    const QByteArray content = RandomBytes(3000, 11);
    const QDateTime when(QDate(2007, 3, 15), QTime(14, 30, 55));
    WriteFile(Source("report.pdf"), content, when);
    Run({"report.pdf"});
    EXPECT_EQ(tx.ui.status2, "Files sent: 1");
    EXPECT_EQ(ReadFile(rx.In("report.pdf")), content);
    // qrnstamp runs detached: wait until it has set the sender's time.
    EXPECT_TRUE(WaitFor([&] { return ModifiedTime(rx.In("report.pdf")) == when; }));

    // The receiver took blocks 1 to 5, each one after the last.
    const QString rlog = rx.LogText();
    QStringList seen;
    QRegularExpression seq("nSequenceNrA, nSequenceNrB, lastSequenceNr: (\\d+), (\\d+), (\\d+)");
    for (auto m = seq.globalMatch(rlog); m.hasNext();) {
        const auto match = m.next();
        seen << match.captured(1) + '/' + match.captured(2) + '/' + match.captured(3);
    }
    EXPECT_EQ(seen, (QStringList{"1/1/0", "2/2/1", "3/3/2", "4/4/3", "5/5/4"}));
    EXPECT_EQ(rlog.count("sent: answer: received ok."), 4);
    EXPECT_TRUE(rlog.contains("Received: data, nrbytes = 2560"));
    EXPECT_TRUE(rlog.contains("Received: data, nrbytes = 440"));
    EXPECT_TRUE(rlog.contains("Received: data, nrbytes = 0"));
    EXPECT_TRUE(rlog.contains("date 20070315143055 set to file " + rx.In("report.pdf")));
    // The sender saw ok answers carrying 0 to 3, then all-received carrying 4.
    const QString slog = tx.LogText();
    QStringList answers;
    QRegularExpression ans("nBlockType: (\\d+)\\r\\n[^\\r]*nSequenceNr: (-?\\d+)");
    for (auto m = ans.globalMatch(slog); m.hasNext();) {
        const auto match = m.next();
        answers << match.captured(1) + '=' + match.captured(2);
    }
    EXPECT_EQ(answers, (QStringList{"90=0", "90=1", "90=2", "90=3", "92=4"}));
    EXPECT_TRUE(slog.contains("String sent   : '3000|20070315143055|report.pdf'"));
}

TEST_F(CableTransfer, ManyFilesWithOddSizesNamesAndAReceiveFolderWithBlanks)
{
    ASSERT_TRUE(pair.Start({"--baud", "0"}, "in box")) << pair.cable.error();
    QStringList names;
    QList<QByteArray> contents;
    for (qsizetype n : {0, 2559, 2560, 2561, 5120}) {
        names << QString("f%1.bin").arg(n);
        contents << RandomBytes(n, quint32(n) + 1);
    }
    names << "zero one.bin";
    QByteArray zo(6000, '\0');
    for (int i = 1; i < zo.size(); i += 3)
        zo[i] = '\x01';
    contents << zo;
    names << "old.txt";
    contents << "replacement";
    WriteFile(rx.In("old.txt"), "previous content");
    const QDateTime when = QDateTime::currentDateTime().addDays(-400).addSecs(-17);
    for (int i = 0; i < names.size(); ++i)
        WriteFile(Source(names[i]), contents[i], when);

    Run(names);
    EXPECT_EQ(tx.ui.status2, "Files sent: 7");
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(ReadFile(rx.In(names[i])), contents[i]) << names[i].toStdString();
    const QDateTime whole = QDateTime::fromSecsSinceEpoch(when.toSecsSinceEpoch());
    for (const QString& n : names)
        EXPECT_TRUE(WaitFor([&] { return ModifiedTime(rx.In(n)) == whole; })) << n.toStdString();
    EXPECT_EQ(rx.ui.status2, "Files received: 7");
    EXPECT_TRUE(rx.ui.boxes.empty()) << rx.ui.BoxTexts().join('|').toStdString();
    EXPECT_TRUE(rx.port->PortOpen());
}

TEST_F(CableTransfer, CorruptedByteIsResentAndTheFileArrivesIntact)
{
    // Byte 300 from A to B lies inside the first data block's payload.
    ASSERT_TRUE(pair.Start({"--baud", "0", "--corrupt-byte-at-ab", "300:0x40"})) << pair.cable.error();
    const QByteArray content = RandomBytes(7000, 5);
    WriteFile(Source("c.bin"), content);
    Run({"c.bin"});
    EXPECT_EQ(tx.ui.status2, "Files sent: 1");
    EXPECT_EQ(ReadFile(rx.In("c.bin")), content);
    ASSERT_EQ(rx.ui.boxes.size(), 1u);
    EXPECT_TRUE(rx.ui.boxes[0].text.startsWith("Resend-reasons: "));
    EXPECT_FALSE(rx.ui.boxes[0].text.contains("IncorrectChecksum: 0") && rx.ui.boxes[0].text.contains("Seqnr start/end diff: 0")
                 && rx.ui.boxes[0].text.contains("byte 1 not A/H: 0"));
}

TEST_F(CableTransfer, ShortFileIsErrorNineOnBothSides)
{
    ASSERT_TRUE(pair.Start({"--baud", "115200"})) << pair.cable.error();
    pair.Classic();
    WriteFile(Source("s.bin"), RandomBytes(20000, 9));
    rx.station->Activate(false);
    tx.ui.nextDialogResult = Source("s.bin");
    tx.station->Activate(false);
    // Once the header is through, the sender believes the file is shorter.
    ASSERT_TRUE(WaitFor([&] { return rx.s().stage == Stage::InFile; }));
    tx.station->Sender().RunForTesting().sendFileSize = 3000;
    ASSERT_TRUE(WaitFor([&] { return !tx.port->PortOpen() && !rx.port->PortOpen(); }));
    EXPECT_EQ(rx.ui.status2, "Incorrect filesize received");
    EXPECT_TRUE(rx.ui.SawBoxContaining("expecting 20000 bytes, received 3000"));
    EXPECT_EQ(tx.ui.BoxTexts(), QStringList{"ERROR from other side: Incorrect filesize received"});
    EXPECT_TRUE(QFile::exists(rx.In("_s.bin.tmp")));
}

TEST_F(CableTransfer, StoppedFileIsFinishedWithRestartAFile)
{
    ASSERT_TRUE(pair.Start({"--baud", "115200"})) << pair.cable.error();
    const QByteArray content = RandomBytes(30000, 21);
    WriteFile(Source("r.bin"), content);
    rx.station->Activate(false);
    tx.ui.nextDialogResult = Source("r.bin");
    tx.station->Activate(false);
    ASSERT_TRUE(WaitFor([&] { return rx.s().FileReceivingPos > 10000; }));
    tx.station->StopByUser();
    ASSERT_TRUE(WaitFor([&] { return rx.ui.status2 == "other side pressed Stop"; }));
    EXPECT_TRUE(rx.ui.SawBoxContaining("Delete tempfile '"));  // answered No
    EXPECT_TRUE(rx.port->PortOpen());
    EXPECT_TRUE(QFile::exists(rx.In("_r.bin.tmp")));

    tx.ui.nextDialogResult = Source("r.bin");
    tx.station->Activate(true);
    ASSERT_TRUE(WaitFor([&] { return !tx.port->PortOpen(); }, 30000));
    EXPECT_EQ(tx.ui.status2, "Files sent: 1");
    EXPECT_EQ(ReadFile(rx.In("r.bin")), content);

    // Once more: now there is no temp file any more.
    tx.station->Activate(true);
    ASSERT_TRUE(WaitFor([&] { return !tx.port->PortOpen(); }));
    EXPECT_TRUE(tx.ui.SawBoxContaining("ERROR from other side: Restart: could not open tmpfile for this file!"));
    EXPECT_EQ(rx.ui.status2, "Restart: could not open tmpfile for this file!");
}
