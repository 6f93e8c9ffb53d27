// Every way a run ends reaches the user interface as one typed outcome, on both sides.
#include "StationHarness.h"
#include "TestFiles.h"
#include <gtest/gtest.h>
#include <ostream>

inline void PrintTo(const RunOutcome& o, std::ostream* os)
{
    *os << "{kind " << int(o.kind) << ", files " << o.files << ", error " << o.errorNr << ", by "
        << (o.raisedBy == RunOutcome::Side::Here ? "here" : "other") << '}';
}

namespace {
using Kind = RunOutcome::Kind;
using Side = RunOutcome::Side;
using Outcomes = std::vector<RunOutcome>;

struct OutcomeFixture : ::testing::Test {
    StationPair pair;
    QTemporaryDir sendDir;
    StationHarness& tx = pair.sender;
    StationHarness& rx = pair.receiver;

    void SetUp() override
    {
        WriteFile(BuildPath(sendDir.path(), "a.bin"), RandomBytes(9000, 3));
        WriteFile(BuildPath(sendDir.path(), "b.bin"), "b");
    }
    void Send(const QString& dialogResult, bool restart = false)
    {
        tx.ui.nextDialogResult = dialogResult;
        tx.station->Activate(restart);
    }
    bool SenderEnded() { return WaitFor([&] { return !tx.port.PortOpen(); }); }
};
}  // namespace

TEST_F(OutcomeFixture, FilesDoneThenStoppedByEachSide)
{
    rx.station->Activate(false);
    Send(sendDir.path() + QChar(0) + "a.bin" + QChar(0) + "b.bin");
    ASSERT_TRUE(SenderEnded());
    EXPECT_EQ(tx.ui.outcomes, Outcomes{RunOutcome::Done(2)});
    EXPECT_EQ(rx.ui.outcomes, Outcomes{RunOutcome::Done(2)});

    // Stop pressed on the sender inside a file.
    tx.ui.outcomes.clear();
    rx.ui.outcomes.clear();
    tx.port.hold = true;
    Send(BuildPath(sendDir.path(), "a.bin"));
    ASSERT_TRUE(WaitFor([&] { return !tx.port.held.isEmpty(); }));
    tx.station->StopByUser();
    ASSERT_TRUE(WaitFor([&] { return !rx.ui.outcomes.empty(); }));
    EXPECT_EQ(tx.ui.outcomes, Outcomes{RunOutcome::StoppedBy(Side::Here)});
    EXPECT_EQ(rx.ui.outcomes, Outcomes{RunOutcome::StoppedBy(Side::Other)});

    // Stop pressed on the receiver.
    tx.ui.outcomes.clear();
    rx.ui.outcomes.clear();
    tx.port.hold = false;
    tx.port.held.clear();
    rx.port.hold = true;
    Send(BuildPath(sendDir.path(), "a.bin"));
    ASSERT_TRUE(WaitFor([&] { return !rx.port.held.isEmpty(); }));
    rx.station->StopByUser();
    ASSERT_TRUE(SenderEnded());
    EXPECT_EQ(rx.ui.outcomes, Outcomes{RunOutcome::StoppedBy(Side::Here)});
    EXPECT_EQ(tx.ui.outcomes, Outcomes{RunOutcome::StoppedBy(Side::Other)});
}

TEST_F(OutcomeFixture, ANumberedErrorSaysWhichSideRaisedIt)
{
    rx.station->Activate(false);
    Send(BuildPath(sendDir.path(), "a.bin"), true);  // no temp file to continue: error 12 on the receiver
    ASSERT_TRUE(SenderEnded());
    EXPECT_EQ(rx.ui.outcomes, Outcomes{RunOutcome::Failed(12, Side::Here)});
    EXPECT_EQ(tx.ui.outcomes, Outcomes{RunOutcome::Failed(12, Side::Other)});
}

TEST_F(OutcomeFixture, RunsThatNeverGetGoingOrFindNoListener)
{
    tx.ui.answers = {MsgAnswer::Cancel};
    Send(BuildPath(sendDir.path(), "b.bin"));  // nobody listens
    tx.station->Sender().WatchdogTick();
    DeliverQueued();
    EXPECT_EQ(tx.ui.outcomes, Outcomes{RunOutcome::Of(Kind::NoListener)});
    EXPECT_FALSE(tx.port.PortOpen());

    tx.ui.outcomes.clear();
    Send({});  // the file choice cancelled
    tx.port.failOpenWith = "Device busy";
    Send(BuildPath(sendDir.path(), "b.bin"));
    EXPECT_EQ(tx.ui.outcomes, (Outcomes{RunOutcome::Of(Kind::Refused), RunOutcome::Of(Kind::PortFailed)}));

    rx.ui.receivePathText = BuildPath(rx.dir.path(), "absent");
    rx.station->Activate(false);
    EXPECT_EQ(rx.ui.outcomes, Outcomes{RunOutcome::Of(Kind::Refused)});
}
