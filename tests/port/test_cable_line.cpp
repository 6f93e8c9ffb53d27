// Two ports on the two ends of the virtual null-modem cable, each opened
// through the COM1 link in its own program folder.
#include "SerialCommPort.h"
#include "cable_process.h"
#include "port_test_util.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

constexpr PortEvent kReceive = PortEvent::Receive;
constexpr PortEvent kUnknown = PortEvent::Unknown;

struct Station {
    QTemporaryDir folder;
    SerialCommPort port{folder.path()};
    std::vector<PortEvent> events;
    QByteArray received;

    Station()
    {
        port.SetEventHandler([this] {
            events.push_back(port.LastEvent());
            if (port.LastEvent() == kReceive)
                received += port.Input();
        });
    }
    std::string Link() const { return folder.filePath("COM1").toStdString(); }
    bool Open(QString& why) { return port.SetCommPort(1, why) && port.SetSettings("115200,N,8,1", why) && port.SetPortOpen(true, why); }
};

class CableLineTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--link-a", a.Link(), "--link-b", b.Link()});
        ASSERT_TRUE(cable.start(VNULLMODEM_EXE, args)) << cable.error();
        QString why;
        ASSERT_TRUE(a.Open(why)) << why.toStdString();
        ASSERT_TRUE(b.Open(why)) << why.toStdString();
    }
    Station a, b;
    vnm::CableProcess cable;
};

TEST_F(CableLineTest, BlockAndAnswerAtLineSpeed)
{
    Start({"--baud", "115200"});
    const QByteArray block = Pattern(5153, 11);
    a.port.Output(block);
    ASSERT_TRUE(WaitUntil([&] { return b.received.size() >= block.size(); }, 10000)) << b.received.size();
    EXPECT_TRUE(b.received == block);

    const QByteArray answer("\x00\x05\x10\x00\x63\x0a", 6);
    b.port.Output(answer);
    ASSERT_TRUE(WaitUntil([&] { return a.received.size() >= answer.size(); }));
    EXPECT_EQ(a.received, answer);
    EXPECT_TRUE(std::all_of(a.events.begin(), a.events.end(), [](PortEvent e) { return e == kReceive; }));
    EXPECT_TRUE(std::all_of(b.events.begin(), b.events.end(), [](PortEvent e) { return e == kReceive; }));
}

TEST_F(CableLineTest, HangUpReachesOnlyThatEndOnceAndReopenWorks)
{
    Start({"--baud", "0", "--hangup-a-after", "100"});
    b.port.Output(Pattern(100));
    ASSERT_TRUE(WaitUntil([&] { return std::count(a.events.begin(), a.events.end(), kUnknown) > 0; }, 10000));
    EXPECT_EQ(a.received, Pattern(100));
    ASSERT_TRUE(cable.waitForRelink('A', std::chrono::seconds(5)));
    RunEventLoopFor(300);
    EXPECT_EQ(std::count(a.events.begin(), a.events.end(), kUnknown), 1);
    EXPECT_EQ(a.events.back(), kUnknown);
    EXPECT_TRUE(b.events.empty());

    // As after a broken transfer: close, open again through the repointed link.
    QString why;
    ASSERT_TRUE(a.port.SetPortOpen(false, why));
    ASSERT_TRUE(a.port.SetPortOpen(true, why)) << why.toStdString();
    a.received.clear();
    b.port.Output("again");
    ASSERT_TRUE(WaitUntil([&] { return a.received.size() >= 5; }));
    EXPECT_EQ(a.received, "again");
}

} // namespace
