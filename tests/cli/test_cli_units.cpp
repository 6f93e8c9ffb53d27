// The console front end's own parts: the command line, the console user
// interface (boxes, answers, status texts, progress line).
#include "CliOptions.h"
#include "ConsoleUi.h"
#include "SerialCommPort.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Readable failures for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

QString Touch(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    return QFileInfo(path).absoluteFilePath();
}

struct Files : ::testing::Test {
    QTemporaryDir dir;
    QString a, b, other;
    void SetUp() override
    {
        a = Touch(dir.filePath("a.bin"));
        b = Touch(dir.filePath("b c.txt"));
        QDir(dir.path()).mkdir("sub");
        other = Touch(dir.filePath("sub/o.txt"));
    }
};

TEST_F(Files, SendAndReceiveTakeEveryOptionInAnyOrder)
{
    const CliParseResult s = ParseCommandLine({"send", a, "--port", "/dev/ttyUSB3", "--speed=9600", "--wait-ms", "0",
                                               "--log", "rel.log", "--log-level", "2", "--retries", "0",
                                               "--progress", "-v", "--classic", "--no-compress", "--", b});
    ASSERT_TRUE(s.Ok()) << s.error.toStdString();
    const CliOptions& o = s.options;
    EXPECT_TRUE(o.IsSender());
    EXPECT_EQ(o.device, "/dev/ttyUSB3");
    EXPECT_EQ(o.speed, 9600);
    EXPECT_EQ(o.waitMs, 0);
    EXPECT_EQ(o.logFile, QDir::current().absoluteFilePath("rel.log"));
    EXPECT_EQ(o.logLevel, 2);
    EXPECT_EQ(o.retries, 0);
    EXPECT_TRUE(o.progress && o.verbose && !o.restart);
    EXPECT_TRUE(o.classic && !o.compress);
    EXPECT_EQ(o.files, QStringList({a, b}));
    // Several files: the folder, then the names, NUL separated.
    EXPECT_EQ(o.FileDialogResult(), dir.path() + QChar(0) + "a.bin" + QChar(0) + "b c.txt");

    const CliParseResult r = ParseCommandLine({"--com", "3", "receive", "--once", "--delete-temp",
                                               "--reopen-timeout", "5", "in/../in2"});
    ASSERT_TRUE(r.Ok()) << r.error.toStdString();
    EXPECT_EQ(r.options.CommandName(), "receive");
    EXPECT_EQ(r.options.comPort, 3);
    EXPECT_TRUE(r.options.device.isEmpty());
    EXPECT_TRUE(r.options.once && r.options.deleteTemp);
    EXPECT_TRUE(!r.options.classic && r.options.compress);
    EXPECT_EQ(r.options.reopenTimeoutMs, 5000);
    EXPECT_EQ(r.options.receiveDir, QDir::current().absoluteFilePath("in2"));

    const CliOptions d = ParseCommandLine({"receive", "x"}).options;
    EXPECT_EQ(d.comPort, 1);
    EXPECT_EQ(d.speed, 115200);
    EXPECT_EQ(d.waitMs, 2);
    EXPECT_FALSE(d.once || d.deleteTemp || d.progress);
    EXPECT_EQ(d.reopenTimeoutMs, 60000);
}

TEST_F(Files, RestartTakesOneFileGivenAsItsFullPath)
{
    const CliParseResult s = ParseCommandLine({"send", "--restart", b});
    ASSERT_TRUE(s.Ok()) << s.error.toStdString();
    EXPECT_TRUE(s.options.restart);
    EXPECT_EQ(s.options.FileDialogResult(), b);
    EXPECT_FALSE(ParseCommandLine({"send", "--restart", a, b}).Ok());
    // A file that went inside a folder keeps that folder below --from.
    const CliParseResult f = ParseCommandLine({"send", "--restart", "--from", dir.path(), other});
    ASSERT_TRUE(f.Ok()) << f.error.toStdString();
    EXPECT_EQ(f.options.FileDialogResult(), dir.path() + QChar(0) + "sub/o.txt");
}

