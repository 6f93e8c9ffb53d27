#include "AnswerMatch.h"
#include "ErrorNumbers.h"
#include "Frame.h"
#include "TransferFixture.h"
#include "TestFiles.h"
#include "WrittenBlocks.h"
#include <QDateTime>
#include <gtest/gtest.h>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>


TEST_F(TransferFixture, OneFileOf3000BytesFollowsTheBlockTable)
{
    pair.Classic();
    const QByteArray content = RandomBytes(3000, 1);
    const QDateTime when(QDate(2007, 3, 15), QTime(14, 30, 55));
    WriteFile(Source("report.pdf"), content, when);
    Listen();
    Send({"report.pdf"});
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(tx.ui.status2, "Files sent: 1");
    EXPECT_EQ(ReadFile(rx.InReceivePath("report.pdf")), content);
    EXPECT_FALSE(QFile::exists(rx.InReceivePath("_report.pdf.tmp")));
    EXPECT_EQ(rx.ui.status2, "Files received: 1");
    EXPECT_TRUE(rx.port.PortOpen());  // the receiver listens on

    const auto sent = Blocks(tx.port);
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0].mid(12, sent[0].size() - 16), "3000|20070315143055|report.pdf");
    const int types[] = {11, 13, 13, 13, 11};
    const int sizes[] = {30, 2560, 440, 0, 3};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(sent[i][1], char(types[i])) << i;
        EXPECT_EQ(Le32(sent[i], 2), i + 1) << i;
        EXPECT_EQ(sent[i].size(), sizes[i] + 16) << i;
    }
    const auto answers = Blocks(rx.port);
    ASSERT_EQ(answers.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(quint8(answers[i][1]), i < 4 ? 90 : 92) << i;
        EXPECT_EQ(Le32(answers[i], 2), i) << i;
    }
    ASSERT_EQ(rx.startedPrograms.size(), 1);
    EXPECT_EQ(rx.startedPrograms[0],
              BuildPath(rx.dir.path(), "qrnstamp") + ' ' + rx.InReceivePath("report.pdf") + " 20070315143055");
}

TEST_F(TransferFixture, SeveralFilesOfBoundarySizesInOneRun)
{
    QStringList names;
    QList<QByteArray> contents;
    const qsizetype sizes[] = {0, 1, 2559, 2560, 2561, 5120};
    for (qsizetype n : sizes) {
        names << QString("f%1.bin").arg(n);
        contents << RandomBytes(n, quint32(n));
        WriteFile(Source(names.back()), contents.back());
    }
    names << "zeros and ones.bin";
    QByteArray zo(4000, '\0');
    for (int i = 0; i < zo.size(); i += 2)
        zo[i] = '\x01';
    contents << zo;
    WriteFile(Source(names.back()), zo);

    Listen();
    Send(names);
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(tx.ui.status2, "Files sent: 7");
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(ReadFile(rx.InReceivePath(names[i])), contents[i]) << names[i].toStdString();
    EXPECT_EQ(rx.ui.status2, "Files received: 7");
    EXPECT_TRUE(rx.ui.boxes.empty());
    // Blanks become "?" only on the file-date tool's command line.
    EXPECT_TRUE(rx.startedPrograms.last().contains("zeros?and?ones.bin"));

    // A second run into the same folder replaces the files; counters start again.
    WriteFile(Source("f1.bin"), "new");
    Send({"f1.bin"});
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(ReadFile(rx.InReceivePath("f1.bin")), "new");
    EXPECT_EQ(rx.ui.status2, "Files received: 1");
}

TEST_F(TransferFixture, CorruptedDataByteIsAnsweredNotOkAndResent)
{
    const QByteArray content = RandomBytes(6000, 7);
    WriteFile(Source("a.bin"), content);
    int writes = 0;
    tx.port.lineFilter = [&writes](const QByteArray& w) {
        QByteArray out = w;
        if (++writes == 3)  // inside the second data block's payload
            out[100] = char(out[100] ^ 0x10) == 0 ? 0x55 : char(out[100] ^ 0x10);
        return out;
    };
    Listen();
    Send({"a.bin"});
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(ReadFile(rx.InReceivePath("a.bin")), content);
    EXPECT_EQ(tx.ui.status2, "Files sent: 1");
    // The receiver reports what it counted when the run ended.
    ASSERT_EQ(rx.ui.boxes.size(), 1u);
    EXPECT_EQ(rx.ui.boxes[0].icon, MsgIcon::Information);
    EXPECT_TRUE(rx.ui.boxes[0].text.contains("IncorrectChecksum: 1"));
}

