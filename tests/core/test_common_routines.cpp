#include "CommonRoutines.h"
#include "Fso.h"
#include "NumberedFiles.h"
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(GlbSplit, CountsAndFillsFields)
{
    TextArray none;
    EXPECT_EQ(GlbSplit(none, true, "3000|20070315143055|a.txt", "|"), 3);
    EXPECT_EQ(GlbSplit(none, true, "END", "|"), 1);
    EXPECT_EQ(GlbSplit(none, true, "", "|"), 1);
    EXPECT_EQ(GlbSplit(none, true, "a||b|", "|"), 4);  // empty fields count, also a trailing one

    TextArray f(4, "stale");
    EXPECT_EQ(GlbSplit(f, false, "END||", "|"), 3);
    EXPECT_EQ(f[1], "END");
    EXPECT_EQ(f[2], "");
    EXPECT_EQ(f[3], "");

    TextArray two(3);
    EXPECT_EQ(GlbSplit(two, false, "a|b|c|d|e", "|"), 2);  // stops at the upper bound
    EXPECT_EQ(two[1], "a");
    EXPECT_EQ(two[2], "b");

    TextArray multi(4);
    EXPECT_EQ(GlbSplit(multi, false, "x,y;z", ",;"), 3);  // any separator character
    EXPECT_EQ(multi[3], "z");
}

TEST(GlbParseKeyValue, SplitsAtFirstColonAndTrimsBlanks)
{
    QString k, v;
    GlbParseKeyValue(k, v, "RECEIVEPATH: C:\\data");
    EXPECT_EQ(k, "RECEIVEPATH");
    EXPECT_EQ(v, "C:\\data");
    GlbParseKeyValue(k, v, "  speed  :  9600 ");
    EXPECT_EQ(k, "SPEED");
    EXPECT_EQ(v, "9600");
    GlbParseKeyValue(k, v, "no colon here");
    EXPECT_TRUE(k.isEmpty());
    EXPECT_TRUE(v.isEmpty());
    GlbParseKeyValue(k, v, ":rest: of it");
    EXPECT_TRUE(k.isEmpty());
    EXPECT_EQ(v, "rest: of it");
    GlbParseKeyValue(k, v, "K:\tv\t");  // only the space is a blank
    EXPECT_EQ(v, "\tv\t");
}

TEST(GlbValLong, TolerantReadingAndRounding)
{
    EXPECT_EQ(GlbValLong(""), 0);
    EXPECT_EQ(GlbValLong("abc"), 0);
    EXPECT_EQ(GlbValLong("2.5"), 2);
    EXPECT_EQ(GlbValLong("3.5"), 4);
    EXPECT_EQ(GlbValLong("-2.5"), -2);
    EXPECT_EQ(GlbValLong("1,9"), 1);                  // a comma ends the number
    EXPECT_EQ(GlbValLong("99999999999"), 0);          // outside 32 bits
    EXPECT_EQ(GlbValLong("2147483647"), 2147483647);
    EXPECT_EQ(GlbValLong("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(GlbValLong("2147483648"), 0);
    EXPECT_EQ(GlbValLong(" 1 2 3x"), 123);            // blanks anywhere are skipped
    EXPECT_EQ(GlbValLong("3\nSPEED: 9600"), 3);
    EXPECT_EQ(GlbValLong("&H1F"), 31);
    EXPECT_EQ(GlbValLong("&o17"), 15);
    EXPECT_EQ(GlbValLong("&HZZ"), 0);
    EXPECT_EQ(GlbValLong("1E3"), 1000);
    EXPECT_EQ(GlbValLong("1E"), 1);
    EXPECT_EQ(GlbValLong("+7"), 7);
    EXPECT_EQ(GlbValLong("."), 0);
}

TEST(GlbValDouble, ReadsDateNumbersExactly)
{
    EXPECT_EQ(GlbValDouble("20070315143055"), 20070315143055.0);
    EXPECT_EQ(GlbValDouble("99991231235959"), 99991231235959.0);
    EXPECT_DOUBLE_EQ(GlbValDouble("-1.25e2"), -125.0);
    EXPECT_EQ(GlbValDouble("1e999"), 0.0);  // outside the double range
    EXPECT_EQ(GlbValDouble("x1"), 0.0);
}

TEST(GlbSplitFileList, OnePathOrFolderAndNames)
{
    QString folder;
    TextArray names;
    GlbSplitFileList(folder, names, "/home/u/docs/a.txt");
    EXPECT_EQ(folder, "/home/u/docs");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], "a.txt");

    GlbSplitFileList(folder, names, "/a.txt");
    EXPECT_EQ(folder, "/");
    EXPECT_EQ(names[1], "a.txt");

    const QChar nul(0);
    GlbSplitFileList(folder, names, QString("/home/u/docs") + nul + "a.txt" + nul + "b c.txt");
    EXPECT_EQ(folder, "/home/u/docs");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[1], "a.txt");
    EXPECT_EQ(names[2], "b c.txt");
}

TEST(CommonRoutines, SmallHelpers)
{
    QString t = "My Files/a b.txt";
    GlbReplaceChar(t, " ", "?");
    EXPECT_EQ(t, "My?Files/a?b.txt");
    GlbReplaceChar(t, "?F", "!");  // a find of two characters never matches
    EXPECT_EQ(t, "My?Files/a?b.txt");
    GlbReplaceChar(t, "?", "");
    EXPECT_EQ(t, "MyFiles/ab.txt");

    EXPECT_EQ(GlbDateNumber(9999, 12, 31, 23, 59, 59), 99991231235959.0);
    EXPECT_EQ(GlbDateToNumber(QDateTime(QDate(2007, 3, 15), QTime(14, 30, 55, 900))), 20070315143055.0);
    EXPECT_EQ(DoubleToText(20070315143055.0), "20070315143055");
    EXPECT_EQ(GlbBoolToText(true), "1");
    EXPECT_EQ(GlbBoolToText(false), "0");
}

TEST(Fso, PathsAndNumberedFiles)
{
    EXPECT_EQ(BuildPath("/tmp", "a"), "/tmp/a");
    EXPECT_EQ(BuildPath("/tmp/", "a"), "/tmp/a");
    EXPECT_EQ(BuildPath("", "a"), "a");
    EXPECT_EQ(GetFileName("/x/y/z.txt"), "z.txt");
    EXPECT_EQ(GetParentFolderName("/x/y/z.txt"), "/x/y");

    QTemporaryDir dir;
    const QString path = BuildPath(dir.path(), "f.bin");
    NumberedFiles files;
    EXPECT_FALSE(files.GlbFileOpen(3));
    ASSERT_TRUE(files.Open(3, path, QIODevice::WriteOnly));
    EXPECT_TRUE(files.GlbFileOpen(3));
    files.File(3).write("abc");
    files.CloseFileIfOpen(3);
    files.CloseFileIfOpen(3);  // twice closes once
    EXPECT_FALSE(files.GlbFileOpen(3));
    EXPECT_TRUE(FileExists(path));
    EXPECT_FALSE(FileExists(dir.path()));
    EXPECT_TRUE(FolderExists(dir.path()));
    QString why;
    EXPECT_FALSE(files.Open(4, BuildPath(dir.path(), "missing/x"), QIODevice::WriteOnly, &why));
    EXPECT_FALSE(files.GlbFileOpen(4));
    EXPECT_FALSE(why.isEmpty());
}