TEST_F(Files, BadUsageSaysWhat)
{
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{}, "no command"},
        {{"copy", a}, "unknown command 'copy'"},
        {{"send"}, "at least one FILE"},
        {{"send", dir.filePath("missing")}, "no such file"},
        {{"send", "--restart", dir.path()}, "is not a file"},
        {{"send", "/dev/null"}, "is not a file or folder"},
        {{"send", "--from", dir.path(), a}, "--from goes with --restart only"},
        {{"send", "--restart", "--from", dir.filePath("sub"), a}, "is not inside the folder given with --from"},
        {{"send", a, other}, "one folder"},
        {{"send", "--bogus", a}, "unknown option '--bogus'"},
        {{"send", a, "--speed"}, "Missing value after '--speed'"},
        {{"send", a, "--speed", "fast"}, "--speed wants a whole number"},
        {{"send", a, "--speed", "0"}, "--speed wants a whole number"},
        {{"send", a, "--com", "-1"}, "--com wants a whole number"},
        {{"send", a, "--com", "40000"}, "--com wants a whole number"},
        {{"send", a, "--progress=yes"}, "Unexpected value after '--progress'"},
        {{"send", a, "--classic=0"}, "Unexpected value after '--classic'"},
        {{"ports", "--no-compress"}, "--no-compress is an option of send and receive only"},
        {{"send", a, "--port", "/dev/x", "--com", "2"}, "not both"},
        {{"send", a, "--log-level", "1"}, "--log-level needs --log"},
        {{"send", a, "--once"}, "--once is an option of receive only"},
        {{"receive", "d", "--restart"}, "--restart is an option of send only"},
        {{"receive", "d", "--retries", "1"}, "option of send only"},
        {{"receive"}, "receive wants the folder"},
        {{"receive", "d", "e"}, "one DIR"},
        {{"receive", "d", "--keep-temp", "--delete-temp"}, "not both"},
        {{"send", a, "--stdio", "--port", "/dev/x"}, "not both"},
    };
    for (const auto& [args, part] : cases) {
        const CliParseResult r = ParseCommandLine(args);
        EXPECT_FALSE(r.Ok()) << args.join(' ').toStdString();
        EXPECT_TRUE(r.error.contains(part)) << args.join(' ').toStdString() << " -> " << r.error.toStdString();
    }
}

TEST(CliOptionsTest, HelpAndVersionWinOverEverythingElse)
{
    EXPECT_TRUE(ParseCommandLine({"send", "--bogus", "--help"}).options.help);
    EXPECT_TRUE(ParseCommandLine({"-h"}).options.help);
    EXPECT_TRUE(ParseCommandLine({"receive", "-V"}).options.version);
    // After "--" it is a file name.
    EXPECT_FALSE(ParseCommandLine({"send", "--", "--help"}).options.help);
}

// ---- console user interface ----

struct Console : ::testing::Test {
    QString out;
    ConsoleUi ui{[this](const QString& t) { out += t; }};
};

