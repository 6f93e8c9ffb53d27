// The protocol's rules with a time in them, on the test clock: each runs in
// milliseconds whatever the time it stands for.
#include "BlockCodes.h"
#include "Frame.h"
#include "HandBuiltBlocks.h"
#include "LineTimes.h"
#include "TestFiles.h"
#include "TransferFixture.h"
#include <set>

// On the test clock with a 115200 line's silence times: the run ends within
// the line's own time, and the test waits for none of it.
struct LostLine : TransferFixture, ::testing::WithParamInterface<bool> {
    void SetUp() override
    {
        if (GetParam())
            pair.Classic();
        tx.g.speed = rx.g.speed = 115200;
    }
};

TEST_P(LostLine, ElevenResendRequestsInARowEndWithErrorTen)
{
    WriteFile(Source("a.bin"), RandomBytes(3000, 3));
    int writes = 0;
    tx.port.lineFilter = [&writes](const QByteArray& w) {
        QByteArray out = w;
        if (++writes >= 2 && w.size() > 20)  // every data block arrives damaged
            out[20] = out[20] == 'q' ? 'r' : 'q';
        return out;
    };
    Listen();
    Send({"a.bin"});
    ASSERT_TRUE(WaitSenderDone());
    ASSERT_TRUE(WaitFor([&] { return !rx.port.PortOpen(); }));
    EXPECT_EQ(tx.ui.status2, "Exceeded nr-of-resents");
    EXPECT_TRUE(rx.ui.SawBoxContaining("ERROR from other side: Exceeded nr-of-resents"));
    if (GetParam()) {
        EXPECT_EQ(writes, 13);  // header, the block, ten resends, the error answer
    }
    EXPECT_FALSE(QFile::exists(rx.InReceivePath("a.bin")));
}

TEST_P(LostLine, AReceiverThatVanishesEndsTheSenderWithErrorTenWithinAMinute)
{
    WriteFile(Source("a.bin"), RandomBytes(200000, 8));
    qint64 since = -1;
    tx.port.lineFilter = [&](const QByteArray& w) {
        if (since < 0 && rx.s().FileReceivingPos > 20000) {
            rx.port.hold = true;  // gone: nothing more reaches it, nothing comes back
            since = TestClock().NowMs();
        }
        return w;
    };
    Listen();
    Send({"a.bin"});
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(tx.ui.status2, "Exceeded nr-of-resents");
    ASSERT_GE(since, 0);
    // Ten silences of at least two seconds each, no faster and not much slower.
    EXPECT_GT(TestClock().NowMs() - since, 20000);
    EXPECT_LT(TestClock().NowMs() - since, 45000);
}

// Each answer is lost the first time (header, data, file end, "END"): the
// Sender asks for it again after its silence and the run ends whole.
TEST_P(LostLine, EveryAnswerLostOnceIsAskedForAgain)
{
    const QByteArray content = RandomBytes(2000, 7);
    WriteFile(Source("a.bin"), content);
    std::set<QByteArray> answered;
    int lost = 0;
    rx.port.lineFilter = [&](const QByteArray& w) {
        if (!answered.insert(w).second)
            return w;
        ++lost;
        return QByteArray();
    };
    Listen();
    Send({"a.bin"});
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(tx.ui.status2, "Files sent: 1");
    EXPECT_EQ(ReadFile(rx.InReceivePath("a.bin")), content);
    EXPECT_GE(lost, 4);
}

// The silence times of the protocol's table, on the test clock: the Receiver
// gives up a block that lost its tail after 1000 ms + ten byte times; the
// Sender asks for a lost answer, then sends the block again.
struct SilenceTimes : TransferFixture, ::testing::WithParamInterface<std::tuple<int, qint64, qint64>> {};

TEST_P(SilenceTimes, FollowTheLine)
{
    const auto [speed, receiverRule, afterRequest] = GetParam();
    pair.Classic();
    tx.g.speed = rx.g.speed = speed;
    const QByteArray content = RandomBytes(6000, 5);
    WriteFile(Source("a.bin"), content);
    std::vector<std::pair<qint64, QByteArray>> sent, answered;
    tx.port.lineFilter = [&](const QByteArray& w) {
        sent.emplace_back(TestClock().NowMs(), w);
        return sent.size() == 2 ? w.left(w.size() - 5) : w;  // the first data block loses its tail
    };
    rx.port.lineFilter = [&](const QByteArray& w) {
        answered.emplace_back(TestClock().NowMs(), w);
        return answered.size() == 2 || answered.size() == 3 ? QByteArray() : w;  // two answers lost
    };
    Listen();
    Send({"a.bin"});
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(ReadFile(rx.InReceivePath("a.bin")), content);
    ASSERT_GE(sent.size(), 4u);
    ASSERT_GE(answered.size(), 2u);
    EXPECT_EQ(answered[1].first - sent[1].first, receiverRule);
    EXPECT_EQ(sent[2].second.size(), 11);  // ANSWER_RESEND_ANSWER, after the block's own silence
    EXPECT_EQ(sent[2].first - sent[1].first, LineMs(sent[1].second.size(), speed) + receiverRule + 1000);
    EXPECT_EQ(sent[3].second, sent[1].second);  // then the block again
    EXPECT_EQ(sent[3].first - sent[2].first, afterRequest);
}

