#include "DebugLog.h"
#include "Fso.h"
#include "SettingsFile.h"
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct SettingsFixture : ::testing::Test {
    QTemporaryDir dir;
    Globals g;
    void SetUp() override { g.programDir = dir.path(); }
    void Write(const QByteArray& content)
    {
        QFile f(BuildPath(dir.path(), "qrn.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray Read()
    {
        QFile f(BuildPath(dir.path(), "qrn.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};
}  // namespace

TEST_F(SettingsFixture, MissingFileGivesDefaultsAndFirstSaveWritesTheNineLinesThenTheTwoNewKeys)
{
    LoadSettings(g);
    EXPECT_EQ(g.comPort, 1);
    EXPECT_EQ(g.speed, 115200);
    EXPECT_EQ(g.role, Role::Receiver);
    EXPECT_FALSE(g.debugFlag);
    EXPECT_EQ(g.waitBeforeSend, 2);
    EXPECT_FALSE(QFile::exists(SettingsFilePath(g)));  // loading creates nothing
    ASSERT_TRUE(SaveSettingsFile(g));
    const QByteArray expected = "COM: 1\r\nSPEED: 115200\r\nRECEIVEPATH: \r\nSENDPATH: " + DefaultSendPath().toLocal8Bit()
                                + "\r\nI_AM: 1\r\nDBGFLAG: 0\r\nDBGLEVEL: 0\r\nDEBUGFILE: "
                                + DefaultDebugFile().toLocal8Bit() + "\r\nWAITBEFORESEND: 2\r\n"
                                + "CLASSIC: 0\r\nCOMPRESS: 1\r\n";
    EXPECT_EQ(Read(), expected);
}

TEST_F(SettingsFixture, TolerantReading)
{
    Write("com: 3\r\n   SPEED   :   9600   \rRECEIVEPATH: C:\\data\\\r\nnonsense\r\n: empty key\r\n"
          "OTHER: 5\r\nWAITBEFORESEND: 3.5\r\nCOM: 4\r\nDBGLEVEL: 99999999999");
    LoadSettings(g);
    EXPECT_EQ(g.comPort, 4);  // the last occurrence wins
    EXPECT_EQ(g.speed, 9600);
    EXPECT_EQ(g.receivePath, "C:\\data\\");
    EXPECT_EQ(g.waitBeforeSend, 4);
    EXPECT_EQ(g.debugLevel, 0);
    EXPECT_EQ(g.role, Role::Receiver);  // missing keys keep their defaults
}

TEST_F(SettingsFixture, DbgFlagOnlyForExactlyOne)
{
    const char* values[] = {"1", "-1", "01", "yes", "", "1 "};
    const bool expected[] = {true, false, false, false, false, true};  // blanks around the value are trimmed
    for (size_t i = 0; i < std::size(values); ++i) {
        Write(QByteArray("DBGFLAG: ") + values[i] + "\r\n");
        LoadSettings(g);
        EXPECT_EQ(g.debugFlag, expected[i]) << "value '" << values[i] << "'";
    }
    Write("WAITBEFORESEND: 2.5\r\n");
    LoadSettings(g);
    EXPECT_EQ(g.waitBeforeSend, 2);
}

TEST_F(SettingsFixture, LoneLineFeedsMakeOneLine)
{
    Write("COM: 3\nSPEED: 9600\nI_AM: 0\n");
    LoadSettings(g);
    EXPECT_EQ(g.comPort, 3);
    EXPECT_EQ(g.speed, 115200);
    EXPECT_EQ(g.role, Role::Receiver);
}

TEST_F(SettingsFixture, SaveRoundTripsAndRefusesReadOnlyFile)
{
    LoadSettings(g);
    g.comPort = 7;
    g.receivePath = "/srv/in box";
    g.debugFlag = true;
    g.waitBeforeSend = -3;
    ASSERT_TRUE(SaveSettingsFile(g));
    Globals back;
    back.programDir = dir.path();
    LoadSettings(back);
    EXPECT_EQ(back.comPort, 7);
    EXPECT_EQ(back.receivePath, "/srv/in box");
    EXPECT_TRUE(back.debugFlag);
    EXPECT_EQ(back.waitBeforeSend, -3);

    const QByteArray before = Read();
    QFile::setPermissions(SettingsFilePath(g), QFileDevice::ReadOwner);
    g.comPort = 9;
    EXPECT_FALSE(SaveSettingsFile(g));
    EXPECT_EQ(Read(), before);  // untouched, not half-written
    LoadSettings(back);
    EXPECT_EQ(back.comPort, 7);
}

TEST_F(SettingsFixture, ClassicAndCompressRoundTripAndAnOlderFileKeepsTheirDefaults)
{
    g.classicOnly = true;
    g.compress = false;
    Write("COM: 2\r\nWAITBEFORESEND: 2\r\n");  // written by a copy that knows neither key
    LoadSettings(g);
    EXPECT_FALSE(g.classicOnly);
    EXPECT_TRUE(g.compress);

    for (const bool classic : {false, true}) {
        g.classicOnly = classic;
        g.compress = classic;
        ASSERT_TRUE(SaveSettingsFile(g));
        Globals back;
        back.programDir = dir.path();
        LoadSettings(back);
        EXPECT_EQ(back.classicOnly, classic);
        EXPECT_EQ(back.compress, classic);
    }

    // Only the value away from the default switches.
    Write("CLASSIC: yes\r\nCOMPRESS: off\r\n");
    LoadSettings(g);
    EXPECT_FALSE(g.classicOnly);
    EXPECT_TRUE(g.compress);
}

TEST(DebugLog, ZoneLayoutAppendingAndGate)
{
    EXPECT_EQ(DebugLog::FormatTimeStamped("12:34:56", "text").indexOf("text"), 28);  // column 29
    EXPECT_EQ(DebugLog::FormatTimeStamped("12:34:56", "x").mid(14, 1), " ");
    EXPECT_EQ(DebugLog::NumberItem(72), " 72 ");
    EXPECT_EQ(DebugLog::NumberItem(-5), "-5 ");

    QTemporaryDir dir;
    const QString path = BuildPath(dir.path(), "qrn_debug.log");
    DebugLog log;
    log.WriteDebugLine("before open");  // closed: nothing happens
    EXPECT_FALSE(QFile::exists(path));
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(log.Open(path, dir.path(), nullptr));
        log.WriteDebugLine("Stop");
        log.Close();
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromLocal8Bit(f.readAll());
    EXPECT_EQ(text.count("Activated ("), 2);
    EXPECT_EQ(text.count("Stop\r\n"), 2);
    EXPECT_FALSE(text.contains("before open"));
    const QRegularExpression line("^\\d\\d:\\d\\d:\\d\\d {20}Activated \\(", QRegularExpression::MultilineOption);
    EXPECT_TRUE(line.match(text).hasMatch()) << text.toStdString();

    QString why;
    EXPECT_FALSE(log.Open(BuildPath(dir.path(), "no/such/folder.log"), dir.path(), &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(log.IsOpen());
}
