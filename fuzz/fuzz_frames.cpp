// Any bytes, in any chunks, into the frame receiver and the acceptance of either role.
#include "BlockAcceptance.h"
#include "DebugLog.h"
#include "MemoryCommPort.h"
#include "Negotiation.h"
#include <fuzzer/FuzzedDataProvider.h>

namespace {
// Stands in for the station: a handed-over block or an error ends with the frame reset.
struct ResettingHooks : AcceptanceHooks {
    BlockAcceptance* acceptance = nullptr;
    TransferState* s = nullptr;
    void ReportLocalError(qint32) override { acceptance->FrameReset(); }
    void ReportRemoteError(qint32) override { acceptance->FrameReset(); }
    void ShowCritical(const QString&) override {}
    void HandOverToReceiver(const Block& b) override
    {
        // A good data block lies inside what was gathered, with its stated length.
        const GatherState& gs = s->gather;
        if (!b.IsData() || b.payload.size() != b.length || b.bytes.size() != gs.receiveBufCount
            || b.bytes.data() != gs.receiveBuf.constData())
            __builtin_trap();
        s->lastSequenceNr = b.sequenceNrA;
        acceptance->FrameReset();
    }
    void HandOverToSender(const Block&) override { acceptance->FrameReset(); }
    void ReceiverGotStop() override { acceptance->FrameReset(); }
    bool ReceiverTakesOutOfTurn(const Block&) override { return false; }
    void ReceiverRefusesExtended(qint32) override { acceptance->FrameReset(); }
    bool awaitsLostBlock = false;
    bool ReceiverAfterExtended() const override { return false; }
    bool ReceiverAwaitsLostBlock() const override { return awaitsLostBlock; }
    void ReceiverTookGoodBlock() override { awaitsLostBlock = false; }
    AnnouncedFile file;
    const AnnouncedFile& ReceiverFile() const override { return file; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The codec alone, on the raw input as one block.
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto b = ParseDataBlock(raw); b && b->bytes.size() != DataBlockSize(b->length))
        __builtin_trap();
    ParseAnswerBlock(raw);

    FuzzedDataProvider in(data, size);
    SessionConfig g;
    g.role = in.ConsumeBool() ? Role::Receiver : Role::Sender;
    g.waitBeforeSend = 0;
    TransferState s;
    ResetTransferState(s);
    s.stage = Stage(in.ConsumeIntegralInRange<int>(0, int(Stage::Ending)));
    s.lastSequenceNr = in.ConsumeIntegralInRange<qint32>(-1, 3);
    const bool awaitsLostBlock = in.ConsumeBool();
    // The extended data phase: CRC-32, blocks up to 32767 bytes, cut-short blocks.
    if (in.ConsumeBool())
        s.caps = Negotiation::ReadAcceptance(Negotiation::AcceptanceValue(3, Negotiation::kLargestPayload));
    MemoryCommPort port;
    QString why;
    port.SetPortOpen(true, why);
    DebugLog log;
    FrameTransmitter tx(g, s, port, log);
    ResettingHooks hooks;
    hooks.awaitsLostBlock = awaitsLostBlock;
    // Members bind to each other as in a station.
    struct Receiving {
        BlockAcceptance acceptance;
        FrameReceiver rx;
    } r{{g, s, port, log, tx, r.rx, hooks}, {g, s, port, log, r.acceptance}};
    hooks.acceptance = &r.acceptance;
    hooks.s = &s;

    while (in.remaining_bytes() > 0) {
        const size_t n = in.ConsumeIntegralInRange<size_t>(1, 300);
        const std::string chunk = in.ConsumeBytesAsString(n);
        r.rx.HandleReceivedBytes(QByteArray(chunk.data(), qsizetype(chunk.size())));
        const GatherState& gs = s.gather;
        if (gs.receiveBufCount < 0 || gs.receiveBufCount > s.caps.ReceiveBufferSize()
            || gs.receiveBufExpected < 1)
            __builtin_trap();
        if (in.ConsumeIntegralInRange<int>(0, 15) == 0)
            r.acceptance.IncompleteBlockTimedOut();
    }
    return 0;
}