TEST_F(TransferFixture, ShortFileGivesErrorNineOnBothSides)
{
    Listen();
    // A sender that announces 100 bytes but ends after 10.
    rx.port.InjectBytes(StuffForWrite(BuildDataBlock(11, 1, "100|20200101000000|short.bin")));
    ASSERT_TRUE(WaitFor([&] { return rx.s().stage == Stage::InFile; }));
    rx.port.InjectBytes(StuffForWrite(BuildDataBlock(13, 2, QByteArray(10, 'x'))));
    ASSERT_TRUE(WaitFor([&] { return rx.s().lastSequenceNr == 2; }));
    rx.port.InjectBytes(StuffForWrite(BuildDataBlock(13, 3, {})));
    ASSERT_TRUE(WaitFor([&] { return !rx.port.PortOpen(); }));
    EXPECT_EQ(rx.ui.status2, "Incorrect filesize received");
    EXPECT_TRUE(rx.ui.SawBoxContaining("expecting 100 bytes, received 10"));
    EXPECT_TRUE(QFile::exists(rx.InReceivePath("_short.bin.tmp")));  // kept for a restart
    EXPECT_FALSE(QFile::exists(rx.InReceivePath("short.bin")));
    const auto answers = Blocks(rx.port);
    EXPECT_EQ(quint8(answers.back()[1]), 99);
    EXPECT_EQ(Le32(answers.back(), 2), 9);

    // The same report seen from a sender.
    StationPair other;
    other.sender.station->Activate(false);  // cancelled dialog: closes again
    QString why;
    other.sender.port.SetPortOpen(true, why);
    other.sender.g.role = Role::Sender;
    other.sender.port.InjectBytes(StuffForWrite(BuildAnswerBlock(99, 9)));
    ASSERT_TRUE(WaitFor([&] { return !other.sender.port.PortOpen(); }));
    EXPECT_EQ(other.sender.ui.BoxTexts(), QStringList{"ERROR from other side: Incorrect filesize received"});
}

TEST_F(TransferFixture, RemoteErrorNumbersOutsideTheTable)
{
    QString why;
    tx.g.role = Role::Sender;
    for (qint32 nr : {0, ErrorNr::Last + 1, -1}) {
        tx.port.SetPortOpen(true, why);
        tx.port.InjectBytes(StuffForWrite(BuildAnswerBlock(99, nr)));
        ASSERT_TRUE(WaitFor([&] { return !tx.port.PortOpen(); }));
    }
    EXPECT_EQ(tx.ui.BoxTexts(),
              (QStringList{"ERROR from other side: ",
                           "ERROR from other side; strange errornr=" + QString::number(ErrorNr::Last + 1),
                           "ERROR from other side; strange errornr=-1"}));
}

TEST_F(TransferFixture, HostileNamesNeverLeaveTheReceivePath)
{
    QDir(rx.dir.path()).mkpath("in/sub");
    WriteFile(BuildPath(rx.dir.path(), "x"), "outside");
    Listen();
    const QStringList names{"../x", BuildPath(rx.dir.path(), "x"), "..\\x", "..", ".", "", "sub/../../x", "a\x01b"};
    qint32 seq = 0;
    for (const QString& name : names) {
        const QByteArray header = "5|20200101000000|" + name.toLatin1();
        rx.port.InjectBytes(StuffForWrite(BuildDataBlock(11, ++seq, header)));
        ASSERT_TRUE(WaitFor([&] { return rx.port.BytesWaiting() == 0 && !rx.port.written.isEmpty(); }));
        if (rx.s().stage == Stage::InFile) {  // reduced to a plain name: the file goes inside
            rx.port.InjectBytes(StuffForWrite(BuildDataBlock(13, ++seq, "EVIL!")));
            rx.port.InjectBytes(StuffForWrite(BuildDataBlock(13, ++seq, {})));
            ASSERT_TRUE(WaitFor([&] { return rx.s().stage == Stage::Listening; }));
        } else {
            --seq;  // refused: the same number is due again
        }
        rx.port.written.clear();
    }
    EXPECT_EQ(ReadFile(BuildPath(rx.dir.path(), "x")), "outside");
    EXPECT_EQ(ReadFile(rx.InReceivePath("x")), "EVIL!");
    EXPECT_TRUE(QFileInfo(rx.InReceivePath("sub")).isDir());
    EXPECT_EQ(rx.s().countIncorrectSizDateFname, 4);  // "..", ".", "" and the control character
    EXPECT_TRUE(rx.port.PortOpen());
}

