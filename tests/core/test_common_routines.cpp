#include "CommonRoutines.h"
#include "Fso.h"
#include "OpenFile.h"
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(SplitFields, CountsAndFillsFields)
{
    TextArray none;
    EXPECT_EQ(SplitFields(none, true, "3000|20070315143055|a.txt", "|"), 3);
    EXPECT_EQ(SplitFields(none, true, "END", "|"), 1);
    EXPECT_EQ(SplitFields(none, true, "", "|"), 1);
    EXPECT_EQ(SplitFields(none, true, "a||b|", "|"), 4);  // empty fields count, also a trailing one

    TextArray f(4, "stale");
    EXPECT_EQ(SplitFields(f, false, "END||", "|"), 3);
    EXPECT_EQ(f[1], "END");
    EXPECT_EQ(f[2], "");
    EXPECT_EQ(f[3], "");

    TextArray two(3);
    EXPECT_EQ(SplitFields(two, false, "a|b|c|d|e", "|"), 2);  // stops at the upper bound
    EXPECT_EQ(two[1], "a");
    EXPECT_EQ(two[2], "b");

    TextArray multi(4);
    EXPECT_EQ(SplitFields(multi, false, "x,y;z", ",;"), 3);  // any separator character
    EXPECT_EQ(multi[3], "z");
}

TEST(ParseKeyValue, SplitsAtFirstColonAndTrimsBlanks)
{
    QString k, v;
    ParseKeyValue(k, v, "RECEIVEPATH: C:\\data");
    EXPECT_EQ(k, "RECEIVEPATH");
    EXPECT_EQ(v, "C:\\data");
    ParseKeyValue(k, v, "  speed  :  9600 ");
    EXPECT_EQ(k, "SPEED");
    EXPECT_EQ(v, "9600");
    ParseKeyValue(k, v, "no colon here");
    EXPECT_TRUE(k.isEmpty());
    EXPECT_TRUE(v.isEmpty());
    ParseKeyValue(k, v, ":rest: of it");
    EXPECT_TRUE(k.isEmpty());
    EXPECT_EQ(v, "rest: of it");
    ParseKeyValue(k, v, "K:\tv\t");  // only the space is a blank
    EXPECT_EQ(v, "\tv\t");
}

TEST(ValLong, TolerantReadingAndRounding)
{
    EXPECT_EQ(ValLong(""), 0);
    EXPECT_EQ(ValLong("abc"), 0);
    EXPECT_EQ(ValLong("2.5"), 2);
    EXPECT_EQ(ValLong("3.5"), 4);
    EXPECT_EQ(ValLong("-2.5"), -2);
    EXPECT_EQ(ValLong("1,9"), 1);                  // a comma ends the number
    EXPECT_EQ(ValLong("99999999999"), 0);          // outside 32 bits
    EXPECT_EQ(ValLong("2147483647"), 2147483647);
    EXPECT_EQ(ValLong("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ValLong("2147483648"), 0);
    EXPECT_EQ(ValLong(" 1 2 3x"), 123);            // blanks anywhere are skipped
    EXPECT_EQ(ValLong("3\nSPEED: 9600"), 3);
    EXPECT_EQ(ValLong("&H1F"), 31);
    EXPECT_EQ(ValLong("&o17"), 15);
    EXPECT_EQ(ValLong("&HZZ"), 0);
    EXPECT_EQ(ValLong("1E3"), 1000);
    EXPECT_EQ(ValLong("1E"), 1);
    EXPECT_EQ(ValLong("+7"), 7);
    EXPECT_EQ(ValLong("."), 0);
}

TEST(ValDouble, ReadsDateNumbersExactly)
{
    EXPECT_EQ(ValDouble("20070315143055"), 20070315143055.0);
    EXPECT_EQ(ValDouble("99991231235959"), 99991231235959.0);
    EXPECT_DOUBLE_EQ(ValDouble("-1.25e2"), -125.0);
    EXPECT_EQ(ValDouble("1e999"), 0.0);  // outside the double range
    EXPECT_EQ(ValDouble("x1"), 0.0);
}

TEST(SplitFileList, OnePathOrFolderAndNames)
{
    QString folder;
    TextArray names;
    SplitFileList(folder, names, "/home/u/docs/a.txt");
    EXPECT_EQ(folder, "/home/u/docs");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], "a.txt");

    SplitFileList(folder, names, "/a.txt");
    EXPECT_EQ(folder, "/");
    EXPECT_EQ(names[1], "a.txt");

    const QChar nul(0);
    SplitFileList(folder, names, QString("/home/u/docs") + nul + "a.txt" + nul + "b c.txt");
    EXPECT_EQ(folder, "/home/u/docs");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[1], "a.txt");
    EXPECT_EQ(names[2], "b c.txt");
}

TEST(CommonRoutines, SmallHelpers)
{
    QString t = "My Files/a b.txt";
    ReplaceChar(t, " ", "?");
    EXPECT_EQ(t, "My?Files/a?b.txt");
    ReplaceChar(t, "?F", "!");  // a find of two characters never matches
    EXPECT_EQ(t, "My?Files/a?b.txt");
    ReplaceChar(t, "?", "");
    EXPECT_EQ(t, "MyFiles/ab.txt");

    EXPECT_EQ(DateNumber(9999, 12, 31, 23, 59, 59), 99991231235959.0);
    EXPECT_EQ(DateToNumber(QDateTime(QDate(2007, 3, 15), QTime(14, 30, 55, 900))), 20070315143055.0);
    EXPECT_EQ(DoubleToText(20070315143055.0), "20070315143055");
    EXPECT_EQ(BoolToText(true), "1");
    EXPECT_EQ(BoolToText(false), "0");
}

TEST(Fso, PathsAndOpenFiles)
{
    EXPECT_EQ(BuildPath("/tmp", "a"), "/tmp/a");
    EXPECT_EQ(BuildPath("/tmp/", "a"), "/tmp/a");
    EXPECT_EQ(BuildPath("", "a"), "a");
    EXPECT_EQ(GetFileName("/x/y/z.txt"), "z.txt");
    EXPECT_EQ(GetParentFolderName("/x/y/z.txt"), "/x/y");

    QTemporaryDir dir;
    const QString path = BuildPath(dir.path(), "f.bin");
    OpenFile file;
    EXPECT_FALSE(file.IsOpen());
    ASSERT_TRUE(file.Open(path, QIODevice::WriteOnly));
    EXPECT_TRUE(file.IsOpen());
    file.File().write("abc");
    file.Close();
    file.Close();  // twice closes once
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(FileExists(path));
    EXPECT_FALSE(FileExists(dir.path()));
    EXPECT_TRUE(FolderExists(dir.path()));
    QString why;
    EXPECT_FALSE(file.Open(BuildPath(dir.path(), "missing/x"), QIODevice::WriteOnly, &why));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(why.isEmpty());
}
