// The port number bound to a device, and a failed USB adapter found again.
#include "SerialPortFixture.h"

namespace {

TEST_F(SerialPortTest, BindingPointsANumberAtADeviceButSparesAPlainFile)
{
    QString why;
    ASSERT_TRUE(port.BindDevice(3, "/dev/null", why)) << why.toStdString();
    ASSERT_TRUE(port.BindDevice(3, pty.slave, why)) << why.toStdString();  // replaces the link
    EXPECT_EQ(QFileInfo(folder.filePath("COM3")).symLinkTarget(), pty.slave);

    QFile plain(folder.filePath("COM4"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly) && plain.write("mine") == 4);
    plain.close();
    EXPECT_FALSE(port.BindDevice(4, pty.slave, why));
    EXPECT_TRUE(why.contains("not a link")) << why.toStdString();
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
    EXPECT_EQ(plain.readAll(), "mine");

    // The bound number opens that device; a pty has no low-latency mode and that is no failure.
    ASSERT_TRUE(port.SetCommPort(3, why));
    Open();
    EXPECT_EQ(port.OpenNote(), "Low-latency mode: not offered by this device");
    ASSERT_TRUE(pty.Write("via COM3"));
    EXPECT_TRUE(WaitUntil([&] { return received == "via COM3"; }));
}

TEST_F(SerialPortTest, AFailedAdapterIsFoundAgainByItsSerialNumberUnderAnotherName)
{
    Pty back;  // where it comes back
    QList<SerialPortEntry> listed{{pty.slave, {}, {}, "0403:6001", "A10K3Z"}};
    port.listPorts = [&] { return listed; };
    Open();
    EXPECT_EQ(port.Identity(), folder.filePath("COM1") + " (serial A10K3Z)");
    pty.HangUp();
    ASSERT_TRUE(WaitUntil([&] { return Count(kUnknown) == 1; }));
    QString why;
    port.SetPortOpen(false, why);

    // Its old name now belongs to another adapter, and it is not back yet.
    listed = {{pty.slave, {}, {}, "0403:6001", "B77"}};
    EXPECT_FALSE(port.Reopen(why));
    EXPECT_EQ(why, "no serial port with the serial number A10K3Z");
    EXPECT_FALSE(port.PortOpen());

    listed << SerialPortEntry{back.slave, {}, {}, "0403:6001", "A10K3Z"};
    ASSERT_TRUE(port.Reopen(why)) << why.toStdString();
    EXPECT_EQ(port.Identity(), back.slave + " (serial A10K3Z)");
    ASSERT_TRUE(back.Write("hello"));
    ASSERT_TRUE(WaitUntil([&] { return received == "hello"; }));

    // A new activation opens what the number says again.
    port.SetPortOpen(false, why);
    ASSERT_TRUE(QFile::remove(folder.filePath("COM1")));
    ASSERT_TRUE(QFile::link(folder.filePath("gone"), folder.filePath("COM1")));
    ASSERT_TRUE(port.SetCommPort(1, why));
    EXPECT_FALSE(port.SetPortOpen(true, why));
}

}  // namespace