TEST_F(Console, QuestionsAreAnsweredByOptionsAndSaidInTheConsolesOwnWords)
{
    ui.okRetries = 2;
    const QString noListener = "There seems no Velotrax-listener at other side activated;\r\nactivate listener";
    std::vector<bool> replies;
    const auto record = [&](bool yes) { replies.push_back(yes); };
    for (int i = 0; i < 3; ++i)
        ui.Ask(Question::NoListener, noListener, record);
    EXPECT_EQ(replies, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(out, "velotrax-cli: no receiver answers; sending again, up to 2 times (--retries)\n"
                   "velotrax-cli: still no receiver; sending again (2 of 2)\n"
                   "velotrax-cli: still no receiver after 2 tries; giving up\n");

    out.clear();
    replies.clear();
    const QString question = "Delete tempfile '/in/_x.tmp' ?\r\n(Note: this file is needed if you want to use 'restart a file.'";
    ui.Ask(Question::DeleteTempFile, question, record);
    ui.deleteTemp = true;
    ui.Ask(Question::DeleteTempFile, question, record);
    EXPECT_EQ(replies, (std::vector<bool>{false, true}));
    ui.Alert("ERROR from other side: Comport error!", MsgIcon::Critical);
    // The resend table is for whoever studies the line: with -v only.
    ui.Alert("Resend-reasons:\r\nbyte 1 not A/H: 1", MsgIcon::Information);
    EXPECT_EQ(out, "velotrax-cli: the temp file '/in/_x.tmp' is kept for send --restart (--delete-temp deletes it)\n"
                   "velotrax-cli: deleting the temp file '/in/_x.tmp' (--delete-temp)\n"
                   "ERROR from other side: Comport error!\n");
    ui.verbose = true;
    ui.Alert("Resend-reasons:\r\nbyte 1 not A/H: 1", MsgIcon::Information);
    EXPECT_TRUE(out.endsWith("Resend-reasons:\nbyte 1 not A/H: 1\n"));
}

TEST_F(Console, ResultTextsArePrintedButByteCountsAndActivityOnlyWhenVerbose)
{
    ui.SetStatus1("sending a.bin...");
    ui.SetStatus2("bytes: 2560 of 3000");
    ui.SetStatus2("");
    ui.SetStatus2("Files sent: 1");
    EXPECT_EQ(out, "Files sent: 1\n");
    EXPECT_EQ(ui.Status1(), "sending a.bin...");

    out.clear();
    ui.verbose = true;
    ui.SetStatus1("listening ...");
    ui.SetStatus1("listening ...");
    ui.SetStatus1("Status: Not active");
    EXPECT_EQ(out, "listening ...\nStatus: Not active\n");

    out.clear();
    ui.crlf = true;
    ui.Note("a\nb");
    EXPECT_EQ(out, "a\r\nb\r\n");
}

TEST(ProgressText, FormatsPercentRateAndTimeLeft)
{
    EXPECT_EQ(FormatProgressLine("a.bin", 2376, 5678, 11200), "a.bin   41%  2376/5678 bytes  11.2 kB/s  0:01 left");
    EXPECT_EQ(FormatProgressLine("a.bin", 0, 5678, -1), "a.bin    0%  0/5678 bytes  -- B/s  -:-- left");
    EXPECT_EQ(FormatProgressLine("e", 0, 0, -1), "e  100%  0/0 bytes  -- B/s  0:00 left");
    EXPECT_EQ(FormatProgressLine("big", 1, 3000000001LL, 11520), "big    0%  1/3000000001 bytes  11.5 kB/s  72:20:17 left");

    EXPECT_EQ(FormatRate(999.9), "999 B/s");
    EXPECT_EQ(FormatRate(1000), "1.0 kB/s");
    EXPECT_EQ(FormatRate(2500000), "2.5 MB/s");
    EXPECT_EQ(FormatDuration(0.2), "0:01");
    EXPECT_EQ(FormatDuration(59), "0:59");
    EXPECT_EQ(FormatDuration(3600), "1:00:00");
    EXPECT_EQ(FormatDuration(400000), "-:--");
}

struct ProgressConsole : Console {
    FileProgress p;
    void SetUp() override
    {
        ui.showProgress = true;
        ui.drawIntervalMs = 1000000;  // every redraw after the first falls within it
        ui.progressSource = [this] { return p; };
    }
    QStringList Lines() const { return out.split('\n'); }
};

TEST_F(ProgressConsole, OneLineAtTheStartThenThrottledThenTheFinishedLine)
{
    p = {true, "a.bin", 0, 6000, 0};
    ui.SetProgress(0);
    for (int done = 2560; done <= 6000; done += 2560) {
        p.done = done;
        ui.SetProgress(0);  // within the throttle time: not drawn
    }
    p = {false, {}, 0, 0, 1};  // the file is complete
    ui.SetStatus2("Files received: 1");
    const QStringList lines = Lines();
    ASSERT_EQ(lines.size(), 4) << out.toStdString();
    EXPECT_EQ(lines[0], "a.bin    0%  0/6000 bytes  -- B/s  -:-- left");
    EXPECT_TRUE(lines[1].startsWith("a.bin  100%  6000/6000 bytes  ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith("  0:00 left"));
    EXPECT_EQ(lines[2], "Files received: 1");

    // The next file starts a line of its own at once.
    out.clear();
    p = {true, "b.bin", 0, 10, 1};
    ui.SetProgress(0);
    EXPECT_EQ(out, "b.bin    0%  0/10 bytes  -- B/s  -:-- left\n");
}

TEST_F(ProgressConsole, OnATerminalTheLineIsRedrawnInPlaceAndEndedBeforeMessages)
{
    ConsoleUi tty([this](const QString& t) { out += t; }, true);
    tty.showProgress = true;
    tty.progressSource = [this] { return p; };
    p = {true, "a.bin", 2560, 6000, 0};
    tty.SetProgress(0);
    EXPECT_EQ(out, "\ra.bin   42%  2560/6000 bytes  -- B/s  -:-- left\x1b[K");
    out.clear();
    // A file that broke off keeps its last line; the message starts on a new one.
    p = {false, {}, 0, 0, 0};
    tty.SetStatus2("other side pressed Stop");
    EXPECT_EQ(out, "\nother side pressed Stop\n");

    out.clear();
    ui.showProgress = false;
    p = {true, "a.bin", 0, 6000, 0};
    ui.SetProgress(0);
    EXPECT_TRUE(out.isEmpty());
}

TEST(SerialCommPortDevice, AnExplicitDeviceReplacesTheNumbersMapping)
{
    QTemporaryDir dir;
    QFile::link("/dev/null", dir.filePath("dev-link"));
    SerialCommPort port(dir.path());
    EXPECT_EQ(port.DevicePath(2), "/dev/ttyS1");
    port.SetDevicePath(dir.filePath("dev-link"));
    EXPECT_EQ(port.DevicePath(2), dir.filePath("dev-link"));
    EXPECT_EQ(port.DevicePath(7), dir.filePath("dev-link"));
    EXPECT_EQ(port.DeviceDescription(1), dir.filePath("dev-link") + " -> /dev/null");
    port.SetDevicePath({});
    EXPECT_EQ(port.DevicePath(2), "/dev/ttyS1");
}

}  // namespace
