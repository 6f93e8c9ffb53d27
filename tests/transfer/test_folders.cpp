// Folders in the extended mode: the check of a received folder, a receiver
// that never writes outside its folder, a receiver that takes no folders, and
// a file of a folder resumed and restarted there.
#include "ErrorNumbers.h"
#include "ExtendedFixture.h"
#include "Frame.h"
#include "RelativeFolder.h"
#include "RestartFile.h"
#include "TestTree.h"

namespace {

TEST(RelativeFolder, EveryComponentIsCheckedAsAReceivedNameIs)
{
    for (const char* good : {"", "a", "a/b c/\xc3\xbc", ".hidden/x", "a..b", "C", "1:2"})
        EXPECT_TRUE(RelativeFolder::Valid(QString::fromUtf8(good))) << good;
    for (const char* bad : {"..", ".", "a/..", "../a", "a/./b", "/abs", "a/", "a//b", "C:", "c:/x", "a/D:stuff",
                            "a\\b", "..\\x", "a\x01" "b", "a/\x7f", "a/\tb"})
        EXPECT_FALSE(RelativeFolder::Valid(QString::fromUtf8(bad))) << bad;
}

// Headers as a Sender could forge them: the folder field is the Receiver's only defence.
TEST(Folders, AReceiverRefusesHostileFoldersAndNeverGoesThroughALink)
{
    StationHarness rx(true);
    QTemporaryDir outside;
    ASSERT_TRUE(QFile::link(outside.path(), rx.InReceivePath("photos")));
    QDir(rx.receivePath).mkpath("real");
    qint32 seq = 0;
    const auto header = [&](const QString& name, const QString& folder) {
        const QString text = "5|20200101000000|" + name + "|VX1|37|1|1|0|5|" + folder;
        rx.port.written.clear();
        rx.port.InjectBytes(StuffForWrite(BuildDataBlock(BLOCK_HEADER, ++seq, text.toLatin1())));
        return WaitFor([&] { return rx.port.BytesWaiting() == 0 && !rx.port.written.isEmpty(); });
    };
    rx.station->Activate(false);
    const QStringList hostile{"../x", "real/../../x", "/tmp", "C:", "a\\..\\..", "real//x", "real/"};
    for (const QString& folder : hostile) {
        ASSERT_TRUE(header("x.txt", folder)) << folder.toStdString();
        --seq;  // refused: the same number is due again
    }
    EXPECT_EQ(rx.s().countIncorrectSizDateFname, hostile.size());
    EXPECT_TRUE(rx.port.PortOpen());

    // A link named like a received folder, as the file's folder, on its way, or as an empty folder.
    const std::pair<const char*, const char*> throughLink[] = {
        {"x.txt", "photos"}, {"x.txt", "photos/deeper"}, {".", "photos/empty"}};
    for (const auto& [name, folder] : throughLink) {
        rx.station->Activate(false);
        ASSERT_TRUE(header(QString::fromLatin1(name), QString::fromLatin1(folder)));
        EXPECT_EQ(rx.ui.status2, ErrorNr::Text(ErrorNr::CreateTempFileFailed));
        EXPECT_TRUE(rx.ui.SawBoxContaining("'photos' is a symbolic link or a file, not a folder; it is not followed"));
        seq = 0;
    }
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
}

// The original program, a classic-only Velotrax or an earlier one: files at
// the top arrive first, then the run ends before any file of a folder goes.
TEST_F(ExtendedFixture, AReceiverWithoutFoldersGetsTheTopFilesAndError18)
{
    const QStringList names = MakeTree(sendDir.path());
    rx->g.classicOnly = true;
    Run({names[1], names[0]});
    ASSERT_TRUE(SenderDone());
    EXPECT_EQ(tx->ui.status2, ErrorNr::Text(ErrorNr::NoFolders));
    EXPECT_TRUE(tx->ui.SawBoxContaining("no file from a subfolder was sent; files sent: 1 of 5"));
    EXPECT_EQ(rx->ui.boxes.back().text, "ERROR from other side: Folders: the receiving program takes no folders");
    EXPECT_EQ(TreeListing(rx->receivePath), QStringList{"top.txt: " + QString::number(qHash(ReadFile(Source("top.txt"))))});

    // A classic-only Sender refuses such a run before anything is sent.
    NewPair();
    tx->g.classicOnly = true;
    Run({names[0], names[1]});
    ASSERT_TRUE(SenderDone());
    EXPECT_TRUE(tx->ui.SawBoxContaining("Cannot send 'photos/x.jpg': files in folders go only in the extended mode"));
    EXPECT_TRUE(tx->port.written.isEmpty());
}

TEST_F(ExtendedFixture, AFileOfAFolderResumesAndRestartsInThatFolder)
{
    const QByteArray content = RandomBytes(40000, 8);
    QDir(sendDir.path()).mkpath("photos/2024");
    WriteFile(Source("photos/2024/big.bin"), content);
    RunUntilTheReceiversPortFails({"photos"});
    EXPECT_TRUE(ReadFile(RestartFilePath(rx->g.RestartDir())).contains("\r\nFOLDER: photos/2024\r\n"));
    StationHarness again(true, rx->g.programDir, &tx->port);
    ASSERT_TRUE(WaitFor([&] { return !tx->port.PortOpen(); }, 8000));
    EXPECT_EQ(tx->ui.status2, "Files sent: 1");
    EXPECT_EQ(Received("photos/2024/big.bin"), content);

    // "Restart a file" names it by its path below the folder the run was sent from.
    NewPair();
    QDir(rx->receivePath).mkpath("photos/2024");
    WriteFile(rx->InReceivePath("photos/2024/_big.bin.tmp"), content.left(30000));
    rx->station->Activate(false);
    tx->ui.nextDialogResult = sendDir.path() + QChar(0) + "photos/2024/big.bin";
    tx->station->Activate(true);
    ASSERT_TRUE(SenderDone());
    EXPECT_EQ(Received("photos/2024/big.bin"), content);
    EXPECT_LT(tx->port.written.size(), 20000);  // the kept bytes did not go again
}

}  // namespace
