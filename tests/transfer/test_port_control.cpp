#include <QCoreApplication>
#include "StationHarness.h"
#include "TestFiles.h"
#include <gtest/gtest.h>

namespace {
struct PortControlFixture : ::testing::Test {
    StationHarness h{true};
    bool Open() { return h.station->OpenPort(); }
};
}  // namespace

TEST_F(PortControlFixture, EachFailingStepSaysWhyAndLeavesThePortClosed)
{
    h.g.speed = 115200;
    h.port.failSettingsWith = "Invalid baud rate";
    EXPECT_FALSE(Open());
    h.port.failSettingsWith.clear();
    h.g.comPort = 0;
    EXPECT_FALSE(Open());
    h.g.comPort = 70000;  // beyond 16 bits
    EXPECT_FALSE(Open());
    h.g.comPort = 1;
    h.port.failBufferWith = "not binary";
    EXPECT_FALSE(Open());
    h.port.failBufferWith.clear();
    h.port.failOpenWith = "Device or resource busy";
    EXPECT_FALSE(Open());
    EXPECT_FALSE(h.port.PortOpen());
    EXPECT_EQ(h.ui.BoxTexts(), (QStringList{"Error settings: Invalid baud rate", "Error setting the portnumber: Invalid port number",
                                            "Error setting the portnumber: Overflow", "Error setting mode to binary: not binary",
                                            "Error opening the port: Device or resource busy"}));
    for (const auto& box : h.ui.boxes)
        EXPECT_EQ(box.icon, MsgIcon::Critical);

    h.port.failOpenWith.clear();
    ASSERT_TRUE(Open());
    EXPECT_EQ(h.port.settings, "115200,N,8,1");
    EXPECT_EQ(h.ui.status1, "Status: Active");
    EXPECT_TRUE(h.ui.portOpenSeen);
}

TEST_F(PortControlFixture, DebugLogLivesExactlyAsLongAsTheActivation)
{
    h.g.debugFlag = true;
    h.g.debugFile = BuildPath(h.dir.path(), "missing/folder/log.txt");
    EXPECT_FALSE(Open());
    EXPECT_FALSE(h.port.PortOpen());  // nothing wrong with the port, still not opened
    ASSERT_EQ(h.ui.boxes.size(), 1u);
    EXPECT_TRUE(h.ui.boxes[0].text.startsWith("Error creating debugfile: '" + h.g.debugFile + "'; "));

    h.g.debugFile = BuildPath(h.dir.path(), "log.txt");
    h.port.failOpenWith = "busy";
    EXPECT_FALSE(Open());
    EXPECT_FALSE(h.station->DebugLogOpen());
    h.port.failOpenWith.clear();
    ASSERT_TRUE(Open());
    QCoreApplication::processEvents();  // port events wait while the boxes above close
    h.port.InjectEvent(PortEvent::Receive);  // nothing waiting: only its line
    h.station->ClosePort();
    h.station->ClosePort();  // closing twice is harmless
    EXPECT_FALSE(h.station->DebugLogOpen());
    const QString log = QString::fromLocal8Bit(ReadFile(h.g.debugFile));
    EXPECT_EQ(log.count("Activated ("), 2);
    EXPECT_TRUE(log.contains("Error opening the port\r\n"));
    EXPECT_TRUE(log.contains("Event comEvReceive, MSComm1.InBufferCount=0\r\n"));
    EXPECT_EQ(log.count("Stop\r\n"), 1);  // the failed activation ended without one
    EXPECT_EQ(h.ui.status1, "Status: Not active");

    h.g.debugFlag = false;
    QFile::remove(h.g.debugFile);
    ASSERT_TRUE(Open());
    h.station->ClosePort();
    EXPECT_FALSE(QFile::exists(h.g.debugFile));  // switched off: no file at all
}

TEST_F(PortControlFixture, ClosingAClosedPortStillResetsEverything)
{
    h.station->Sender().RunForTesting().fileIndex = 5;
    h.ui.status1 = "something";
    const int refreshes = h.ui.updateControlsCalls;
    h.station->ClosePort();
    EXPECT_EQ(h.station->Sender().Run().fileIndex, 0);
    EXPECT_EQ(h.s().gather.receiveBufExpected, 1);
    EXPECT_EQ(h.ui.status1, "Status: Not active");
    EXPECT_EQ(h.ui.updateControlsCalls, refreshes + 1);
    EXPECT_FALSE(h.station->WatchdogActive());
}

TEST_F(PortControlFixture, AnErrorEventIsReportedOnceEvenWithReceivesAfterIt)
{
    h.station->Activate(false);
    ASSERT_TRUE(h.port.PortOpen());
    h.port.InjectEvent(PortEvent::Break);
    h.port.InjectBytes("late bytes");
    QCoreApplication::processEvents();
    EXPECT_EQ(h.ui.BoxTexts(), QStringList{"COMPORT-ERROR: Break Received"});
    EXPECT_EQ(h.ui.status2, "Comport error!");
    EXPECT_EQ(h.s().countCommErr, 0);  // counted, then reset by the stop
}
