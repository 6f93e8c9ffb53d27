// Folders between two console programs over the virtual cable.
#include "CliCable.h"
#include "TestTree.h"
#include <sys/stat.h>

namespace {
using namespace clitest;

struct CliFolders : CliCable {
    QStringList names;
    void SetUp() override
    {
        CliCable::SetUp();
        StartCable({"--baud", "0"});
        names = MakeTree(outDir);
    }
    QStringList Operands() const
    {
        QStringList paths;
        for (const QString& name : names)
            paths << Out(name);
        return paths;
    }
};

TEST_F(CliFolders, ATreeArrivesWholeAndDatedAndNoLinkIsFollowedOnTheWayOut)
{
    WriteFile(dir.filePath("secret"), "not to be sent");
    ASSERT_TRUE(QFile::link(dir.filePath("secret"), Out("photos/2024/link")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Out("photos/pipe")).constData(), 0600), 0);
    Cli rx, tx;
    StartReceiver(rx, {"--once"});
    EXPECT_EQ(RunToEnd(tx, SendArgs(Operands())), 0) << tx.Err().toStdString();
    EXPECT_TRUE(tx.Err().contains("Skipped, never followed: 'photos/pipe' (a special file), "
                                  "'photos/2024/link' (a symbolic link)\n"))
        << tx.err.toStdString();
    EXPECT_TRUE(tx.err.contains("Files sent: 5\n"));
    ASSERT_TRUE(rx.Ends());
    EXPECT_EQ(rx.Code(), 0) << rx.Err().toStdString();
    QFile::remove(Out("photos/2024/link"));
    QFile::remove(Out("photos/pipe"));
    EXPECT_EQ(TreeListing(inDir), TreeListing(outDir));
    EXPECT_TRUE(WaitFor([&] { return Undated(inDir).isEmpty(); }, kDeadlineMs)) << Undated(inDir).join(' ').toStdString();
}

// A link the receive folder holds, named like a folder of the run, points outside.
TEST_F(CliFolders, NothingIsWrittenThroughALinkInTheReceiveFolder)
{
    const QString outside = dir.filePath("outside");
    QDir().mkpath(outside);
    ASSERT_TRUE(QFile::link(outside, In("photos")));
    Cli rx, tx;
    StartReceiver(rx, {"--once"});
    EXPECT_EQ(RunToEnd(tx, SendArgs(Operands())), 7) << tx.Err().toStdString();
    EXPECT_TRUE(QDir(outside).isEmpty());
    EXPECT_EQ(ReadFile(In("top.txt")), "at the top\n");
    EXPECT_TRUE(rx.Shows("'photos' is a symbolic link or a file, not a folder; it is not followed"));
}

}  // namespace