TEST_F(TransferFixture, ExistingTargetIsReplacedAndTempFileOfAnOldRunToo)
{
    WriteFile(rx.InReceivePath("a.txt"), "old content");
    WriteFile(rx.InReceivePath("_a.txt.tmp"), "stale temp");
    WriteFile(Source("a.txt"), "new");
    Listen();
    Send({"a.txt"});
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(ReadFile(rx.InReceivePath("a.txt")), "new");
    EXPECT_FALSE(QFile::exists(rx.InReceivePath("_a.txt.tmp")));
}

TEST_F(TransferFixture, FailedRenameKeepsTheOldFile)
{
    // A folder of the file's name cannot be replaced by a file: error 8, nothing lost.
    QDir(rx.receivePath).mkdir("a.txt");
    WriteFile(BuildPath(rx.InReceivePath("a.txt"), "keep"), "precious");
    WriteFile(Source("a.txt"), "new");
    Listen();
    Send({"a.txt"});
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(rx.ui.status2, "Problem renaming tempfile to real file");
    EXPECT_TRUE(tx.ui.SawBoxContaining("ERROR from other side: Problem renaming tempfile to real file"));
    EXPECT_EQ(ReadFile(BuildPath(rx.InReceivePath("a.txt"), "keep")), "precious");
    EXPECT_EQ(ReadFile(rx.InReceivePath("_a.txt.tmp")), "new");
}

TEST_F(TransferFixture, AFullDiskNamesTheReasonKeepsTheTempFileAndLosesNothing)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a small file system of its own needs root to mount";
    const QByteArray folder = QFile::encodeName(rx.receivePath);
    ASSERT_EQ(::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=128k"), 0) << std::strerror(errno);
    const std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(folder.constData(), MNT_DETACH); });
    WriteFile(rx.InReceivePath("earlier.txt"), "was here before");
    WriteFile(Source("big.bin"), RandomBytes(200000, 4));
    const QString temp = rx.InReceivePath("_big.bin.tmp");
    for (bool classic : {false, true}) {
        SCOPED_TRACE(classic);
        rx.g.classicOnly = tx.g.classicOnly = classic;
        Listen();
        Send({"big.bin"});
        ASSERT_TRUE(WaitSenderDone());
        EXPECT_EQ(rx.ui.status2, "Problem creating tempfile");
        EXPECT_TRUE(rx.ui.SawBoxContaining(QString("Error writing file '%1': No space left on device; it keeps %2 bytes "
                                                   "for 'Restart a file'")
                                               .arg(temp)
                                               .arg(QFileInfo(temp).size())))
            << rx.ui.BoxTexts().join('\n').toStdString();
        EXPECT_GT(QFileInfo(temp).size(), 0);
        EXPECT_EQ(ReadFile(rx.InReceivePath("earlier.txt")), "was here before");
        EXPECT_FALSE(QFile::exists(rx.InReceivePath("big.bin")));
        QFile::remove(temp);
    }
}

