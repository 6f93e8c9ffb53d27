#include "DebugLog.h"
#include "Fso.h"
#include "Locations.h"
#include "ProgramFolders.h"
#include "SettingsFile.h"
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {
struct SettingsLocation : ::testing::TestWithParam<FolderKind> {};
}  // namespace

TEST_P(SettingsLocation, SettingsFollowTheProgramFolderRule)
{
    ProgramFolder folder(GetParam());
    ASSERT_EQ(SettingsFolder(folder.program), folder.expected);
    EXPECT_TRUE(QFileInfo(folder.expected).isDir());  // the configuration folder is made

    Globals g;
    g.programDir = folder.program;
    EXPECT_EQ(g.SettingsDir(), folder.expected);
    LoadSettings(g);
    EXPECT_EQ(g.comPort, GetParam() == FolderKind::ReadOnlyWithIni ? 3 : 1);
    g.comPort = 7;
    ASSERT_TRUE(SaveSettingsFile(g));
    EXPECT_EQ(SettingsFilePath(g), BuildPath(folder.expected, "qrn.ini"));
    Globals back;
    back.programDir = folder.program;
    LoadSettings(back);
    EXPECT_EQ(back.comPort, 7);

    // The debug log says which folder is in use.
    g.debugFile = BuildPath(folder.root.path(), "debug.log");
    DebugLog log;
    ASSERT_TRUE(log.Open(g.debugFile, g.SettingsDir(), nullptr));
    log.Close();
    EXPECT_TRUE(ReadFile(g.debugFile).contains(("Settings folder: " + folder.expected).toUtf8()));
}

INSTANTIATE_TEST_SUITE_P(Kinds, SettingsLocation,
                         ::testing::Values(FolderKind::Writable, FolderKind::ReadOnly, FolderKind::ReadOnlyWithIni),
                         FolderKindName);

TEST(ProgramFiles, QrnstampAndHelpAreFoundBesideTheProgramFirst)
{
    QTemporaryDir dir;
    EXPECT_EQ(QrnstampFolders(dir.path()).value(0), dir.path());
    const QString beside = BuildPath(dir.path(), "qrnstamp");
    WriteFile(beside, "#!/bin/sh\n");
    EXPECT_NE(FindQrnstamp(dir.path()), beside);  // not executable
    QFile::setPermissions(beside, QFile::permissions(beside) | QFileDevice::ExeOwner);
    EXPECT_EQ(FindQrnstamp(dir.path()), beside);

    WriteFile(BuildPath(dir.path(), "Velotrax.html"), "<html/>");
    EXPECT_EQ(FindHelpFile(dir.path()), BuildPath(dir.path(), "Velotrax.html"));
}