INSTANTIATE_TEST_SUITE_P(Lines, SilenceTimes,
                         ::testing::Values(std::tuple{9600, 1011, 2023}, std::tuple{115200, 1001, 2002}),
                         [](const auto& p) { return std::to_string(std::get<0>(p.param)); });

INSTANTIATE_TEST_SUITE_P(Modes, LostLine, ::testing::Bool(),
                         [](const auto& p) { return std::string(p.param ? "Classic" : "Extended"); });

// Before the first answer the watchdog asks, 2 s plus the pause after the header.
TEST_F(TransferFixture, TheWatchdogAsksTwoSecondsAndThePauseAfterTheHeader)
{
    WriteFile(Source("a.bin"), "x");
    tx.g.waitBeforeSend = 30;
    qint64 headerAt = -1, askedAt = -1;
    tx.port.lineFilter = [&](const QByteArray& w) {
        if (headerAt < 0)
            headerAt = TestClock().NowMs();
        return w;
    };
    tx.ui.answers = {MsgAnswer::Cancel};
    tx.ui.onBox = [&](const RecordingUi::Box&) { askedAt = TestClock().NowMs(); };
    Send({"a.bin"});  // nobody listens
    ASSERT_TRUE(WaitFor([&] { return askedAt >= 0; }));
    EXPECT_EQ(askedAt - headerAt, 2030);
}

// A refusal that comes sooner after the Sender's last write than that write's
// line time answers bytes sent before it: the Sender ignores it and takes the
// answer behind it, sending nothing again.
TEST_F(TransferFixture, ARefusalSoonerThanTheLastWritesLineTimeIsIgnored)
{
    pair.Classic();
    tx.g.speed = rx.g.speed = 9600;  // the 2000-byte block takes 2 s on the line
    const QByteArray content = RandomBytes(2000, 4);
    WriteFile(Source("a.bin"), content);
    int answers = 0;
    rx.port.lineFilter = [&](const QByteArray& w) {
        if (++answers != 2)
            return w;
        bool escaped = false;
        QByteArray refusal = UnstuffAll(w, escaped);  // the answer to the data block, as a refusal
        refusal[1] = char(ANSWER_NOT_OK);
        return StuffForWrite(refusal) + w;
    };
    Listen();
    Send({"a.bin"});
    ASSERT_TRUE(WaitSenderDone());
    EXPECT_EQ(ReadFile(rx.InReceivePath("a.bin")), content);
    EXPECT_EQ(tx.port.writes, 4);  // header, the block, the empty block, "END": nothing twice
}

// The Sender vanished inside a file and a new one begins a run (numbered 1):
// right behind other bytes its header gets no answer; after the Receiver's
// silence time on a quiet line the file is left unfinished and the header taken.
TEST_F(TransferFixture, ANewRunInsideAFileBeginsOnlyAfterAQuietLine)
{
    pair.Classic();
    tx.g.speed = rx.g.speed = 115200;
    WriteFile(Source("big.bin"), RandomBytes(30000, 6));
    bool vanished = false;
    tx.port.lineFilter = [&](const QByteArray& w) {
        vanished = vanished || rx.s().FileReceivingPos > 10000;
        return vanished ? QByteArray() : w;  // nothing more of this Sender arrives
    };
    Listen();
    Send({"big.bin"});
    ASSERT_TRUE(WaitFor([&] { return vanished; }));
    const qint64 lastHeard = TestClock().NowMs();
    const int answers = rx.port.writes;
    const QByteArray header = StuffForWrite(DataBlock(BLOCK_HEADER, 1, "5|20240101120000|new.bin"));
    rx.port.InjectBytes(header);
    DeliverQueued();
    EXPECT_EQ(rx.port.writes, answers);  // no answer: the line was not quiet
    ASSERT_TRUE(WaitFor([&] { return TestClock().NowMs() - lastHeard >= 1001; }));
    rx.port.InjectBytes(header);
    ASSERT_TRUE(WaitFor([&] { return rx.port.writes == answers + 1; }));
    EXPECT_TRUE(rx.ui.status2History.join('|').contains("'big.bin' was left unfinished at byte "));
    EXPECT_EQ(rx.station->Receiver().Run().file.name, "new.bin");
    EXPECT_TRUE(QFile::exists(rx.InReceivePath("_big.bin.tmp")));
}

// Extended mode: the silence counts the line time of every block in flight.
TEST_F(TransferFixture, TheExtendedSilenceCountsTheLineTimeOfTheBlocksInFlight)
{
    tx.g.speed = rx.g.speed = 115200;
    WriteFile(Source("a.bin"), RandomBytes(20000, 8));
    std::vector<std::pair<qint64, QByteArray>> sent;
    tx.port.lineFilter = [&](const QByteArray& w) {
        sent.emplace_back(TestClock().NowMs(), w);
        return w;
    };
    int answers = 0;
    rx.port.lineFilter = [&](const QByteArray& w) { return ++answers == 1 ? w : QByteArray(); };  // the acceptance only
    Listen();
    Send({"a.bin"});
    ASSERT_TRUE(WaitFor([&] { return !sent.empty() && sent.back().second.size() == 11; }));
    ASSERT_GT(sent.size(), 3u);  // the header, several blocks, the request
    qint64 inFlight = 0;
    for (size_t i = 1; i + 1 < sent.size(); ++i)
        inFlight += sent[i].second.size();
    EXPECT_EQ(sent.back().first - sent[sent.size() - 2].first, LineMs(inFlight, 115200) + 1001 + 1000);
}