TEST_F(TransferFixture, SenderRefusesWhatTheProtocolCannotCarry)
{
    const QString name = QString::fromUtf8("\u65e5\u672c.txt");
    WriteFile(Source(name), "x");
    Listen();
    Send({name});
    EXPECT_FALSE(tx.port.PortOpen());
    EXPECT_TRUE(tx.port.written.isEmpty());  // nothing went out
    ASSERT_EQ(tx.ui.boxes.size(), 1u);
    EXPECT_TRUE(tx.ui.boxes[0].text.contains("Windows-1252"));

    WriteFile(Source("a|b.txt"), "x");
    Send({"a|b.txt"});
    EXPECT_FALSE(tx.port.PortOpen());
    EXPECT_TRUE(tx.port.written.isEmpty());
    EXPECT_EQ(tx.ui.boxes.back().text, "Cannot send 'a|b.txt': its name contains '|', which a file header cannot carry");

    // A file of 2 GiB or more in classic mode: a sparse file is enough.
    QFile big(Source("big.bin"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(2147483647LL));
    big.close();
    tx.g.classicOnly = true;
    Send({"big.bin"});
    EXPECT_FALSE(tx.port.PortOpen());
    EXPECT_TRUE(tx.port.written.isEmpty());
    EXPECT_TRUE(tx.ui.boxes.back().text.contains("2147483647 bytes or more"));

    // A file that cannot be opened is error 6 on both sides, its box first.
    Send({"missing.bin"});
    ASSERT_TRUE(WaitFor([&] { return !rx.port.PortOpen(); }));
    EXPECT_TRUE(tx.ui.boxes.back().text.startsWith("Error opening file '"));
    EXPECT_EQ(tx.ui.status2, "Problem opening file for read");
    EXPECT_TRUE(rx.ui.SawBoxContaining("ERROR from other side: Problem opening file for read"));
}

TEST_F(TransferFixture, ProgressIsComputedInSixtyFourBits)
{
    RecordingUi ui;
    ShowProgress(ui, 30000000, 40000000);  // done * 100 is past 32 bits
    EXPECT_FLOAT_EQ(ui.progress, 75.0f);
    ShowProgress(ui, 5, 0);
    EXPECT_EQ(ui.progressCalls, 1);
}

TEST_F(TransferFixture, ANameWithAQuestionMarkGetsItsDateAndNoOtherFileIsTouched)
{
    // qrnstamp reads "?" as a blank, so "a?b.bin" must not be dated through it.
    const QDateTime sent(QDate(2020, 2, 3), QTime(4, 5, 6));
    const QDateTime other(QDate(2019, 1, 1), QTime(0, 0, 0));
    WriteFile(rx.InReceivePath("a b.bin"), "mine", other);
    WriteFile(Source("a?b.bin"), "sent", sent);
    Listen();
    Send({"a?b.bin"});
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(ReadFile(rx.InReceivePath("a?b.bin")), "sent");
    EXPECT_EQ(QFileInfo(rx.InReceivePath("a?b.bin")).lastModified(), sent);
    EXPECT_EQ(ReadFile(rx.InReceivePath("a b.bin")), "mine");
    EXPECT_EQ(QFileInfo(rx.InReceivePath("a b.bin")).lastModified(), other);
    EXPECT_TRUE(rx.startedPrograms.isEmpty()) << rx.startedPrograms.join('|').toStdString();
    EXPECT_EQ(rx.s().countModifiedDateErr, 0);
}

TEST(AnswerMatch, EveryAnswerOfTheExchangeIsReadAgainstTheBlockItAnswers)
{
    const SentBlock header1{1, BLOCK_HEADER}, data4{4, BLOCK_DATA}, header5{5, BLOCK_HEADER};
    const SentBlock restart1{1, BLOCK_RESTART_HEADER}, end9{9, BLOCK_HEADER, true};
    const SentBlock header1Again{1, BLOCK_HEADER, false, true};
    struct Case {
        int code;
        qint32 value;
        SentBlock last;
        AnswerFit fit;
    } cases[] = {
        {ANSWER_OK, 0, header1, AnswerFit::Fits},          // first header of a run
        {ANSWER_OK, 3, data4, AnswerFit::Fits},
        {ANSWER_OK, 2, data4, AnswerFit::Stale},           // late copy of the answer before
        {ANSWER_OK, 0, restart1, AnswerFit::Stale},        // a restart header is answered with its position
        {ANSWER_RESTART_POS, 777, restart1, AnswerFit::Fits},
        {ANSWER_RESTART_POS, 777, data4, AnswerFit::Stale},  // the restart header went twice
        {ANSWER_RESEND_BLOCK, 4, data4, AnswerFit::Fits},  // after a resumption: always resent
        {ANSWER_NOT_OK, 3, data4, AnswerFit::Fits},        // it lacks block 4
        {ANSWER_NOT_OK, 4, data4, AnswerFit::HeldAlready}, // its OK was damaged on the way
        {ANSWER_NOT_OK, 5, header5, AnswerFit::HeldAlready},
        {ANSWER_NOT_OK, 1, header1, AnswerFit::Fits},      // may be another run's file
        {ANSWER_NOT_OK, 1, header1Again, AnswerFit::HeldAlready},
        {ANSWER_NOT_OK, 1, restart1, AnswerFit::Fits},     // its position cannot be guessed
        {ANSWER_ALL_RECEIVED, 8, end9, AnswerFit::Fits},
        {ANSWER_NOT_OK, 0, end9, AnswerFit::HeldAlready},  // reset after "END": it has everything
        {ANSWER_NOT_OK, 8, end9, AnswerFit::Fits},
        {ANSWER_STOP, 0, data4, AnswerFit::Fits},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchAnswer(c.code, c.value, c.last), c.fit) << c.code << " value " << c.value << " after block "
                                                                << c.last.nr << " of type " << c.last.type;
}
